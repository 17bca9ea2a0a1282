// "PSA1:" over an IIO pressure sensor: the pressure in kPa
// (in_pressure_input, or raw, offset and scale), the temperature in
// thousandths of a degree (in_temp), and the altitude from the pressure
// against the standard sea-level pressure. The altitude and pressure the
// device's driver could be given are not kept by the hardware
// (ERROR_NOT_SUPPORTED).

#include "drivers.h"
#include "machine.h"

#include <platform/protocol/device_protocol.h>
#include <platform/system/driver_buffers.h>
#include <platform/system/posix.h>

#include <hardware/conversions.h>

namespace hh::hw {

namespace {

namespace posix = sys::posix;

std::optional<int32_t> Reading(uint32_t code) {
    std::optional<std::string> device = FindIio(IioSensor::Barometer);
    if (!device) {
        return std::nullopt;
    }
    if (code == protocol::IOCTL_PSA_GET_TEMPERATURE) {
        std::optional<double> milliCelsius = ReadChannel(*device, "in_temp", "in_temp");
        return milliCelsius ? std::optional<int32_t>(TenthsOfDegree(*milliCelsius)) : std::nullopt;
    }
    std::optional<double> kilopascal = ReadChannel(*device, "in_pressure", "in_pressure");
    if (!kilopascal) {
        return std::nullopt;
    }
    return code == protocol::IOCTL_PSA_GET_PRESSURE ? HundredthsOfMillibar(*kilopascal)
                                                    : AltitudeOfPressure(*kilopascal);
}

class BarometerDevice : public sys::StreamDevice {
public:
    bool ioControl(uint32_t code, std::span<const std::byte>, std::span<std::byte> out,
                   uint32_t* bytesReturned) override {
        if (bytesReturned) {
            *bytesReturned = 0;
        }
        switch (code) {
        case protocol::IOCTL_PSA_GET_ALTITUDE:
        case protocol::IOCTL_PSA_GET_PRESSURE:
        case protocol::IOCTL_PSA_GET_TEMPERATURE: {
            std::optional<int32_t> value = Reading(code);
            return value && sys::WriteOutput(out, *value, bytesReturned);
        }
        default:
            return posix::Fail(sys::ERROR_NOT_SUPPORTED);
        }
    }
};

} // namespace

std::unique_ptr<sys::StreamDevice> BarometerDriver::open(const sys::OpenRequest& request) {
    return OpenedDevice(request, FindIio(IioSensor::Barometer).has_value(),
                        std::make_unique<BarometerDevice>());
}

} // namespace hh::hw
