#pragma once
// The kernel services of the simulated device:
//   KernelIoControl IOCTL_HAL_GET_UUID, IOCTL_HAL_GET_DEVICE_INFO with
//   kOsVersionSelector and IOCTL_HAL_REBOOT of the device protocol;
//   SystemParametersInfoW SPI_GETPLATFORMTYPE and SPI_GETOEMINFO (uiParam: the
//   buffer's size in characters);
//   GetSystemPowerStatusEx from the simulated battery;
//   SetSystemPowerState: a forced suspend is recorded in the power log and the
//   device sleeps (the screen stays dark) until it is woken.
// Switched off as the driver "KERNEL", every one of them fails with
// ERROR_NOT_SUPPORTED.

#include <platform/protocol/device_protocol.h>
#include <platform/system/stream_device.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace hh::sim {

using protocol::IOCTL_HAL_GET_DEVICE_INFO;
using protocol::IOCTL_HAL_GET_UUID;
using protocol::IOCTL_HAL_REBOOT;
using protocol::kOsVersionSelector;

/// The simulated battery.
struct Battery {
    int percent = 87; ///< 0 to 100
    bool charging = false;
    bool ac = false;
    bool absent = false;
    friend bool operator==(const Battery&, const Battery&) = default;
};
/// The stored battery; nothing, with the last error set, when the device
/// state cannot be read.
std::optional<Battery> ReadBattery();
/// Stores every part of the battery.
bool StoreBattery(const Battery& battery);
/// The parts of the battery a change names; the others stay as stored.
struct BatteryChange {
    std::optional<int> percent; ///< 0 to 100
    std::optional<bool> charging, ac, absent;
};
/// Stores the named parts in one transaction; false with
/// ERROR_INVALID_PARAMETER for a percent outside 0 to 100.
bool ChangeBattery(const BatteryChange& change);
/// The power status the platform reports for a battery.
sys::SystemPowerStatusEx PowerStatusOf(const Battery& battery);

std::optional<std::vector<uint8_t>> DeviceUuid();
bool StoreDeviceUuid(const std::vector<uint8_t>& uuid);

/// The three texts of the device ("platform", "oem", "os"); UTF-8.
std::optional<std::string> DeviceText(const std::string& which);
bool StoreDeviceText(const std::string& which, const std::string& text);

std::optional<bool> DeviceSuspended();
/// Suspends (recorded with its time) or wakes the device.
bool SetDeviceSuspended(bool suspended);

/// What a restart request does (the power driver's restart and program end);
/// false, with the last error set, when the restart could not happen.
using RestartAction = std::function<bool()>;

class SimulatedKernel : public sys::KernelServices {
public:
    explicit SimulatedKernel(RestartAction restart);
    bool kernelIoControl(uint32_t code, std::span<const std::byte> in, std::span<std::byte> out,
                         uint32_t* bytesReturned) override;
    bool systemParametersInfo(uint32_t action, uint32_t uiParam, void* pvParam,
                              uint32_t winIni) override;
    bool powerStatus(sys::SystemPowerStatusEx& status, bool update) override;
    uint32_t setSystemPowerState(const char16_t* state, uint32_t stateFlags,
                                 uint32_t options) override;

private:
    RestartAction m_restart;
};

} // namespace hh::sim
