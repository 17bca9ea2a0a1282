// The compass driver's calibration on the test clock: samples counted at the
// configured rate towards the registry's counts, reported through "PWR1:",
// and the eight events signalled as the console chose.

#include <platform/system/clock.h>
#include <platform/system/device_io.h>
#include <platform/system/event.h>
#include <platform/system/registry.h>
#include <platform/system/testing.h>
#include <simulator/compass/compass_driver.h>
#include <simulator/device/simulated_device.h>

#include <gtest/gtest.h>

#include <optional>

namespace hh::sim {
namespace {

using Ms = sys::Millis;

class CalibrationTest : public sys::testing::DeviceRootTest {
protected:
    void SetUp() override {
        DeviceRootTest::SetUp();
        ASSERT_TRUE(RegisterSimulatedDevice([] {}));
        clock.emplace(0);
        for (int i = 0; i < 8; ++i) {
            events[i] = sys::Event::Create(sys::EventReset::Manual, false,
                                           std::string_view(kCalibrationEvents[i]));
        }
        compass = sys::CreateFileW(u"ECD1:", 0xC0000000u, 0, nullptr, sys::OPEN_EXISTING, 4, 0);
        ASSERT_NE(compass, sys::INVALID_HANDLE_VALUE);
    }
    void TearDown() override {
        sys::CloseHandle(compass);
        StopCalibrationWatcher();
        clock.reset();
        DeviceRootTest::TearDown();
    }

    // Sends a request; an arming one returns once the driver's watcher waits.
    bool Request(uint32_t code) {
        bool ok = sys::DeviceIoControl(compass, code, nullptr, 0, nullptr, 0, nullptr, nullptr);
        if (ok && code != IOCTL_ECD_POWERDOWN) {
            clock->waitForBlockedThreads(1, Ms(5000));
        }
        return ok;
    }

    static int16_t SampleCount() {
        sys::HANDLE pwr = sys::CreateFileW(u"PWR1:", 0xC0000000u, 0, nullptr, 3, 4, 0);
        int16_t count = -1;
        sys::DeviceIoControl(pwr, 6, nullptr, 0, &count, 2, nullptr, nullptr);
        sys::CloseHandle(pwr);
        return count;
    }

    // Indexes of the signalled events, resetting them.
    std::vector<int> Signalled() {
        std::vector<int> set;
        for (int i = 0; i < 8; ++i) {
            if (sys::WaitForSingleObject(events[i], 0) == sys::WAIT_OBJECT_0) {
                set.push_back(i);
                events[i].reset();
            }
        }
        return set;
    }

    void Run(int64_t ms) { clock->advanceInSteps(Ms(ms), Ms(50)); }

    std::optional<sys::TestClock> clock;
    sys::Event events[8];
    sys::HANDLE compass = sys::INVALID_HANDLE_VALUE;
};

TEST_F(CalibrationTest, AHallCalibrationCountsToTheRegistryCountAndSucceeds) {
    EXPECT_EQ(SampleCount(), 0);
    ASSERT_TRUE(Request(IOCTL_ECD_CAL_HALL));
    EXPECT_EQ(Signalled(), (std::vector<int>{1})); // processing
    // A missing count is stored first: 200 samples at 50 a second.
    sys::HKEY key = nullptr;
    ASSERT_EQ(sys::RegOpenKeyExW(sys::HKEY_LOCAL_MACHINE, u"Drivers\\BuiltIn\\Compass", 0,
                                 sys::KEY_READ, &key),
              0);
    uint32_t target = 0, size = 4;
    sys::RegQueryValueExW(key, u"Calibration_Horizontal", nullptr, nullptr,
                          reinterpret_cast<uint8_t*>(&target), &size);
    sys::RegCloseKey(key);
    EXPECT_EQ(target, 200u);
    Run(2000);
    EXPECT_EQ(SampleCount(), 100);
    EXPECT_TRUE(Signalled().empty());
    Run(2000);
    EXPECT_EQ(SampleCount(), 200);
    EXPECT_EQ(Signalled(), (std::vector<int>{2})); // HALL_CAL_SUCCESS
    EXPECT_FALSE(ReadCalibrationStatus().value().running);
}

TEST_F(CalibrationTest, EachOutcomeSignalsItsEvent) {
    struct Case {
        const char* outcome;
        uint32_t request;
        std::vector<int> events;
        int16_t samples;
    } cases[] = {
        {"success", IOCTL_ECD_CAL_SIDE, {3}, 100},    {"success", IOCTL_ECD_CAL_UPRIGHT, {4}, 100},
        {"success", IOCTL_ECD_CAL_GENERAL, {2}, 200}, {"failure", IOCTL_ECD_CAL_HALL, {5}, 100},
        {"stop", IOCTL_ECD_CAL_HALL, {6}, 100},       {"error", IOCTL_ECD_CAL_SIDE, {7}, 50},
        {"stuck", IOCTL_ECD_CAL_HALL, {}, 100},
    };
    ASSERT_TRUE(StoreCalibrationSampleRate(100));
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.outcome) + " " + std::to_string(c.request));
        ASSERT_TRUE(StoreCalibrationOutcome(c.outcome));
        ASSERT_TRUE(Request(c.request));
        EXPECT_EQ(Signalled(), (std::vector<int>{1}));
        Run(5000);
        EXPECT_EQ(Signalled(), c.events);
        EXPECT_EQ(SampleCount(), c.samples);
    }
}

TEST_F(CalibrationTest, PowerDownEndsACalibrationWithoutAnEvent) {
    ASSERT_TRUE(Request(IOCTL_ECD_CAL_HALL));
    Signalled();
    Run(1000);
    ASSERT_TRUE(Request(IOCTL_ECD_POWERDOWN));
    Run(5000);
    EXPECT_TRUE(Signalled().empty());
    EXPECT_EQ(SampleCount(), 50);
}

TEST_F(CalibrationTest, ArmingAgainStartsTheCountAfresh) {
    ASSERT_TRUE(Request(IOCTL_ECD_CAL_HALL));
    Run(3000);
    ASSERT_TRUE(Request(IOCTL_ECD_CAL_HALL));
    Signalled();
    Run(3000);
    EXPECT_TRUE(Signalled().empty()); // the first arming's end passed without an event
    EXPECT_EQ(SampleCount(), 150);
    Run(1000);
    EXPECT_EQ(Signalled(), (std::vector<int>{2}));
}

TEST_F(CalibrationTest, TheSelfTestSignalsTheTestEvent) {
    char16_t text[4004 / 2] = {};
    ASSERT_TRUE(sys::DeviceIoControl(compass, IOCTL_ECD_FCT_TEST, nullptr, 0, text, sizeof text,
                                     nullptr, nullptr));
    EXPECT_EQ(std::u16string(text), u"Compass self test passed");
    EXPECT_EQ(Signalled(), (std::vector<int>{0}));
}

} // namespace
} // namespace hh::sim
