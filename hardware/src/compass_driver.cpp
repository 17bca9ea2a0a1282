// "ECD1:" over an IIO magnetometer: the heading comes from its heading
// channel where it has one (radians), else from the horizontal field of a
// device lying flat (in_magn_{x,y}). The measuring modes need nothing of the
// hardware and are accepted; IIO offers no calibration and none of the
// driver's raw data records, so those requests are not supported.

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

// The direction request's parameters and answer: the azimuth first, then
// bytes this driver leaves 0.
using DirectionParams = std::array<std::byte, 48>;
struct DirectionResult {
    int16_t azimuth = 0;
    std::array<std::byte, 18> rest{};
};
static_assert(sizeof(DirectionResult) == 20);

std::optional<int16_t> Heading() {
    std::optional<std::string> device = FindIio(IioSensor::Magnetometer);
    if (!device) {
        return std::nullopt;
    }
    const std::string channel = HeadingChannel(*device);
    if (!channel.empty()) {
        std::optional<double> radians = ReadChannel(*device, channel, channel);
        return radians ? std::optional<int16_t>(DegreesOfRadians(*radians)) : std::nullopt;
    }
    std::optional<double> x = ReadChannel(*device, "in_magn_x", "in_magn");
    std::optional<double> y = ReadChannel(*device, "in_magn_y", "in_magn");
    if (!x || !y) {
        return std::nullopt;
    }
    std::optional<int16_t> heading = HeadingOfField(*x, *y);
    if (!heading) {
        posix::Fail(sys::ERROR_NOT_READY);
    }
    return heading;
}

bool Direction(std::span<const std::byte> in, std::span<std::byte> out, uint32_t* bytesReturned) {
    DirectionParams params{};
    if (!sys::ReadInput(in, params)) {
        return false;
    }
    if (out.size() < sizeof(DirectionResult)) {
        return posix::Fail(sys::ERROR_INSUFFICIENT_BUFFER);
    }
    std::optional<int16_t> heading = Heading();
    return heading && sys::WriteOutput(out, DirectionResult{*heading, {}}, bytesReturned);
}

// A mode request: its input when it has one, and a magnetometer to apply it to.
bool Mode(std::span<const std::byte> in, bool takesValue) {
    uint32_t value = 0;
    return (!takesValue || sys::ReadInput(in, value)) && FindIio(IioSensor::Magnetometer);
}

class CompassDevice : public sys::StreamDevice {
public:
    bool ioControl(uint32_t code, std::span<const std::byte> in, std::span<std::byte> out,
                   uint32_t* bytesReturned) override {
        if (bytesReturned) {
            *bytesReturned = 0;
        }
        switch (code) {
        case protocol::IOCTL_ECD_MEASURE_SINGLE:
        case protocol::IOCTL_ECD_HDOE_LEVEL:
        case protocol::IOCTL_ECD_HANDSET_FORMATION:
            return Mode(in, true);
        case protocol::IOCTL_ECD_POWERDOWN:
            return Mode(in, false);
        case protocol::IOCTL_ECD_GET_DIRECTION:
            return Direction(in, out, bytesReturned);
        default:
            return posix::Fail(sys::ERROR_NOT_SUPPORTED);
        }
    }
};

} // namespace

std::unique_ptr<sys::StreamDevice> CompassDriver::open(const sys::OpenRequest& request) {
    return OpenedDevice(request, FindIio(IioSensor::Magnetometer).has_value(),
                        std::make_unique<CompassDevice>());
}

} // namespace hh::hw
