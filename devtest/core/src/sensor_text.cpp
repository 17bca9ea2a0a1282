#include <devtest/core/sensor_text.h>

#include <cstdio>

namespace devtest {

const std::array<TemperaturePoint, 19> kTemperatureMap = {{
    {-4.5f, -8.0f}, {4.5f, -3.0f},  {11.5f, 2.0f},  {17.5f, 7.0f},  {20.5f, 12.0f},
    {24.5f, 17.0f}, {27.5f, 24.0f}, {30.5f, 25.0f}, {33.5f, 26.0f}, {36.5f, 27.0f},
    {38.5f, 28.0f}, {40.5f, 30.0f}, {44.5f, 35.0f}, {47.5f, 39.0f}, {51.5f, 43.0f},
    {54.5f, 46.0f}, {57.5f, 49.0f}, {62.5f, 52.0f}, {65.5f, 55.0f},
}};

float MapTemperature(float sensor) {
    std::size_t i = 0;
    while (i < kTemperatureMap.size() && !(kTemperatureMap[i].sensor > sensor)) {
        ++i;
    }
    // The first point above the reading closes the segment; none above it
    // (at or past the last point) keeps the last segment.
    const std::size_t upper = i == 0 ? 1 : (i == kTemperatureMap.size() ? i - 1 : i);
    const TemperaturePoint a = kTemperatureMap[upper - 1];
    const TemperaturePoint b = kTemperatureMap[upper];
    return a.shown + (sensor - a.sensor) * (b.shown - a.shown) / (b.sensor - a.sensor);
}

std::u16string Widen(std::string_view ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

namespace {

template <class... Args>
std::u16string Format(const char* format, Args... args) {
    char buffer[128];
    const int n = std::snprintf(buffer, sizeof buffer, format, args...);
    return Widen(std::string_view(buffer, n < 0 ? 0 : static_cast<std::size_t>(n)));
}

} // namespace

std::u16string AltitudeText(int32_t metres) {
    return Format("%d  m", metres);
}

std::u16string TemperatureText(int32_t tenths) {
    const float t = static_cast<float>(tenths) * 0.1f;
    const float shown = MapTemperature(t);
    return Format("%.1f  C \r\n%.1f C", static_cast<double>(t), static_cast<double>(shown));
}

std::u16string PressureText(int32_t hundredths) {
    const float p = static_cast<float>(hundredths) * 0.01f;
    return Format("%.1fmb", static_cast<double>(p));
}

std::u16string AzimuthText(int16_t degrees) {
    return Format("%d  ", static_cast<int>(degrees)) + u"\u00B0";
}

std::u16string PositionText(int16_t x, int16_t y, int16_t z) {
    return Format("Position(X,Y,Z) :\r\n (%d,%d,%d)", static_cast<int>(x), static_cast<int>(y),
                  static_cast<int>(z));
}

std::u16string BatteryText(int32_t status) {
    if (status == -1) {
        return u"Battery : Charging...";
    }
    return Format("Battery percent:%d%%", status);
}

} // namespace devtest
