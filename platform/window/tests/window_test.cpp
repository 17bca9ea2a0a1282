// Dialogs from templates: widgets and their places, the modal loop and how it
// ends, child pages, keys before dispatch and timers on the test clock.

#include "window_fixture.h"

#include <platform/system/clock.h>
#include <platform/window/screen.h>

#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>

namespace hh::win::test {
namespace {

using namespace std::chrono_literals;
namespace t = hh::win::testing;

DialogTemplate AllKinds() {
    return Tpl({
        Ctl(1001, u"BUTTON", u"open", BS_PUSHBUTTON, DluRect(10, 10, 40, 14)),
        Ctl(1002, u"BUTTON", u"Log all", BS_AUTOCHECKBOX, DluRect(10, 30, 40, 10)),
        Ctl(1003, u"BUTTON", u"One", BS_AUTORADIOBUTTON, DluRect(10, 45, 40, 10)),
        Ctl(1004, u"BUTTON", u"Group", BS_GROUPBOX, DluRect(60, 10, 60, 40)),
        Ctl(1005, u"EDIT", u"abc", ES_AUTOHSCROLL, DluRect(60, 60, 50, 12)),
        Ctl(1006, u"EDIT", u"", ES_MULTILINE | WS_VSCROLL, DluRect(120, 10, 70, 50)),
        Ctl(1007, u"STATIC", u"Baud", SS_CENTER, DluRect(10, 60, 40, 8)),
        Ctl(1008, u"COMBOBOX", u"", CBS_DROPDOWNLIST, DluRect(10, 75, 50, 60)),
        Ctl(1009, u"msctls_trackbar32", u"", 0, DluRect(70, 80, 60, 15)),
        Ctl(1010, u"msctls_progress32", u"", 0, DluRect(70, 100, 60, 14)),
        ControlTemplate{1011, u"STATIC", u"hidden", WS_CHILD, DluRect(150, 100, 30, 8)},
        Ctl(1012, u"BUTTON", u"off", BS_PUSHBUTTON | WS_DISABLED, DluRect(150, 70, 30, 14)),
    });
}

TEST_F(WindowTest, TemplateBecomesWidgetsPlacedInDialogUnitsOfItsFont) {
    Recorder dialog(AllKinds());
    ASSERT_TRUE(dialog.Create(nullptr));

    QFont font(QStringLiteral("Liberation Sans"));
    font.setPixelSize(11);
    const QFontMetrics metrics(font);
    const BaseUnits units{AverageCharWidth(metrics.horizontalAdvance(QStringLiteral(
                              "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"))),
                          metrics.height()};
    EXPECT_GE(units.cx, 5);
    EXPECT_LE(units.cx, 7);
    EXPECT_GE(units.cy, 12);
    EXPECT_LE(units.cy, 14);

    const Rect client = dialog.GetClientRect();
    EXPECT_EQ(client, DluToPixels(DluRect(0, 0, 200, 120), units));

    struct Case {
        int id;
        const char* qtClass;
    };
    const Case kinds[] = {{1001, "QPushButton"}, {1002, "QCheckBox"}, {1003, "QRadioButton"},
                          {1004, "QGroupBox"},   {1005, "QLineEdit"}, {1006, "QPlainTextEdit"},
                          {1007, "QLabel"},      {1008, "QComboBox"}, {1009, "QSlider"},
                          {1010, "QProgressBar"}};
    for (const Case& c : kinds) {
        Control* control = dialog.GetDlgItem(c.id);
        ASSERT_NE(control, nullptr) << c.id;
        EXPECT_TRUE(control->Widget()->inherits(c.qtClass)) << c.id;
    }
    for (const ControlTemplate& tpl : dialog.Template().controls) {
        if (tpl.windowClass == u"COMBOBOX") {
            continue; // its field keeps its own height
        }
        const QRect g = dialog.GetDlgItem(tpl.id)->Widget()->geometry();
        EXPECT_EQ((Rect{g.left(), g.top(), g.left() + g.width(), g.top() + g.height()}),
                  DluToPixels(tpl.dlu, units))
            << tpl.id;
    }
    EXPECT_EQ(dialog.GetDlgItemText(1001), u"open");
    EXPECT_EQ(dialog.GetDlgItemText(1005), u"abc");
    EXPECT_EQ(dialog.GetDlgItemText(1007), u"Baud");
    EXPECT_EQ(dialog.GetDlgItemText(1004), u"Group");
    EXPECT_EQ(dialog.GetDlgItem(9999), nullptr);
    EXPECT_TRUE(dialog.GetDlgItem(1011)->Widget()->isHidden());
    EXPECT_FALSE(dialog.GetDlgItem(1012)->IsWindowEnabled());
    EXPECT_NE(dialog.Item<Edit>(1005), nullptr);
    EXPECT_EQ(dialog.Item<Edit>(1001), nullptr);
}

TEST_F(WindowTest, UnknownWindowClassFailsTheDialog) {
    Recorder dialog(Tpl({Ctl(1, u"SysListView32", u"", 0, DluRect(0, 0, 10, 10))}));
    EXPECT_EQ(dialog.DoModal(), -1);
    EXPECT_FALSE(dialog.IsCreated());
}

TEST_F(WindowTest, ModalDialogEndsOnEnterEscapeAndTheCaptionButton) {
    struct Case {
        const char* what;
        std::uint32_t exStyle;
        bool withDefaultButton;
        std::function<void(Dialog&)> act;
        std::intptr_t expected;
        int command;
    };
    const Case cases[] = {
        {"Enter", 0, false, [](Dialog& d) { t::PressEnter(d); }, IDOK, IDOK},
        {"Escape", 0, false, [](Dialog& d) { t::PressEscape(d); }, IDCANCEL, IDCANCEL},
        {"caption OK", WS_EX_CAPTIONOKBTN, false, [](Dialog& d) { t::PressCaptionOk(d); }, IDOK,
         IDOK},
        {"caption close", 0, false, [](Dialog& d) { t::PressCaptionOk(d); }, IDCANCEL, IDCANCEL},
        {"Enter with default button", 0, true, [](Dialog& d) { t::PressEnter(d); }, IDOK, 1},
    };
    for (const Case& c : cases) {
        std::vector<ControlTemplate> controls{
            Ctl(1000, u"EDIT", u"", ES_AUTOHSCROLL | WS_TABSTOP, DluRect(5, 5, 50, 12))};
        if (c.withDefaultButton) {
            controls.push_back(Ctl(1, u"BUTTON", u"OK", BS_DEFPUSHBUTTON, DluRect(5, 30, 40, 14)));
        }
        Recorder dialog(Tpl(controls, WS_POPUP | WS_CAPTION | WS_SYSMENU, c.exStyle));
        const std::intptr_t result = t::RunModal(dialog, [&] { c.act(dialog); });
        EXPECT_EQ(result, c.expected) << c.what;
        ASSERT_FALSE(dialog.commands.empty()) << c.what;
        EXPECT_EQ(dialog.commands.back().first, c.command) << c.what;
        EXPECT_EQ(dialog.destroyed, 1) << c.what;
        EXPECT_FALSE(dialog.IsCreated()) << c.what;
    }
}

TEST_F(WindowTest, EndDialogDuringInitialisationEndsBeforeTheLoop) {
    Recorder dialog(Tpl({}));
    dialog.onInit = [&] {
        dialog.EndDialog(42);
        return true;
    };
    EXPECT_EQ(dialog.DoModal(), 42);
}

TEST_F(WindowTest, MainDialogFillsTheWorkAreaAndChildPagesDieWithIt) {
    Recorder page(Tpl({Ctl(2000, u"STATIC", u"page", 0, DluRect(0, 0, 20, 8))}, WS_CHILD));
    Recorder dialog(Tpl({Ctl(1013, u"SysTabControl32", u"", TCS_BOTTOM, DluRect(0, 0, 200, 100))}));
    Rect area;
    bool pageVisibleInTab = false;
    dialog.onInit = [&] {
        auto* tab = dialog.Item<TabControl>(1013);
        tab->InsertItem(0, u"Com Info");
        EXPECT_TRUE(page.Create(tab));
        return true;
    };
    const auto result = t::RunModal(dialog, [&] {
        area = dialog.GetWindowRect();
        pageVisibleInTab = dialog.Item<TabControl>(1013)->Widget()->isAncestorOf(page.Widget());
        EXPECT_EQ(Dialog::MainDialog(), &dialog);
        dialog.EndDialog(IDOK);
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(area, GetWorkArea());
    EXPECT_TRUE(pageVisibleInTab);
    EXPECT_EQ(page.destroyed, 1);
    EXPECT_FALSE(page.IsCreated());
    EXPECT_EQ(Dialog::MainDialog(), nullptr);
}

TEST_F(WindowTest, NestedModalDialogKeepsItsSizeCentred) {
    DialogTemplate boxTpl =
        Tpl({Ctl(1, u"BUTTON", u"OK", BS_DEFPUSHBUTTON, DluRect(23, 78, 69, 25))});
    boxTpl.widthDlu = 116;
    boxTpl.heightDlu = 110;
    Recorder box(boxTpl);
    Recorder main(Tpl({}));
    Rect boxRect;
    std::intptr_t boxResult = 0;
    bool mainEnabledDuringBox = true;
    t::RunModal(main, [&] {
        boxResult = t::RunModal(box, [&] {
            boxRect = box.GetWindowRect();
            mainEnabledDuringBox = main.IsWindowEnabled();
            t::PressEnter(box); // the default push button
        });
        EXPECT_TRUE(main.IsWindowEnabled()); // the owner takes input again
        main.EndDialog(IDOK);
    });
    EXPECT_FALSE(mainEnabledDuringBox);
    EXPECT_EQ(boxResult, IDOK);
    EXPECT_EQ(box.commands.front(), std::make_pair(1, BN_CLICKED));
    const Rect area = GetWorkArea();
    EXPECT_LT(boxRect.Width(), area.Width());
    EXPECT_NEAR((boxRect.left + boxRect.right) / 2, area.Width() / 2, 1);
}

TEST_F(WindowTest, KeysPassThroughPreTranslationBeforeDispatch) {
    Recorder dialog(Tpl({Ctl(1000, u"EDIT", u"", ES_AUTOHSCROLL, DluRect(5, 5, 50, 12))}));
    ASSERT_TRUE(dialog.Create(nullptr));
    dialog.ShowWindow(SW_SHOW);
    dialog.GetDlgItem(1000)->SetFocus();

    dialog.consumeKeys = true;
    t::PressKey(dialog, 0xC1);
    t::PressKey(dialog, 'A');
    ASSERT_EQ(dialog.keys.size(), 4u);
    EXPECT_EQ(dialog.keys[0].message, WM_KEYDOWN);
    EXPECT_EQ(dialog.keys[0].virtualKey, 0xC1);
    EXPECT_EQ(dialog.keys[1].message, WM_KEYUP);
    EXPECT_EQ(dialog.keys[1].virtualKey, 0xC1);
    EXPECT_EQ(dialog.keys[0].target, dialog.GetDlgItem(1000));
    EXPECT_EQ(dialog.GetDlgItemText(1000), u""); // consumed before the edit saw it

    dialog.consumeKeys = false;
    t::PressKey(dialog, 'A');
    EXPECT_EQ(dialog.GetDlgItemText(1000), u"a");
}

TEST_F(WindowTest, TimersFirePerWindowAndIdInOrderOfDueTime) {
    hh::sys::TestClock clock;
    Recorder a(Tpl({}));
    Recorder b(Tpl({}));
    ASSERT_TRUE(a.Create(nullptr));
    ASSERT_TRUE(b.Create(nullptr));
    std::vector<std::pair<char, std::uintptr_t>> fired;
    a.onTimer = [&](std::uintptr_t id) { fired.emplace_back('a', id); };
    b.onTimer = [&](std::uintptr_t id) { fired.emplace_back('b', id); };

    a.SetTimer(1, 100);
    a.SetTimer(2, 250);
    b.SetTimer(1, 100);
    t::AdvanceAndProcess(clock, 99ms);
    EXPECT_TRUE(fired.empty());
    t::AdvanceAndProcess(clock, 201ms); // now 300
    const std::vector<std::pair<char, std::uintptr_t>> expected{
        {'a', 1}, {'b', 1}, {'a', 1}, {'b', 1}, {'a', 2}, {'a', 1}, {'b', 1}};
    EXPECT_EQ(fired, expected);

    fired.clear();
    a.KillTimer(1);
    EXPECT_FALSE(a.KillTimer(1));
    b.SetTimer(1, 1000);                // restarts with the new period
    t::AdvanceAndProcess(clock, 500ms); // now 800: a2 at 500 and 750
    EXPECT_EQ(fired, (std::vector<std::pair<char, std::uintptr_t>>{{'a', 2}, {'a', 2}}));

    fired.clear();
    a.KillTimer(2);
    a.SetTimer(7, 0); // the minimum period, 10 ms
    t::AdvanceAndProcess(clock, 30ms);
    EXPECT_EQ(fired, (std::vector<std::pair<char, std::uintptr_t>>{{'a', 7}, {'a', 7}, {'a', 7}}));
}

TEST_F(WindowTest, KilledTimerDeliversNothingAlreadyQueued) {
    hh::sys::TestClock clock;
    Recorder a(Tpl({}));
    ASSERT_TRUE(a.Create(nullptr));
    a.SetTimer(5, 100);
    clock.advance(500ms); // five occurrences queued
    a.onTimer = [&](std::uintptr_t id) { a.KillTimer(id); };
    t::ProcessEvents();
    EXPECT_EQ(a.timers.size(), 1u);
}

TEST_F(WindowTest, PostedAndSentMessagesReachTheHandler) {
    Recorder dialog(Tpl({}));
    EXPECT_FALSE(dialog.PostMessage(WM_USER + 1, 1, 0)); // no window yet
    ASSERT_TRUE(dialog.Create(nullptr));
    for (WPARAM i = 0; i < 5; ++i) {
        EXPECT_TRUE(dialog.PostMessage(WM_USER + 1, i, 0));
    }
    EXPECT_TRUE(dialog.messages.empty());                  // queued
    EXPECT_EQ(dialog.SendMessage(WM_USER + 2, 40, 2), 42); // direct on the UI thread
    t::ProcessEvents();
    ASSERT_EQ(dialog.messages.size(), 6u);
    for (WPARAM i = 0; i < 5; ++i) {
        EXPECT_EQ(dialog.messages[i + 1], std::make_pair(WM_USER + 1, i));
    }
}

TEST_F(WindowTest, MessagesPostedToADestroyedDialogAreDropped) {
    auto dialog = std::make_unique<Recorder>(Tpl({}));
    ASSERT_TRUE(dialog->Create(nullptr));
    dialog->PostMessage(WM_USER + 1, 1, 0);
    dialog.reset();
    t::ProcessEvents(); // nothing to deliver to, nothing crashes
    SUCCEED();
}

} // namespace
} // namespace hh::win::test
