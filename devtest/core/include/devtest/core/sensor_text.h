#pragma once
// What the Sensor, GSensor and System pages show: the temperature map from the
// barometric sensor's own reading to the shown temperature, and the texts of
// the readings.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace devtest {

/// One point of the temperature map: the sensor's temperature and the
/// temperature shown for it, in degrees Celsius.
struct TemperaturePoint {
    float sensor;
    float shown;
};

/// The 19 points of the map, ascending by sensor temperature.
extern const std::array<TemperaturePoint, 19> kTemperatureMap;

/// Maps a sensor temperature piecewise linearly through kTemperatureMap, in
/// single precision. Below the first point the first segment is extended;
/// at or above the last point the last segment is (65.5 shows 55).
float MapTemperature(float sensor);

/// "%d  m": the altitude in metres.
std::u16string AltitudeText(int32_t metres);
/// "%.1f  C \r\n%.1f C": the reading (tenths of a degree) and its mapped value.
std::u16string TemperatureText(int32_t tenths);
/// "%.1fmb": the reading in hundredths of a millibar, shown in millibars.
std::u16string PressureText(int32_t hundredths);
/// "%d  °": the azimuth in degrees.
std::u16string AzimuthText(int16_t degrees);
/// "Position(X,Y,Z) :\r\n (%d,%d,%d)".
std::u16string PositionText(int16_t x, int16_t y, int16_t z);
/// "Battery : Charging..." for -1, else "Battery percent:%d%%".
std::u16string BatteryText(int32_t status);

/// The Sensor page's label column.
inline constexpr std::u16string_view kSensorLabels =
    u"Altitude:\r\n\r\nTemperature:\r\n\r\nPressure:\r\n\r\nAzimuth:";

/// An ASCII text as UTF-16.
std::u16string Widen(std::string_view ascii);

} // namespace devtest
