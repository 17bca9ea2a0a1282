#pragma once
// The simulated G-sensor "SMB1:" and barometric sensor "PSA1:".
//
// "SMB1:" request 0x01012F8C: output 6 bytes, signed 16-bit X, Y, Z.
// "PSA1:" requests (32-bit values): 2000 altitude in metres, 2001 pressure in
// hundredths of a millibar, 2002 temperature in tenths of a degree Celsius
// (outputs); 2003 current altitude, 2004 current pressure (inputs).

#include <platform/system/stream_device.h>

#include <cstdint>
#include <optional>

namespace hh::sim {

inline constexpr uint32_t IOCTL_SMB_GET_POSITION = 0x01012F8C;
inline constexpr uint32_t IOCTL_PSA_GET_ALTITUDE = 2000;
inline constexpr uint32_t IOCTL_PSA_GET_PRESSURE = 2001;
inline constexpr uint32_t IOCTL_PSA_GET_TEMPERATURE = 2002;
inline constexpr uint32_t IOCTL_PSA_SET_ALTITUDE = 2003;
inline constexpr uint32_t IOCTL_PSA_SET_PRESSURE = 2004;

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
