// The Sensor page's calibration progress against the sample counts the device
// holds in its registry, with the simulated compass driver counting samples.

#include "page_fixture.h"

#include <devtest/core/calibration.h>
#include <platform/system/event.h>
#include <platform/system/registry.h>
#include <platform/window/controls.h>
#include <simulator/compass/compass_driver.h>

#include <vector>

namespace devtest::test {
namespace {

namespace sys = hh::sys;
namespace sim = hh::sim;
namespace win = hh::win;
namespace wt = hh::win::testing;
using namespace std::chrono_literals;

/// Stores a calibration's sample count as `devctl reg set` does.
void StoreCount(const char16_t* name, uint32_t count) {
    sys::HKEY key = nullptr;
    ASSERT_EQ(sys::RegCreateKeyExW(sys::HKEY_LOCAL_MACHINE, u"Drivers\\BuiltIn\\Compass", 0,
                                   nullptr, 0, sys::KEY_ALL_ACCESS, nullptr, &key, nullptr),
              sys::ERROR_SUCCESS);
    EXPECT_EQ(sys::RegSetValueExW(key, name, 0, sys::REG_DWORD,
                                  reinterpret_cast<const uint8_t*>(&count), sizeof count),
              sys::ERROR_SUCCESS);
    sys::RegCloseKey(key);
}

/// Where the page's progress stood when the driver's count stopped in a phase.
struct Stop {
    std::string phase;
    int count = 0;
    int bar = 0;
    bool operator==(const Stop&) const = default;
};

void PrintTo(const Stop& stop, std::ostream* out) {
    *out << "{" << stop.phase << ", count " << stop.count << ", bar " << stop.bar << "}";
}

class CalibrationProgressTest : public PageTest {
protected:
    explicit CalibrationProgressTest(
        sys::testing::RootLayout layout = sys::testing::RootLayout::Volumes)
        : PageTest(layout) {}

    /// Runs a calibration that the driver leaves at half of each phase's count
    /// ("stuck"), signalling the Hall phase's success itself as the driver
    /// would, and gives where the page's bar stood when each phase's count
    /// stopped. before(phase) runs as each phase is armed.
    std::vector<Stop> RunStuckCalibration(CDlgMain& dlg,
                                          const std::function<void(const std::string&)>& before) {
        win::Dialog& sensor = dlg.PageAt(4);
        auto* bar = sensor.Item<win::ProgressBar>(IDC_PROGRESS_CAL);
        const Calibration& cal = dlg.SensorPage().Cal();
        win::MessageBoxScript script;
        std::vector<Stop> stops;
        auto stopped = [&](const std::string& phase) {
            for (int i = 0; i < 200; ++i) {
                const std::optional<sim::CalibrationStatus> status = sim::ReadCalibrationStatus();
                if (status && status->phase == phase && status->samples == status->target / 2 &&
                    cal.CurSampleCnt() == status->samples) {
                    stops.push_back({phase, cal.CurSampleCnt(), bar->GetPos()});
                    return;
                }
                Advance(250ms);
            }
            ADD_FAILURE() << "the " << phase << " phase's count did not stop";
        };
        before("hall");
        wt::Click(sensor, IDC_BTN_ADJUST);
        stopped("hall");
        before("side");
        sys::Event success = sys::Event::Create(sys::EventReset::Manual, false,
                                                kCalEventNames[CAL_EVENT_HALL_SUCCESS]);
        sys::EventModify(success, sys::EVENT_SET);
        stopped("side");
        return stops;
    }
};

class FreshDeviceTest : public CalibrationProgressTest {
protected:
    FreshDeviceTest() : CalibrationProgressTest(sys::testing::RootLayout::Empty) {}
};

TEST_F(FreshDeviceTest, ProgressFollowsTheCountsTheDeviceHoldsFromTheStart) {
    // A device the program found empty and provisioned: the counts are in its
    // registry before any calibration ran.
    ASSERT_TRUE(sim::StoreCalibrationOutcome("stuck"));
    std::vector<Stop> stops;
    RunMain([&](CDlgMain& dlg) {
        EXPECT_EQ(dlg.SensorPage().Cal().XYSampleCnt(), 200);
        EXPECT_EQ(dlg.SensorPage().Cal().XZSampleCnt(), 100);
        stops = RunStuckCalibration(dlg, [](const std::string&) {});
    });
    // Hall: cur / 200 * 50; Side: (cur / 100 + 1) * 50.
    const std::vector<Stop> want = {{"hall", 100, 25}, {"side", 50, 75}};
    EXPECT_EQ(stops, want);
}

TEST_F(CalibrationProgressTest, CountsAreReadOnceAtTheStart) {
    StoreCount(u"Calibration_Horizontal", 200);
    StoreCount(u"Calibration_Vertical", 100);
    ASSERT_TRUE(sim::StoreCalibrationOutcome("stuck"));
    std::vector<Stop> stops;
    RunMain([&](CDlgMain& dlg) {
        // Changed after the page started: the driver counts towards the new
        // counts, the page's bar still follows the ones it read at its start.
        stops = RunStuckCalibration(dlg, [](const std::string& phase) {
            if (phase == "hall") {
                StoreCount(u"Calibration_Horizontal", 400);
            } else {
                StoreCount(u"Calibration_Vertical", 40);
            }
        });
    });
    // Hall stops at 200: 200 / 200 * 50; Side stops at 20: (20 / 100 + 1) * 50.
    const std::vector<Stop> want = {{"hall", 200, 50}, {"side", 20, 60}};
    EXPECT_EQ(stops, want);
}

} // namespace
} // namespace devtest::test
