#pragma once
// The arithmetic between the device's units and the Linux interfaces' units,
// kept apart from the files so that it can be checked on its own.

#include <cstdint>
#include <optional>

namespace hh::hw {

/// The backlight's brightness (max above 0) for a device level of 1 to 100:
/// round(level × max / 100), but never 0, so that a level never switches the
/// light off. For a max of 100 or more, LevelOfBrightness gives the level back.
int64_t BrightnessOfLevel(uint32_t level, int64_t max);
/// The device level (0 to 100) of a brightness: round(brightness × 100 / max).
uint32_t LevelOfBrightness(int64_t brightness, int64_t max);

/// An acceleration in m/s² as the G-sensor reports it, in thousandths of the
/// standard gravity (9.80665 m/s²), held to the 16-bit range.
int16_t MilliG(double metresPerSecondSquared);

/// Hundredths of a millibar (the barometer's unit) of a pressure in kPa.
int32_t HundredthsOfMillibar(double kilopascal);
/// Altitude in metres of a pressure in kPa against the standard sea-level
/// pressure of 1013.25 hPa: 44330 × (1 − (p / p0)^0.1903).
int32_t AltitudeOfPressure(double kilopascal);
/// Tenths of a degree Celsius of a temperature in thousandths of a degree.
int32_t TenthsOfDegree(double milliCelsius);

/// The compass heading in whole degrees (0 to 359) of a horizontal magnetic
/// field, with the IIO axes of a device lying flat: x to the right, y
/// forward. Nothing when the field has no horizontal part.
std::optional<int16_t> HeadingOfField(double x, double y);
/// Whole degrees (0 to 359) of a heading in radians.
int16_t DegreesOfRadians(double radians);

/// The buzzer's tone in Hz for a scale step: middle C (261.63 Hz) raised by
/// one semitone per step.
int32_t ToneFrequency(uint8_t scale);

} // namespace hh::hw
