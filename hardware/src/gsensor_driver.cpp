// "SMB1:" over an IIO accelerometer: (in_accel_{x,y,z}_raw + offset) × scale
// in m/s², reported in thousandths of the standard gravity.

#include "drivers.h"
#include "machine.h"

#include <platform/protocol/device_protocol.h>
#include <platform/system/driver_buffers.h>
#include <platform/system/posix.h>

#include <hardware/conversions.h>

#include <array>

namespace hh::hw {

namespace {

namespace posix = sys::posix;

class GSensorDevice : public sys::StreamDevice {
public:
    bool ioControl(uint32_t code, std::span<const std::byte>, std::span<std::byte> out,
                   uint32_t* bytesReturned) override {
        if (bytesReturned) {
            *bytesReturned = 0;
        }
        if (code != protocol::IOCTL_SMB_GET_POSITION) {
            return posix::Fail(sys::ERROR_NOT_SUPPORTED);
        }
        std::optional<std::string> device = FindIio(IioSensor::Accelerometer);
        if (!device) {
            return false;
        }
        std::array<int16_t, 3> position{};
        const char* axes[] = {"in_accel_x", "in_accel_y", "in_accel_z"};
        for (std::size_t i = 0; i < position.size(); ++i) {
            std::optional<double> value = ReadChannel(*device, axes[i], "in_accel");
            if (!value) {
                return false;
            }
            position[i] = MilliG(*value);
        }
        return sys::WriteOutput(out, position, bytesReturned);
    }
};

} // namespace

std::unique_ptr<sys::StreamDevice> GSensorDriver::open(const sys::OpenRequest& request) {
    return OpenedDevice(request, FindIio(IioSensor::Accelerometer).has_value(),
                        std::make_unique<GSensorDevice>());
}

} // namespace hh::hw
