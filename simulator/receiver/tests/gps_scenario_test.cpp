// The GPS scenario in the device state, and receivers of the device that
// follow it and publish their sky, on a temporary device root and the test clock.

#include "platform/system/clock.h"
#include "platform/system/device_root.h"
#include "platform/system/error.h"
#include "platform/system/testing.h"
#include "simulator/receiver/gps_scenario_store.h"
#include "simulator/receiver/receiver_host.h"
#include "simulator/state/device_state.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>
#include <vector>

namespace hh::sim {
namespace {

class GpsScenarioStore : public sys::testing::DeviceRootTest {};

TEST_F(GpsScenarioStore, ChangesAreCountedAndARefusedChangeStoresNothing) {
    EXPECT_EQ(LoadGpsScenario(), GpsScenario{}) << "the defaults before any change";
    int64_t revision = -1;
    ASSERT_TRUE(GpsScenarioRevision(revision));
    EXPECT_EQ(revision, 0);

    ASSERT_TRUE(ChangeGpsScenario([](GpsScenario& s) {
        s.latitude = 10;
        ++s.motions;
        return true;
    }));
    EXPECT_FALSE(ChangeGpsScenario([](GpsScenario& s) {
        s.latitude = 20;
        return false;
    }));
    const auto scenario = LoadGpsScenario();
    ASSERT_TRUE(scenario);
    EXPECT_EQ(scenario->latitude, 10);
    EXPECT_EQ(scenario->motions, 1u);
    ASSERT_TRUE(GpsScenarioRevision(revision));
    EXPECT_EQ(revision, 1);
}

TEST_F(GpsScenarioStore, DamagedScenarioIsReportedAndLeftAsItIs) {
    ASSERT_TRUE(state::SetText("gps.scenario", "colour blue\n"));
    sys::SetLastError(0);
    EXPECT_FALSE(LoadGpsScenario());
    EXPECT_EQ(sys::GetLastError(), sys::ERROR_FILE_CORRUPT);
    EXPECT_FALSE(ChangeGpsScenario([](GpsScenario&) { return true; }));
    std::string text;
    ASSERT_TRUE(state::GetText("gps.scenario", "", text));
    EXPECT_EQ(text, "colour blue\n");
}

TEST_F(GpsScenarioStore, ConsolesChangingAtOnceLoseNoChange) {
    std::vector<std::thread> consoles;
    for (int t = 0; t < 3; ++t) {
        consoles.emplace_back([] {
            for (int i = 0; i < 10; ++i) {
                EXPECT_TRUE(ChangeGpsScenario([](GpsScenario& s) {
                    ++s.starts;
                    return true;
                }));
            }
        });
    }
    for (std::thread& t : consoles) {
        t.join();
    }
    EXPECT_EQ(LoadGpsScenario()->starts, 30u);
    int64_t revision = 0;
    ASSERT_TRUE(GpsScenarioRevision(revision));
    EXPECT_EQ(revision, 30);
}

TEST_F(GpsScenarioStore, DeviceReceiverFollowsTheScenarioAndAStrayOneDoesNot) {
    ASSERT_TRUE(ChangeGpsScenario([](GpsScenario& s) {
        s.latitude = -33.8688;
        s.longitude = 151.2093;
        ++s.starts; // a restart ordered before the receiver started is history
        return true;
    }));
    GpsSource device({.seed = 3}, "test receiver");
    GpsSource stray({.seed = 3});
    device.nextBurst();
    stray.nextBurst();
    EXPECT_DOUBLE_EQ(device.receiver().latitude(), -33.8688);
    EXPECT_DOUBLE_EQ(stray.receiver().latitude(), 48.1173);
    EXPECT_EQ(device.receiver().restarts(), 0);

    ASSERT_TRUE(ChangeGpsScenario([](GpsScenario& s) {
        ++s.starts;
        s.start = GpsStart::Cold;
        s.block.kind = GpsBlock::Kind::All;
        return true;
    }));
    device.nextBurst();
    EXPECT_EQ(device.receiver().coldStarts(), 1);
    for (const GpsSatellite& s : device.receiver().satellites()) {
        EXPECT_EQ(s.snr, 0) << "all blocked";
    }
    device.nextBurst();
    EXPECT_EQ(device.receiver().coldStarts(), 1) << "one restart per command";
}

TEST_F(GpsScenarioStore, ReceiverPublishesItsSkyOnceASecondOnlyOnADevice) {
    std::filesystem::remove_all(root_ / sys::kDeviceStateFolder);
    GpsSource source({.seed = 3, .utcStart = 1717243200}, "test receiver");
    source.nextBurst();
    std::optional<GpsSky> sky;
    EXPECT_FALSE(std::filesystem::exists(root_ / sys::kDeviceStateFolder))
        << "a receiver makes no device";

    ASSERT_TRUE(state::SetInt("made", 1)); // now there is a device
    sys::TestClock clock;
    source.nextBurst();
    ASSERT_TRUE(ReadGpsSky(sky));
    ASSERT_TRUE(sky);
    EXPECT_EQ(sky->receiver, "test receiver");
    EXPECT_EQ(sky->utc, 1717243201);
    EXPECT_EQ(sky->satellites.size(), source.receiver().satellites().size());
    source.nextBurst();
    ASSERT_TRUE(ReadGpsSky(sky));
    EXPECT_EQ(sky->utc, 1717243201) << "not again within the second";
    clock.advance(sys::Millis(1000));
    source.nextBurst();
    ASSERT_TRUE(ReadGpsSky(sky));
    EXPECT_EQ(sky->utc, 1717243203);
}

} // namespace
} // namespace hh::sim
