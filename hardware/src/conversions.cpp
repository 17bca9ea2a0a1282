#include <hardware/conversions.h>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace hh::hw {

namespace {

constexpr double kStandardGravity = 9.80665;
constexpr double kSeaLevelKilopascal = 101.325;
constexpr double kMiddleC = 261.63;

} // namespace

int64_t BrightnessOfLevel(uint32_t level, int64_t max) {
    return std::max<int64_t>(1, (static_cast<int64_t>(level) * max + 50) / 100);
}

uint32_t LevelOfBrightness(int64_t brightness, int64_t max) {
    brightness = std::clamp<int64_t>(brightness, 0, max);
    return static_cast<uint32_t>((brightness * 100 + max / 2) / max);
}

int16_t MilliG(double metresPerSecondSquared) {
    const double milliG = std::round(metresPerSecondSquared / kStandardGravity * 1000.0);
    return static_cast<int16_t>(std::clamp(milliG, -32768.0, 32767.0));
}

int32_t HundredthsOfMillibar(double kilopascal) {
    // 1 kPa = 10 mbar = 1000 hundredths of a millibar.
    return static_cast<int32_t>(std::lround(kilopascal * 1000.0));
}

int32_t AltitudeOfPressure(double kilopascal) {
    return static_cast<int32_t>(
        std::lround(44330.0 * (1.0 - std::pow(kilopascal / kSeaLevelKilopascal, 0.1903))));
}

int32_t TenthsOfDegree(double milliCelsius) {
    return static_cast<int32_t>(std::lround(milliCelsius / 100.0));
}

int16_t DegreesOfRadians(double radians) {
    long degrees = std::lround(radians * 180.0 / std::numbers::pi);
    degrees %= 360;
    return static_cast<int16_t>(degrees < 0 ? degrees + 360 : degrees);
}

std::optional<int16_t> HeadingOfField(double x, double y) {
    if (x == 0.0 && y == 0.0) {
        return std::nullopt;
    }
    // Facing north the field points forward (+y); turned to the east, north
    // lies to the left (−x).
    return DegreesOfRadians(std::atan2(-x, y));
}

int32_t ToneFrequency(uint8_t scale) {
    return static_cast<int32_t>(std::lround(kMiddleC * std::exp2(scale / 12.0)));
}

} // namespace hh::hw
