#pragma once
// The kernel's requests and system services over a Linux machine.

#include <platform/system/stream_device.h>

namespace hh::hw {

class LinuxKernel : public sys::KernelServices {
public:
    bool kernelIoControl(uint32_t code, std::span<const std::byte> in, std::span<std::byte> out,
                         uint32_t* bytesReturned) override;
    bool systemParametersInfo(uint32_t action, uint32_t uiParam, void* pvParam,
                              uint32_t winIni) override;
    bool powerStatus(sys::SystemPowerStatusEx& status, bool update) override;
    uint32_t setSystemPowerState(const char16_t* state, uint32_t stateFlags,
                                 uint32_t options) override;
};

} // namespace hh::hw
