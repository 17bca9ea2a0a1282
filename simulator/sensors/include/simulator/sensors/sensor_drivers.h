#pragma once
// The simulated G-sensor "SMB1:" and barometric sensor "PSA1:".
//
// Requests: IOCTL_SMB_GET_POSITION and IOCTL_PSA_* of the device protocol.

#include <platform/protocol/device_protocol.h>
#include <platform/system/stream_device.h>

#include <cstdint>
#include <optional>

namespace hh::sim {

using protocol::IOCTL_PSA_GET_ALTITUDE;
using protocol::IOCTL_PSA_GET_PRESSURE;
using protocol::IOCTL_PSA_GET_TEMPERATURE;
using protocol::IOCTL_PSA_SET_ALTITUDE;
using protocol::IOCTL_PSA_SET_PRESSURE;
using protocol::IOCTL_SMB_GET_POSITION;

struct Acceleration {
    int16_t x = 0;
    int16_t y = 0;
    int16_t z = 980;
    friend bool operator==(const Acceleration&, const Acceleration&) = default;
};
/// The stored reading; nothing, with the last error set, when the device
/// state cannot be read.
std::optional<Acceleration> ReadAcceleration();
bool StoreAcceleration(const Acceleration& value);

struct BarometerReading {
    int32_t altitude = 512;
    int32_t pressure = 95460;
    int32_t temperature = 245;
    friend bool operator==(const BarometerReading&, const BarometerReading&) = default;
};
std::optional<BarometerReading> ReadBarometer();
/// Stores all three values.
bool StoreBarometer(const BarometerReading& value);
/// Stores one value; the others stay as stored.
enum class BarometerPart { Altitude, Pressure, Temperature };
bool StoreBarometerPart(BarometerPart part, int32_t value);

class GSensorDriver : public sys::StreamDriver {
public:
    std::unique_ptr<sys::StreamDevice> open(const sys::OpenRequest& request) override;
};

class BarometerDriver : public sys::StreamDriver {
public:
    std::unique_ptr<sys::StreamDevice> open(const sys::OpenRequest& request) override;
};

} // namespace hh::sim
