#include <devtest/core/sensor_text.h>

#include <gtest/gtest.h>

namespace devtest {
namespace {

TEST(TemperatureMap, EveryPointMapsToItsShownValue) {
    for (const TemperaturePoint& p : kTemperatureMap) {
        EXPECT_FLOAT_EQ(MapTemperature(p.sensor), p.shown) << p.sensor;
    }
}

TEST(TemperatureMap, SegmentsAndBothEnds) {
    struct Row {
        float sensor;
        float shown;
    };
    const Row rows[] = {
        {24.5f, 17.0f}, {26.0f, 20.5f}, {-6.3f, -9.0f}, {0.0f, -5.5f},   {-40.0f, -27.7222f},
        {64.0f, 53.5f}, {65.5f, 55.0f}, {68.5f, 58.0f}, {100.0f, 89.5f}, {39.5f, 29.0f},
    };
    for (const Row& r : rows) {
        EXPECT_NEAR(MapTemperature(r.sensor), r.shown, 1e-3f) << r.sensor;
    }
}

TEST(SensorText, ReadingsAsThePagesShowThem) {
    struct Row {
        std::u16string got;
        std::u16string want;
    };
    const Row rows[] = {
        {AltitudeText(512), u"512  m"},
        {AltitudeText(-20), u"-20  m"},
        {TemperatureText(245), u"24.5  C \r\n17.0 C"},
        {TemperatureText(260), u"26.0  C \r\n20.5 C"},
        {TemperatureText(-63), u"-6.3  C \r\n-9.0 C"},
        {TemperatureText(700), u"70.0  C \r\n59.5 C"},
        {PressureText(101325), u"1013.2mb"},
        {PressureText(0), u"0.0mb"},
        {AzimuthText(273), u"273  \u00B0"},
        {AzimuthText(-1), u"-1  \u00B0"},
        {PositionText(-12, 3, 980), u"Position(X,Y,Z) :\r\n (-12,3,980)"},
        {PositionText(1, -2, 3), u"Position(X,Y,Z) :\r\n (1,-2,3)"},
        {BatteryText(87), u"Battery percent:87%"},
        {BatteryText(0), u"Battery percent:0%"},
        {BatteryText(255), u"Battery percent:255%"},
        {BatteryText(-1), u"Battery : Charging..."},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(r.got, r.want);
    }
}

} // namespace
} // namespace devtest
