// The terminal window without a port: start-up, layout, panels, toggles,
// presets, tabs.

#include "terminal_fixture.h"

#include <platform/system/named_mutex.h>
#include <platform/window/screen.h>
#include <platform/window/testing.h>
#include <terminal/core/layout.h>
#include <terminal/core/settings.h>
#include <terminal/page/shared_state.h>

namespace terminal::test {
namespace {

using namespace hh::win;
namespace wt = hh::win::testing;

std::vector<std::u16string> Entries(CDlgTerminal& dlg, int id) {
    std::vector<std::u16string> entries;
    auto* combo = dlg.Item<ComboBox>(id);
    for (int i = 0; combo && i < combo->GetCount(); ++i) {
        entries.push_back(combo->GetLBText(i));
    }
    return entries;
}

TEST_F(TerminalTest, StartUpFillsTheListsInOrderWithTheirDefaults) {
    Run([&](CDlgTerminal& dlg) {
        const struct {
            int id;
            SettingsList list;
        } lists[] = {
            {IDC_COMBO_COM, kComList},           {IDC_COMBO_BAUD, kBaudList},
            {IDC_COMBO_BYTESIZE, kByteSizeList}, {IDC_COMBO_STOPBITS, kStopBitsList},
            {IDC_COMBO_PARITY, kParityList},
        };
        for (const auto& l : lists) {
            const std::vector<std::u16string> expected(l.list.entries,
                                                       l.list.entries + l.list.count);
            EXPECT_EQ(Entries(dlg, l.id), expected) << l.id;
            EXPECT_EQ(dlg.Item<ComboBox>(l.id)->GetCurSel(), l.list.initialSelection) << l.id;
        }
        EXPECT_EQ(Entries(dlg, IDC_COMBO_PRESET),
                  (std::vector<std::u16string>{u"+++", u"AT+CGDCONT=1,\"IP\",\"CMNET\""}));
        EXPECT_EQ(dlg.GetWindowText(), u"VARDI 1.7I");
        EXPECT_EQ(Text(dlg, IDC_EDIT_PERIOD), u"1000");
        EXPECT_EQ(Text(dlg, IDC_BTN_OPEN), u"open");
        EXPECT_EQ(Text(dlg, IDC_RX_COUNT), u"0");
        EXPECT_EQ(Text(dlg, IDC_TX_COUNT), u"0");
        auto* tab = dlg.Item<TabControl>(IDC_TAB);
        ASSERT_EQ(tab->GetItemCount(), 2);
        EXPECT_EQ(tab->GetCurSel(), 0);
        EXPECT_TRUE(g_hDrawPillarEvent);
        EXPECT_NE(g_pNmeaPage.load(), nullptr);
    });
}

TEST_F(TerminalTest, StartUpFillsTheScreenHidesTheTaskBarAndLaysOutEveryControl) {
    Run([&](CDlgTerminal& dlg) {
        const int sw = GetSystemMetrics(SM_CXSCREEN);
        const int sh = GetSystemMetrics(SM_CYSCREEN);
        EXPECT_EQ(sw, 480);
        EXPECT_EQ(sh, 272);
        EXPECT_EQ(dlg.GetWindowRect(), (Rect{0, 0, sw, sh}));
        EXPECT_EQ(GetWorkArea(), (Rect{0, 0, sw, sh}));
        Window* taskBar = FindWindow(u"HHTaskBar");
        ASSERT_NE(taskBar, nullptr);
        EXPECT_FALSE(taskBar->IsWindowVisible());

        const Rect client = dlg.GetClientRect();
        const Rect origin = dlg.GetDlgItem(IDC_TAB)->GetWindowRect();
        const Rect clientOrigin{origin.left, origin.top, 0, 0};
        for (const ControlRect& r : ComputeTerminalLayout(client.Width(), client.Height(), sw)) {
            if (r.id == kLayoutNmeaPage) {
                continue;
            }
            const Rect got = dlg.GetDlgItem(r.id)->GetWindowRect();
            EXPECT_EQ(got.left - clientOrigin.left, r.x) << r.id;
            EXPECT_EQ(got.top - clientOrigin.top, r.y) << r.id;
            EXPECT_EQ(got.Width(), r.width) << r.id;
            // A combo box's field keeps its own height.
            if (dlg.GetDlgItem(r.id)->ClassName() != u"COMBOBOX") {
                EXPECT_EQ(got.Height(), r.height) << r.id;
            }
        }
    });
}

TEST_F(TerminalTest, PanelsAtStartAndAfterEachPressOfEx) {
    const std::vector<int> settings = {IDC_LABEL_COM,      IDC_LABEL_BAUD,     IDC_LABEL_PARITY,
                                       IDC_LABEL_BYTESIZE, IDC_LABEL_STOPBITS, IDC_COMBO_COM,
                                       IDC_COMBO_BAUD,     IDC_COMBO_BYTESIZE, IDC_COMBO_STOPBITS,
                                       IDC_COMBO_PARITY,   IDC_CHK_LOGALL,     IDC_CHK_HEX};
    const std::vector<int> sendOnly = {IDC_CHK_AUTO, IDC_EDIT_PERIOD, IDC_EDIT_SEND,
                                       IDC_BTN_SEND, IDC_LABEL_MS,    IDC_COMBO_PRESET};
    const std::vector<int> sendShared = {IDC_CHK_END, IDC_CHK_ESC, IDC_CHK_CRLF, IDC_BTN_CLEAR_SEND,
                                         IDC_BTN_SEND_HEX};
    const std::vector<int> always = {IDC_TAB,         IDC_EDIT_RECEIVE, IDC_BTN_OPEN,
                                     IDC_BTN_CLEAR,   IDC_BTN_KEYBOARD, IDC_BTN_EX,
                                     IDC_BTN_TASKBAR, IDC_BTN_SAVE,     IDC_LABEL_R,
                                     IDC_RX_COUNT,    IDC_LABEL_W,      IDC_TX_COUNT};
    struct State {
        bool settings, sendOnly, sendShared;
    };
    const State states[] = {
        {true, false, true},  // start-up
        {false, true, true},  // first press: the send panel
        {true, false, false}, // second press: the settings panel alone
    };
    Run([&](CDlgTerminal& dlg) {
        for (int press = 0; press < 3; ++press) {
            if (press > 0) {
                wt::Click(dlg, IDC_BTN_EX);
            }
            const State& s = states[press];
            for (int id : settings) {
                EXPECT_EQ(Visible(dlg, id), s.settings) << "press " << press << " id " << id;
            }
            for (int id : sendOnly) {
                EXPECT_EQ(Visible(dlg, id), s.sendOnly) << "press " << press << " id " << id;
            }
            for (int id : sendShared) {
                EXPECT_EQ(Visible(dlg, id), s.sendShared) << "press " << press << " id " << id;
            }
            for (int id : always) {
                EXPECT_TRUE(Visible(dlg, id)) << "press " << press << " id " << id;
            }
        }
        EXPECT_FALSE(dlg.SendPanelShown());
    });
}

TEST_F(TerminalTest, KeyboardAndTaskBarToggleAndReturn) {
    Run([&](CDlgTerminal& dlg) {
        const int sw = GetSystemMetrics(SM_CXSCREEN);
        const int sh = GetSystemMetrics(SM_CYSCREEN);
        wt::Click(dlg, IDC_BTN_KEYBOARD);
        EXPECT_TRUE(IsInputPanelVisible());
        wt::Click(dlg, IDC_BTN_KEYBOARD);
        EXPECT_FALSE(IsInputPanelVisible());

        Window* taskBar = FindWindow(u"HHTaskBar");
        ASSERT_NE(taskBar, nullptr);
        {
            ClockPump pump(*m_clock);
            wt::Click(dlg, IDC_BTN_TASKBAR);
        }
        EXPECT_TRUE(taskBar->IsWindowVisible());
        EXPECT_EQ(GetWorkArea(), (Rect{0, 0, sw, sh - kTaskBarHeight}));
        EXPECT_EQ(dlg.GetWindowRect(), (Rect{0, 0, sw, sh}));
        {
            ClockPump pump(*m_clock);
            wt::Click(dlg, IDC_BTN_TASKBAR);
        }
        EXPECT_FALSE(taskBar->IsWindowVisible());
        EXPECT_EQ(GetWorkArea(), (Rect{0, 0, sw, sh}));
        EXPECT_FALSE(dlg.TaskBarShown());
    });
    // The end of the dialog shows the task bar again.
    Window* taskBar = FindWindow(u"HHTaskBar");
    ASSERT_NE(taskBar, nullptr);
    EXPECT_TRUE(taskBar->IsWindowVisible());
}

TEST_F(TerminalTest, PresetFillsTheSendBoxAndClearButtonsEmpty) {
    auto pty = MapPort(3);
    Run([&](CDlgTerminal& dlg) {
        SelectPort(dlg, 3);
        PressOpen(dlg);
        wt::Click(dlg, IDC_BTN_EX);
        wt::SelectComboEntry(dlg, IDC_COMBO_PRESET, 0);
        EXPECT_EQ(Text(dlg, IDC_EDIT_SEND), u"+++");
        EXPECT_EQ(pty->Drain(), "");
        EXPECT_EQ(Text(dlg, IDC_TX_COUNT), u"0");
        wt::Click(dlg, IDC_BTN_CLEAR_SEND);
        EXPECT_EQ(Text(dlg, IDC_EDIT_SEND), u"");

        dlg.SetDlgItemText(IDC_EDIT_RECEIVE, u"old\r\ntext");
        wt::Click(dlg, IDC_BTN_CLEAR);
        EXPECT_EQ(Text(dlg, IDC_EDIT_RECEIVE), u"");
    });
}

TEST_F(TerminalTest, NmeaTabHidesTheDisplayAndShowsThePage) {
    Run([&](CDlgTerminal& dlg) {
        CDlgNMEA* page = g_pNmeaPage.load();
        ASSERT_NE(page, nullptr);
        EXPECT_FALSE(page->IsWindowVisible());
        wt::SelectTab(dlg, IDC_TAB, 1);
        EXPECT_FALSE(Visible(dlg, IDC_EDIT_RECEIVE));
        EXPECT_TRUE(page->IsWindowVisible());
        wt::SelectTab(dlg, IDC_TAB, 0);
        EXPECT_TRUE(Visible(dlg, IDC_EDIT_RECEIVE));
        EXPECT_FALSE(page->IsWindowVisible());
    });
}

TEST_F(TerminalTest, SendWithoutAPortWritesTheDebugLineOnly) {
    Run([&](CDlgTerminal& dlg) {
        wt::Click(dlg, IDC_BTN_EX);
        dlg.SetDlgItemText(IDC_EDIT_SEND, u"AB");
        wt::Click(dlg, IDC_BTN_SEND);
        EXPECT_EQ(Text(dlg, IDC_TX_COUNT), u"0");
        EXPECT_EQ(dlg.TxTotal(), 0);
    });
    EXPECT_EQ(ReadHostFile(m_root + "/debug.log"),
              "obrel->Write com data failed, com was closed.\n");
}

TEST_F(TerminalTest, SendWithAnEmptyBoxOnlyFocusesIt) {
    Run([&](CDlgTerminal& dlg) {
        wt::Click(dlg, IDC_BTN_EX);
        wt::Click(dlg, IDC_BTN_SEND_HEX);
        EXPECT_TRUE(dlg.GetDlgItem(IDC_EDIT_SEND)->HasFocus());
        ClickBox(dlg, IDC_CHK_AUTO);
        EXPECT_FALSE(g_hAutoSendThread);
        EXPECT_TRUE(Enabled(dlg, IDC_EDIT_PERIOD));
    });
}

TEST_F(TerminalTest, AnEventNameThatIsTakenEndsTheProgramWithItsMessage) {
    hh::sys::Mutex blocker = hh::sys::Mutex::Create(false, "EVENT_DRAW_PILLAR");
    ASSERT_TRUE(blocker);
    CDlgTerminal dlg;
    {
        ClockPump pump(*m_clock);
        EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    }
    const auto boxes = Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, u"create eventend failed");
    EXPECT_EQ(boxes[0].caption, u"err");
}

} // namespace
} // namespace terminal::test
