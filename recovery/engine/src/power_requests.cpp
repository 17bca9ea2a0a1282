#include <platform/system/stream_device.h>
#include <recovery/engine/power_requests.h>

#include <cstddef>
#include <memory>
#include <span>

namespace recovery {

namespace sys = hh::sys;

namespace {

std::unique_ptr<sys::StreamDevice> OpenPower() {
    return sys::OpenStreamDevice(hh::protocol::kPowerDevice, sys::GENERIC_READ | sys::GENERIC_WRITE,
                                 sys::FILE_SHARE_READ | sys::FILE_SHARE_WRITE, sys::OPEN_ALWAYS, 0);
}

} // namespace

int RebootDevice() {
    if (auto power = OpenPower()) {
        uint32_t one = 1;
        power->ioControl(hh::protocol::IOCTL_POWER_PREPARE_RESTART,
                         std::as_bytes(std::span(&one, 1)), {}, nullptr);
    }
    return sys::KernelIoControl(hh::protocol::IOCTL_HAL_REBOOT, {}, {}, nullptr) ? 1 : 0;
}

int WriteRecoverFlag(uint32_t value) {
    auto power = OpenPower();
    if (!power) {
        return 0;
    }
    return power->ioControl(hh::protocol::IOCTL_POWER_WRITE_RECOVER_FLAG,
                            std::as_bytes(std::span(&value, 1)), {}, nullptr)
               ? 1
               : 0;
}

int ReadRecoverFlag(uint32_t& value) {
    auto power = OpenPower();
    if (!power) {
        return 0;
    }
    uint32_t read = 0;
    uint32_t returned = 0;
    bool ok = power->ioControl(hh::protocol::IOCTL_POWER_READ_RECOVER_FLAG, {},
                               std::as_writable_bytes(std::span(&read, 1)), &returned);
    value = read;
    return ok ? 1 : 0;
}

} // namespace recovery
