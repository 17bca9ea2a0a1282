// The arithmetic between the device's units and the Linux interfaces'.

#include <gtest/gtest.h>
#include <hardware/conversions.h>

#include <cmath>
#include <optional>

namespace hh::hw {
namespace {

TEST(ConversionsTest, EveryLevelComesBackFromItsBrightnessWhenMaxIsAtLeast100) {
    for (int64_t max : {100, 101, 120, 150, 255, 937, 1000, 19393, 120000}) {
        for (uint32_t level = 1; level <= 100; ++level) {
            const int64_t brightness = BrightnessOfLevel(level, max);
            ASSERT_GE(brightness, 1);
            ASSERT_LE(brightness, max);
            ASSERT_EQ(LevelOfBrightness(brightness, max), level) << "max " << max;
        }
    }
}

TEST(ConversionsTest, BrightnessAndLevelRoundAsTheDeviceDoes) {
    struct Case {
        int64_t brightness, max;
        uint32_t level;
    };
    for (Case c : {Case{370, 1000, 37}, Case{9696, 19393, 50}, Case{0, 7, 0}, Case{7, 7, 100},
                   Case{3, 7, 43}, Case{20000, 19393, 100}, Case{-5, 100, 0}}) {
        EXPECT_EQ(LevelOfBrightness(c.brightness, c.max), c.level) << c.brightness << "/" << c.max;
    }
    // A small range: level 1 still lights the screen, and a brightness read
    // and written back stays the same.
    EXPECT_EQ(BrightnessOfLevel(1, 7), 1);
    for (int64_t b = 1; b <= 7; ++b) {
        EXPECT_EQ(BrightnessOfLevel(LevelOfBrightness(b, 7), 7), b);
    }
}

TEST(ConversionsTest, SensorUnits) {
    EXPECT_EQ(MilliG(9.61), 980);
    EXPECT_EQ(MilliG(-9.80665), -1000);
    EXPECT_EQ(MilliG(0.0), 0);
    EXPECT_EQ(MilliG(1000.0), 32767);
    EXPECT_EQ(MilliG(-1000.0), -32768);
    EXPECT_EQ(HundredthsOfMillibar(95.46), 95460);
    EXPECT_EQ(HundredthsOfMillibar(101.325), 101325);
    EXPECT_EQ(AltitudeOfPressure(101.325), 0);
    EXPECT_EQ(AltitudeOfPressure(95.46), 500);
    EXPECT_EQ(AltitudeOfPressure(89.875), 1000);
    EXPECT_EQ(AltitudeOfPressure(105.0), -302);
    EXPECT_EQ(TenthsOfDegree(24500.0), 245);
    EXPECT_EQ(TenthsOfDegree(-1260.0), -13);
}

TEST(ConversionsTest, HeadingsOfAFlatDevice) {
    struct Case {
        double x, y;
        std::optional<int16_t> heading;
    };
    for (Case c : {Case{0, 1, 0}, Case{-1, 0, 90}, Case{0, -1, 180}, Case{1, 0, 270},
                   Case{-0.9, 0.9, 45}, Case{0.01, 1, 359}, Case{0, 0, std::nullopt}}) {
        EXPECT_EQ(HeadingOfField(c.x, c.y), c.heading) << c.x << " " << c.y;
    }
    EXPECT_EQ(DegreesOfRadians(-std::numbers::pi / 2), 270);
    EXPECT_EQ(DegreesOfRadians(4 * std::numbers::pi), 0);
}

TEST(ConversionsTest, TheScaleRisesBySemitonesFromMiddleC) {
    EXPECT_EQ(ToneFrequency(0), 262);
    EXPECT_EQ(ToneFrequency(9), 440);
    EXPECT_EQ(ToneFrequency(12), 523);
    EXPECT_EQ(ToneFrequency(30), 1480);
}

} // namespace
} // namespace hh::hw
