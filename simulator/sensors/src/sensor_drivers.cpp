#include "simulator/sensors/sensor_drivers.h"

#include <simulator/state/device_state.h>
#include <simulator/state/driver_support.h>

namespace hh::sim {

namespace {

// The stored names of the barometer's values, in BarometerPart's order.
constexpr const char* kBarometer[] = {"baro.altitude", "baro.pressure", "baro.temperature"};

class GSensorDevice : public sys::StreamDevice {
public:
    bool ioControl(uint32_t code, std::span<const std::byte>, std::span<std::byte> out,
                   uint32_t* bytesReturned) override {
        if (code != IOCTL_SMB_GET_POSITION) {
            return FailWith(sys::ERROR_NOT_SUPPORTED);
        }
        std::optional<Acceleration> a = ReadAcceleration();
        if (!a) {
            return false;
        }
        int16_t xyz[3] = {a->x, a->y, a->z};
        return WriteOutput(out, xyz, bytesReturned);
    }
};

class BarometerDevice : public sys::StreamDevice {
public:
    bool ioControl(uint32_t code, std::span<const std::byte> in, std::span<std::byte> out,
                   uint32_t* bytesReturned) override {
        int32_t value = 0;
        switch (code) {
        case IOCTL_PSA_GET_ALTITUDE:
        case IOCTL_PSA_GET_PRESSURE:
        case IOCTL_PSA_GET_TEMPERATURE: {
            std::optional<BarometerReading> r = ReadBarometer();
            if (!r) {
                return false;
            }
            value = code == IOCTL_PSA_GET_ALTITUDE   ? r->altitude
                    : code == IOCTL_PSA_GET_PRESSURE ? r->pressure
                                                     : r->temperature;
            return WriteOutput(out, value, bytesReturned);
        }
        case IOCTL_PSA_SET_ALTITUDE:
            return ReadInput(in, value) && StoreBarometerPart(BarometerPart::Altitude, value);
        case IOCTL_PSA_SET_PRESSURE:
            return ReadInput(in, value) && StoreBarometerPart(BarometerPart::Pressure, value);
        default:
            return FailWith(sys::ERROR_NOT_SUPPORTED);
        }
    }
};

std::unique_ptr<sys::StreamDevice> Opened(const sys::OpenRequest& request, const char* name,
                                          std::unique_ptr<sys::StreamDevice> device) {
    if (request.index != 1) {
        FailWith(sys::ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    if (!DriverAvailable(name)) {
        return nullptr;
    }
    return device;
}

} // namespace

std::optional<Acceleration> ReadAcceleration() {
    Acceleration d;
    int64_t x = 0, y = 0, z = 0;
    if (!state::GetInt("accel.x", d.x, x) || !state::GetInt("accel.y", d.y, y) ||
        !state::GetInt("accel.z", d.z, z)) {
        return std::nullopt;
    }
    return Acceleration{static_cast<int16_t>(x), static_cast<int16_t>(y), static_cast<int16_t>(z)};
}

bool StoreAcceleration(const Acceleration& v) {
    return state::SetInts({{"accel.x", v.x}, {"accel.y", v.y}, {"accel.z", v.z}});
}

std::optional<BarometerReading> ReadBarometer() {
    BarometerReading d;
    int64_t altitude = 0, pressure = 0, temperature = 0;
    if (!state::GetInt(kBarometer[0], d.altitude, altitude) ||
        !state::GetInt(kBarometer[1], d.pressure, pressure) ||
        !state::GetInt(kBarometer[2], d.temperature, temperature)) {
        return std::nullopt;
    }
    return BarometerReading{static_cast<int32_t>(altitude), static_cast<int32_t>(pressure),
                            static_cast<int32_t>(temperature)};
}

bool StoreBarometer(const BarometerReading& v) {
    return state::SetInts(
        {{kBarometer[0], v.altitude}, {kBarometer[1], v.pressure}, {kBarometer[2], v.temperature}});
}

bool StoreBarometerPart(BarometerPart part, int32_t value) {
    return state::SetInt(kBarometer[static_cast<int>(part)], value);
}

std::unique_ptr<sys::StreamDevice> GSensorDriver::open(const sys::OpenRequest& request) {
    return Opened(request, "SMB1", std::make_unique<GSensorDevice>());
}

std::unique_ptr<sys::StreamDevice> BarometerDriver::open(const sys::OpenRequest& request) {
    return Opened(request, "PSA1", std::make_unique<BarometerDevice>());
}

} // namespace hh::sim
