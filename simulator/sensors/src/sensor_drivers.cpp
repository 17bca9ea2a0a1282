#include "simulator/sensors/sensor_drivers.h"

#include <simulator/state/device_state.h>
#include <simulator/state/driver_support.h>

namespace hh::sim {

namespace {

class GSensorDevice : public sys::StreamDevice {
public:
    bool ioControl(uint32_t code, std::span<const std::byte>, std::span<std::byte> out,
                   uint32_t* bytesReturned) override {
        if (code != IOCTL_SMB_GET_POSITION) {
            return FailWith(sys::ERROR_NOT_SUPPORTED);
        }
        Acceleration a = ReadAcceleration();
        int16_t xyz[3] = {a.x, a.y, a.z};
        return WriteOutput(out, xyz, bytesReturned);
    }
};

class BarometerDevice : public sys::StreamDevice {
public:
    bool ioControl(uint32_t code, std::span<const std::byte> in, std::span<std::byte> out,
                   uint32_t* bytesReturned) override {
        BarometerReading r = ReadBarometer();
        switch (code) {
        case IOCTL_PSA_GET_ALTITUDE:
            return WriteOutput(out, r.altitude, bytesReturned);
        case IOCTL_PSA_GET_PRESSURE:
            return WriteOutput(out, r.pressure, bytesReturned);
        case IOCTL_PSA_GET_TEMPERATURE:
            return WriteOutput(out, r.temperature, bytesReturned);
        case IOCTL_PSA_SET_ALTITUDE:
            return ReadInput(in, r.altitude) && StoreBarometer(r);
        case IOCTL_PSA_SET_PRESSURE:
            return ReadInput(in, r.pressure) && StoreBarometer(r);
        default:
            return FailWith(sys::ERROR_NOT_SUPPORTED);
        }
    }
};

std::unique_ptr<sys::StreamDevice> Opened(const sys::OpenRequest& request, const char* name,
                                          std::unique_ptr<sys::StreamDevice> device) {
    if (request.index != 1 || !DriverAvailable(name)) {
        FailWith(sys::ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    return device;
}

} // namespace

Acceleration ReadAcceleration() {
    Acceleration d;
    return {static_cast<int16_t>(state::IntOr("accel.x", d.x)),
            static_cast<int16_t>(state::IntOr("accel.y", d.y)),
            static_cast<int16_t>(state::IntOr("accel.z", d.z))};
}

bool StoreAcceleration(const Acceleration& v) {
    return state::SetInts({{"accel.x", v.x}, {"accel.y", v.y}, {"accel.z", v.z}});
}

BarometerReading ReadBarometer() {
    BarometerReading d;
    return {static_cast<int32_t>(state::IntOr("baro.altitude", d.altitude)),
            static_cast<int32_t>(state::IntOr("baro.pressure", d.pressure)),
            static_cast<int32_t>(state::IntOr("baro.temperature", d.temperature))};
}

bool StoreBarometer(const BarometerReading& v) {
    return state::SetInts({{"baro.altitude", v.altitude},
                           {"baro.pressure", v.pressure},
                           {"baro.temperature", v.temperature}});
}

std::unique_ptr<sys::StreamDevice> GSensorDriver::open(const sys::OpenRequest& request) {
    return Opened(request, "SMB1", std::make_unique<GSensorDevice>());
}

std::unique_ptr<sys::StreamDevice> BarometerDriver::open(const sys::OpenRequest& request) {
    return Opened(request, "PSA1", std::make_unique<BarometerDevice>());
}

} // namespace hh::sim
