// The System page's buttons, and the test pages on a device whose drivers are
// all unavailable: every page shows what it is left with, and nothing fails.

#include "page_fixture.h"

#include <platform/window/controls.h>
#include <simulator/state/driver_support.h>

#include <thread>

namespace devtest::test {
namespace {

namespace sys = hh::sys;
namespace win = hh::win;
namespace wt = hh::win::testing;
using namespace std::chrono_literals;

/// Every driver and the kernel's services switched off (devctl driver off NAME).
class NoDriverTest : public PageTest {
protected:
    void SetUp() override {
        PageTest::SetUp();
        // Nothing waits on the clock but what a test drives itself.
        StopClockPump();
        for (const std::string& name : hh::sim::SwitchableDrivers()) {
            ASSERT_TRUE(hh::sim::SetDriverAvailable(name, false)) << name;
        }
    }
};

TEST_F(PageTest, SystemButtonsAskFirstAndOnlyYesGoesOn) {
    RunMain([&](CDlgMain& dlg) {
        win::Dialog& system = dlg.PageAt(0);
        win::MessageBoxScript script;
        script.Answer(win::IDNO);
        wt::Click(system, IDC_BTN_SHUTDOWN);
        script.Answer(win::IDNO);
        wt::Click(system, IDC_BTN_RECOVER);
        script.Answer(win::IDNO);
        wt::Click(system, IDC_BTN_REBOOT);
        EXPECT_EQ(restarts_, 0);
        script.Answer(win::IDYES);
        wt::Click(system, IDC_BTN_REBOOT);
        EXPECT_EQ(restarts_, 1);
        const std::vector<win::MessageBoxRecord> boxes = script.Boxes();
        ASSERT_EQ(boxes.size(), 4u);
        const std::pair<std::u16string, std::u16string> want[] = {
            {u"shutdown the device?", u"shutdown"},
            {u"Restore the registry ?It's necessary to reboot.", u"Recover"},
            {u"Reboot the device?", u"Reboot"},
            {u"Reboot the device?", u"Reboot"},
        };
        for (std::size_t i = 0; i < boxes.size(); ++i) {
            EXPECT_EQ(boxes[i].text, want[i].first);
            EXPECT_EQ(boxes[i].caption, want[i].second);
            EXPECT_EQ(boxes[i].style, win::MB_YESNO);
            EXPECT_EQ(boxes[i].owner, &system);
        }
    });
}

TEST_F(PageTest, RecoverRestartsWhateverRecoverReturned) {
    RunMain([&](CDlgMain& dlg) {
        win::MessageBoxScript script;
        script.Answer(win::IDYES);
        wt::Click(dlg.PageAt(0), IDC_BTN_RECOVER);
        EXPECT_EQ(restarts_, 1);
    });
}

TEST_F(PageTest, BatteryLineIsEmptyUntilTheFirstTick) {
    RunMain([&](CDlgMain& dlg) {
        EXPECT_EQ(TextOf(dlg.PageAt(0), IDC_STATIC_BATTERY), u"");
        Advance(1000ms);
        EXPECT_EQ(TextOf(dlg.PageAt(0), IDC_STATIC_BATTERY), u"Battery percent:87%");
    });
}

TEST_F(NoDriverTest, PagesWithoutTheirDriversShowEmptyItemsAndDefaults) {
    RunMain([&](CDlgMain& dlg) {
        EXPECT_EQ(TextOf(dlg.PageAt(3), IDC_STATIC_INFO),
                  u"uuid:\r\nuuid(ASCII):\r\nOEM:\r\nPlatformType:\r\nOSVersion:");
        EXPECT_EQ(dlg.PageAt(6).IsDlgButtonChecked(IDC_RADIO_ACTIVESYNC), win::BST_CHECKED);
        EXPECT_EQ(dlg.PageAt(6).IsDlgButtonChecked(IDC_RADIO_MASSSTORAGE), win::BST_UNCHECKED);
        win::Dialog& sensor = dlg.PageAt(4);
        EXPECT_EQ(TextOf(sensor, IDC_STATIC_LABELS),
                  u"Altitude:\r\n\r\nTemperature:\r\n\r\nPressure:\r\n\r\nAzimuth:");
        Advance(2000ms);
        for (int id : {IDC_STATIC_ALTITUDE, IDC_STATIC_TEMPERATURE, IDC_STATIC_PRESSURE,
                       IDC_STATIC_AZIMUTH}) {
            EXPECT_EQ(TextOf(sensor, id), u"") << id;
        }
        EXPECT_EQ(TextOf(dlg.PageAt(8), IDC_STATIC_POSITION), u"Position(x,y,z):");
        EXPECT_EQ(sensor.GetDlgItem(IDC_STATIC_ALTITUDE)->GetWindowRect().Width(), 60);
    });
}

TEST_F(NoDriverTest, AdjustWithoutACompassIsRefused) {
    RunMain([&](CDlgMain& dlg) {
        win::Dialog& sensor = dlg.PageAt(4);
        win::MessageBoxScript script;
        wt::Click(sensor, IDC_BTN_ADJUST);
        EXPECT_EQ(TextOf(sensor, IDC_STATIC_CAL_STATUS),
                  u"Failed to Set Compass to Hall Adjust Mode");
        ASSERT_EQ(script.Boxes().size(), 1u);
        EXPECT_EQ(script.Boxes()[0].text, u"Failed to Set Compass to Hall Adjust Mode ");
        EXPECT_EQ(script.Boxes()[0].caption, u"ERROR");
        EXPECT_EQ(script.Boxes()[0].style, 0x00040030u);
        EXPECT_EQ(script.Boxes()[0].owner, nullptr);
        EXPECT_TRUE(Enabled(sensor, IDC_BTN_ADJUST));
        EXPECT_EQ(dlg.SensorPage().Cal().Calibrating(), 0);
    });
}

TEST_F(PageTest, SwitchTogglesFromWhatTheRegistrySays) {
    RunMain([&](CDlgMain& dlg) {
        win::Dialog& page = dlg.PageAt(7);
        // No "Drivers\BuiltIn\ANT" key: GetBTPower says 1.
        EXPECT_EQ(TextOf(page, IDC_BTN_BT), u"BT(On)");
        wt::Click(page, IDC_BTN_BT);
        EXPECT_EQ(TextOf(page, IDC_BTN_BT), u"BT(Off)");
        EXPECT_EQ(static_cast<CDlgSwitch&>(page).BTState(), 0u);
        wt::Click(page, IDC_BTN_BT);
        EXPECT_EQ(TextOf(page, IDC_BTN_BT), u"BT(On)");
        EXPECT_EQ(static_cast<CDlgSwitch&>(page).BTState(), 1u);
    });
}

TEST_F(NoDriverTest, BacklightPageStartsAtTheLowestLevelAndTheStoredSleepTime) {
    RunMain([&](CDlgMain& dlg) {
        ::testing::internal::CaptureStdout();
        win::Dialog& page = dlg.PageAt(2);
        // GetBackLightLevel gives 0 without its driver: the slider shows 1.
        EXPECT_EQ(page.Item<win::Trackbar>(IDC_SLIDER_BACKLIGHT)->GetPos(), 1);
        auto* combo = page.Item<win::ComboBox>(IDC_COMBO_SLEEP);
        ASSERT_EQ(combo->GetCount(), 8);
        EXPECT_EQ(combo->GetLBText(7), u"Never");
        // No "ControlPanel\BackLight" key: 15 s.
        EXPECT_EQ(combo->GetCurSel(), 0);
        SelectTab(2);
        wt::ProcessEventsUntil([&] { return TextOf(page, IDC_STATIC_LEVEL) == u"1"; });
        EXPECT_EQ(TextOf(page, IDC_STATIC_LEVEL), u"1");
        wt::Click(page, IDC_BTN_SET_SLEEP);
        EXPECT_EQ(GetBKLSuspendTimeout(), 15u);
        wt::SelectComboEntry(page, IDC_COMBO_SLEEP, 7);
        wt::Click(page, IDC_BTN_SET_SLEEP);
        EXPECT_EQ(GetBKLSuspendTimeout(), 268800u);
        combo->SetWindowText(u"");
        wt::TypeText(page, IDC_COMBO_SLEEP, u"20s");
        wt::Click(page, IDC_BTN_SET_SLEEP);
        EXPECT_EQ(::testing::internal::GetCapturedStdout(),
                  "nsleeptime = 15nsleeptime = 268800nsleeptime = 0");
        EXPECT_EQ(GetBKLSuspendTimeout(), 0u);
    });
}

TEST_F(PageTest, StoredSleepTimesSelectTheirEntry) {
    const std::pair<uint32_t, int> rows[] = {{45, 1}, {268800, 7}, {600, 5}};
    for (auto [seconds, index] : rows) {
        SetBKLSuspendTimeout(seconds);
        RunMain([&](CDlgMain& dlg) {
            EXPECT_EQ(dlg.PageAt(2).Item<win::ComboBox>(IDC_COMBO_SLEEP)->GetCurSel(), index)
                << seconds;
        });
    }
}

TEST_F(NoDriverTest, BuzzerPageListsAndSliders) {
    RunMain([&](CDlgMain& dlg) {
        win::Dialog& page = dlg.PageAt(1);
        struct Row {
            int id;
            int count;
            int selected;
            std::u16string text;
            std::intptr_t value;
        };
        const Row rows[] = {
            {IDC_COMBO_BEEP_DURATION, 6, 0, u"50 ms", 50},
            {IDC_COMBO_PAUSE_DURATION, 6, 1, u"100 ms", 100},
            {IDC_COMBO_BEEP_COUNT, 10, 4, u"5", 5},
        };
        for (const Row& r : rows) {
            auto* combo = page.Item<win::ComboBox>(r.id);
            EXPECT_EQ(combo->GetCount(), r.count);
            EXPECT_EQ(combo->GetCurSel(), r.selected);
            EXPECT_EQ(combo->GetLBText(r.selected), r.text);
            EXPECT_EQ(combo->GetItemData(r.selected), r.value);
        }
        auto* level = page.Item<win::Trackbar>(IDC_SLIDER_LEVEL);
        auto* scale = page.Item<win::Trackbar>(IDC_SLIDER_SCALE);
        EXPECT_EQ(level->GetPos(), 1);
        EXPECT_EQ(level->GetRangeMax(), 10);
        EXPECT_EQ(scale->GetPos(), 0);
        EXPECT_EQ(scale->GetRangeMax(), 30);
        SelectTab(1);
        level->SetPos(7);
        scale->SetPos(22);
        wt::ProcessEventsUntil([&] {
            return TextOf(page, IDC_STATIC_LEVEL_VALUE) == u"7" &&
                   TextOf(page, IDC_STATIC_SCALE_VALUE) == u"22";
        });
        EXPECT_EQ(TextOf(page, IDC_STATIC_LEVEL_VALUE), u"7");
        EXPECT_EQ(TextOf(page, IDC_STATIC_SCALE_VALUE), u"22");
    });
}

TEST_F(NoDriverTest, ScreenOffTestBlocksTwoSecondsOfTheClock) {
    RunMain([&](CDlgMain& dlg) {
        const int64_t before = clock_.nowMs();
        std::thread mover = wt::AdvanceWhenBlocked(clock_, 2000ms);
        wt::Click(dlg.PageAt(2), IDC_BTN_SCREEN_OFF);
        mover.join();
        EXPECT_EQ(clock_.nowMs() - before, 2000);
    });
}

} // namespace
} // namespace devtest::test
