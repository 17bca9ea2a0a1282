// The shell: tabs, pages, the notification watcher and window, the KEY page.

#include "page_fixture.h"

#include <devtest/core/page_tables.h>
#include <platform/system/error.h>
#include <platform/system/event.h>
#include <platform/system/wait.h>
#include <platform/window/controls.h>
#include <platform/window/device_screen.h>

#include <QWidget>
#include <thread>

namespace devtest::test {
namespace {

namespace sys = hh::sys;
namespace win = hh::win;
namespace wt = hh::win::testing;
using namespace std::chrono_literals;

const char16_t* const kTabs[] = {u"System", u"SPK", u"BKL",    u"DevInfo", u"Sensor",
                                 u"KEY",    u"USB", u"Switch", u"GSensor"};

class ShellTest : public PageTest {
protected:
    /// What the notification component does: stores the code and signals.
    void Notify(uint32_t code) {
        sys::Event event = sys::Event::Create(sys::EventReset::Automatic, false, kNotifyEventName);
        sys::SetEventData(event, code);
        sys::EventModify(event, sys::EVENT_SET);
    }
    std::vector<int> VisibleButtons(CDlgNotification& window) {
        std::vector<int> shown;
        for (int id : {IDC_BTN_NOTIFY_SHUTDOWN, IDC_BTN_NOTIFY_CANCEL, IDC_BTN_NOTIFY_MASSSTORAGE,
                       IDC_BTN_NOTIFY_CHARGING}) {
            if (Visible(window, id)) {
                shown.push_back(id);
            }
        }
        return shown;
    }
};

TEST_F(ShellTest, StartsOnTheSystemPageWithNineTabsAlongTheBottom) {
    RunMain([&](CDlgMain& dlg) {
        auto* tab = dlg.Item<win::TabControl>(IDC_TAB);
        ASSERT_NE(tab, nullptr);
        ASSERT_EQ(tab->GetItemCount(), 9);
        EXPECT_EQ(tab->GetCurSel(), 0);
        EXPECT_EQ(dlg.GetWindowText(), u"V5520Demo");
        for (int i = 0; i < 9; ++i) {
            EXPECT_EQ(dlg.PageAt(i).IsWindowVisible(), i == 0) << Utf8(kTabs[i]);
        }
        EXPECT_FALSE(dlg.Notification().IsWindowVisible());
        // The watcher holds the event already: a code signalled now arrives.
        EXPECT_TRUE(dlg.WatcherRunning());
        sys::Event event = sys::Event::Create(sys::EventReset::Automatic, false, kNotifyEventName);
        EXPECT_EQ(sys::GetLastError(), sys::ERROR_ALREADY_EXISTS);
        // The strip lies along the bottom edge of the tab control.
        const win::Rect area = tab->GetWindowRect();
        const win::Rect page = dlg.PageAt(0).GetWindowRect();
        EXPECT_LT(page.bottom, area.bottom);
        EXPECT_EQ(page.top, area.top);
    });
}

TEST_F(ShellTest, EachTabShowsItsPageOnly) {
    RunMain([&](CDlgMain& dlg) {
        for (int index : {3, 8, 1, 5, 0}) {
            SelectTab(index);
            for (int i = 0; i < 9; ++i) {
                EXPECT_EQ(dlg.PageAt(i).IsWindowVisible(), i == index) << index << " " << i;
            }
        }
        // An index outside the tabs changes no page.
        dlg.ShowPage(9);
        EXPECT_TRUE(dlg.PageAt(0).IsWindowVisible());
    });
}

TEST_F(ShellTest, KeyTabTakesTheFocusAndShowsHeldKeys) {
    RunMain([&](CDlgMain& dlg) {
        win::Dialog& key = dlg.PageAt(5);
        SelectTab(5);
        EXPECT_TRUE(key.HasFocus());
        struct Row {
            int vk;
            int button;
            std::u16string name;
            std::string downTrace;
            std::string upTrace;
        };
        const Row rows[] = {
            {0xC1, IDC_BTN_KEY_BACK, u"back", "IDC_BTN_KEY_BACK_down\r\n",
             "IDC_BTN_KEY_BACK_UP\r\n"},
            {0xC2, IDC_BTN_KEY_UP, u"up", "", ""},
            {0xC3, IDC_BTN_KEY_DOWN, u"down", "", ""},
            {0xC4, IDC_BTN_KEY_OK, u"ok", "", ""},
        };
        for (const Row& r : rows) {
            ::testing::internal::CaptureStdout();
            wt::KeyDown(dlg, r.vk);
            EXPECT_EQ(::testing::internal::GetCapturedStdout(), r.downTrace);
            EXPECT_EQ(TextOf(key, r.button), u"press") << r.vk;
            ::testing::internal::CaptureStdout();
            wt::KeyUp(dlg, r.vk);
            EXPECT_EQ(::testing::internal::GetCapturedStdout(), r.upTrace);
            EXPECT_EQ(TextOf(key, r.button), r.name) << r.vk;
        }
        wt::KeyDown(dlg, 0xC5);
        for (const Row& r : rows) {
            EXPECT_EQ(TextOf(key, r.button), r.name);
        }
    });
}

TEST_F(ShellTest, HardwareKeysOffTheKeyPageChangeNothing) {
    RunMain([&](CDlgMain& dlg) {
        win::Dialog& key = dlg.PageAt(5);
        dlg.PageAt(0).GetDlgItem(IDC_BTN_REBOOT)->SetFocus();
        wt::KeyDown(dlg, 0xC1);
        EXPECT_EQ(TextOf(key, IDC_BTN_KEY_BACK), u"back");
    });
}

TEST_F(ShellTest, NotificationCodesDriveTheWindowFromTheWatcher) {
    RunMain([&](CDlgMain& dlg) {
        CDlgNotification& window = dlg.Notification();
        struct Step {
            uint32_t code;
            bool shown;
            std::u16string text;
            std::vector<int> buttons;
        };
        const Step steps[] = {
            {200, true, u"EVENTID_SHUTDOWN", {IDC_BTN_NOTIFY_SHUTDOWN, IDC_BTN_NOTIFY_CANCEL}},
            {100, false, u"EVENTID_SHUTDOWN", {}},
            {1, true, u"EVENTID_LOWBATTERY", {}},
            {300,
             true,
             u"EVENTID_MASS_OR_CHARGING",
             {IDC_BTN_NOTIFY_MASSSTORAGE, IDC_BTN_NOTIFY_CHARGING}},
            {7, true, u"EVENTID_MASS_OR_CHARGING", {}},
            {2, true, u"EVENTID_MASSSTORAGE", {}},
        };
        for (const Step& s : steps) {
            Notify(s.code);
            EXPECT_TRUE(wt::ProcessEventsUntil([&] {
                return window.IsWindowVisible() == s.shown && window.Text() == s.text &&
                       VisibleButtons(window) == s.buttons;
            })) << s.code;
        }
        // Full screen, whatever the main dialog's size.
        EXPECT_EQ(window.GetWindowRect(), (win::Rect{0, 0, 480, 272}));
    });
}

TEST_F(ShellTest, MassStorageNeedsTheCardAndChargingAnswersTwo) {
    RunMain([&](CDlgMain& dlg) {
        CDlgNotification& window = dlg.Notification();
        sys::Event answer =
            sys::Event::Create(sys::EventReset::Automatic, false, kSelectionEventName);
        Notify(300);
        ASSERT_TRUE(
            wt::ProcessEventsUntil([&] { return Visible(window, IDC_BTN_NOTIFY_CHARGING); }));
        // This device image has no card files on \SDMMC yet, or no card at all.
        EXPECT_EQ(Enabled(window, IDC_BTN_NOTIFY_MASSSTORAGE), UpdateDriveIcon() != 0);
        EXPECT_TRUE(Enabled(window, IDC_BTN_NOTIFY_CHARGING));
        wt::Click(window, IDC_BTN_NOTIFY_CHARGING);
        EXPECT_FALSE(window.IsWindowVisible());
        ASSERT_EQ(sys::WaitForSingleObject(answer, 0), sys::WAIT_OBJECT_0);
        EXPECT_EQ(sys::GetEventData(answer), SELECTION_CHARGING);
    });
}

TEST_F(ShellTest, CancelHidesTheWindowAndFocusesTheKeyPage) {
    RunMain([&](CDlgMain& dlg) {
        CDlgNotification& window = dlg.Notification();
        SelectTab(5);
        Notify(200);
        ASSERT_TRUE(wt::ProcessEventsUntil([&] { return Visible(window, IDC_BTN_NOTIFY_CANCEL); }));
        window.GetDlgItem(IDC_BTN_NOTIFY_CANCEL)->SetFocus();
        wt::Click(window, IDC_BTN_NOTIFY_CANCEL);
        EXPECT_FALSE(window.IsWindowVisible());
        EXPECT_TRUE(dlg.PageAt(5).HasFocus());
        EXPECT_TRUE(dlg.PageAt(5).IsWindowVisible()) << "the tab shown stays";
        wt::KeyDown(dlg, 0xC4);
        EXPECT_EQ(TextOf(dlg.PageAt(5), IDC_BTN_KEY_OK), u"press");
    });
}

TEST_F(ShellTest, CancelOnAnyTabLeavesTheKeysToTheKeyPage) {
    RunMain([&](CDlgMain& dlg) {
        CDlgNotification& window = dlg.Notification();
        win::Dialog& key = dlg.PageAt(5);
        for (int tab = 0; tab < 9; ++tab) {
            SCOPED_TRACE(Utf8(kTabs[tab]));
            SelectTab(tab);
            Notify(200);
            ASSERT_TRUE(
                wt::ProcessEventsUntil([&] { return Visible(window, IDC_BTN_NOTIFY_CANCEL); }));
            wt::Click(window, IDC_BTN_NOTIFY_CANCEL);
            EXPECT_FALSE(window.IsWindowVisible());
            EXPECT_TRUE(key.HasFocus());
            for (int i = 0; i < 9; ++i) {
                EXPECT_EQ(dlg.PageAt(i).IsWindowVisible(), i == tab) << "the tab shown stays";
            }
            // The keys come as the keypad sends them (devctl key back press).
            ::testing::internal::CaptureStdout();
            win::PostHardwareKey(0xC1, true);
            const bool pressed =
                wt::ProcessEventsUntil([&] { return TextOf(key, IDC_BTN_KEY_BACK) == u"press"; });
            EXPECT_EQ(::testing::internal::GetCapturedStdout(), "IDC_BTN_KEY_BACK_down\r\n");
            EXPECT_TRUE(pressed);
            ::testing::internal::CaptureStdout();
            win::PostHardwareKey(0xC1, false);
            const bool released =
                wt::ProcessEventsUntil([&] { return TextOf(key, IDC_BTN_KEY_BACK) == u"back"; });
            EXPECT_EQ(::testing::internal::GetCapturedStdout(), "IDC_BTN_KEY_BACK_UP\r\n");
            EXPECT_TRUE(released);
        }
    });
}

TEST_F(ShellTest, AFloodOfCodesEndsInTheStateOfTheLastOne) {
    RunMain([&](CDlgMain& dlg) {
        CDlgNotification& window = dlg.Notification();
        std::thread component([this] {
            const uint32_t codes[] = {300, 7, 200, 100, 12345, 2, 0, 200};
            for (int i = 0; i < 999; ++i) {
                Notify(codes[i % 8]);
            }
            Notify(1);
        });
        // The UI keeps handling its timers meanwhile.
        Advance(2000ms);
        component.join();
        EXPECT_TRUE(wt::ProcessEventsUntil([&] {
            return window.IsWindowVisible() && window.Text() == u"EVENTID_LOWBATTERY" &&
                   VisibleButtons(window).empty();
        }));
        EXPECT_EQ(TextOf(dlg.PageAt(0), IDC_STATIC_BATTERY), u"Battery percent:87%");
    });
}

TEST_F(ShellTest, TheWatcherEndsBeforeTheWindowsGo) {
    std::unique_ptr<CDlgMain> dlg = std::make_unique<CDlgMain>();
    main_ = dlg.get();
    wt::RunModal(*dlg, [&] {
        EXPECT_TRUE(dlg->WatcherRunning());
        dlg->EndDialog(win::IDOK);
    });
    main_ = nullptr;
    EXPECT_FALSE(dlg->WatcherRunning());
    dlg.reset();
    // A notification after the dialog is gone finds nothing to call.
    Notify(1);
    wt::ProcessEvents();
}

} // namespace
} // namespace devtest::test
