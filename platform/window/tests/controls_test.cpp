// The controls' operations with the window system's semantics.

#include "window_fixture.h"

#include <platform/window/edit_selection.h>

#include <QComboBox>
#include <QImage>
#include <QPlainTextEdit>

namespace hh::win::test {
namespace {

namespace t = hh::win::testing;

class ControlsTest : public WindowTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(dialog.Create(nullptr));
        dialog.ShowWindow(SW_SHOW);
    }

    Recorder dialog{Tpl({
        Ctl(1074, u"COMBOBOX", u"", CBS_DROPDOWNLIST | CBS_SORT, DluRect(5, 5, 60, 60)),
        Ctl(1003, u"COMBOBOX", u"", CBS_DROPDOWN, DluRect(5, 20, 60, 60)),
        Ctl(1000, u"EDIT", u"", ES_MULTILINE | ES_AUTOVSCROLL | WS_VSCROLL,
            DluRect(70, 5, 120, 50)),
        Ctl(1007, u"EDIT", u"", ES_AUTOHSCROLL, DluRect(5, 40, 60, 12)),
        Ctl(1018, u"EDIT", u"", ES_NUMBER, DluRect(5, 55, 60, 12)),
        Ctl(1033, u"BUTTON", u"Log all", BS_AUTOCHECKBOX, DluRect(5, 70, 50, 10)),
        Ctl(1034, u"BUTTON", u"manual", BS_CHECKBOX, DluRect(5, 82, 50, 10)),
        Ctl(1013, u"SysTabControl32", u"", 0, DluRect(70, 60, 120, 30)),
        Ctl(1003 + 100, u"msctls_trackbar32", u"", 0, DluRect(70, 95, 100, 15)),
        Ctl(1010, u"msctls_progress32", u"", 0, DluRect(5, 100, 60, 10)),
    })};
};

TEST_F(ControlsTest, SortedComboSortsAddedEntriesButKeepsInsertedPositions) {
    auto* presets = dialog.Item<ComboBox>(1074);
    EXPECT_EQ(presets->AddString(u"AT+CGDCONT=1,\"IP\",\"CMNET\""), 0);
    EXPECT_EQ(presets->AddString(u"+++"), 0);       // sorted before "AT..."
    EXPECT_EQ(presets->AddString(u"at"), 1);        // case-insensitive, after "+++"
    EXPECT_EQ(presets->InsertString(0, u"zzz"), 0); // explicit position: no sorting
    EXPECT_EQ(presets->InsertString(-1, u"aaa"), 4);
    EXPECT_EQ(presets->InsertString(9, u"x"), CB_ERR);
    const std::u16string expected[] = {u"zzz", u"+++", u"at", u"AT+CGDCONT=1,\"IP\",\"CMNET\"",
                                       u"aaa"};
    ASSERT_EQ(presets->GetCount(), 5);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(presets->GetLBText(i), expected[i]);
    }
    EXPECT_EQ(presets->GetCurSel(), CB_ERR); // adding never selects
    EXPECT_EQ(presets->GetWindowText(), u"");
    EXPECT_EQ(presets->GetLBText(7), u"");
    EXPECT_EQ(presets->FindStringExact(u"AT"), 2);
}

TEST_F(ControlsTest, ComboItemDataSelectionAndUserChoice) {
    auto* combo = dialog.Item<ComboBox>(1074);
    for (int v : {300, 50, 100}) {
        const int index = combo->AddString(u"x" + FormatDlgItemInt(v, true));
        combo->SetItemData(index, static_cast<std::uintptr_t>(v));
    }
    EXPECT_EQ(combo->GetItemData(0), 100); // "x100" sorts first
    EXPECT_EQ(combo->GetItemData(2), 50);
    EXPECT_EQ(combo->GetItemData(3), CB_ERR);
    EXPECT_FALSE(combo->SetItemData(-1, 1));
    EXPECT_EQ(combo->SetCurSel(1), 1);
    EXPECT_EQ(combo->GetWindowText(), u"x300");
    EXPECT_EQ(combo->SetCurSel(5), CB_ERR);
    EXPECT_EQ(combo->GetCurSel(), CB_ERR);
    EXPECT_TRUE(dialog.commands.empty()); // program selections do not notify

    t::SelectComboEntry(dialog, 1074, 2);
    ASSERT_EQ(dialog.commands.size(), 1u);
    EXPECT_EQ(dialog.commands[0], std::make_pair(1074, CBN_SELCHANGE));
    EXPECT_EQ(combo->GetCurSel(), 2);
}

TEST_F(ControlsTest, EditableComboKeepsTypedText) {
    auto* ports = dialog.Item<ComboBox>(1003);
    ports->AddString(u"COM1:");
    ports->AddString(u"COM7:");
    ports->SetCurSel(1);
    EXPECT_EQ(ports->GetWindowText(), u"COM7:");
    ports->SetWindowText(u"COM9:");
    EXPECT_EQ(ports->GetWindowText(), u"COM9:");
    EXPECT_EQ(ports->GetCurSel(), CB_ERR); // the field no longer shows an entry
}

TEST_F(ControlsTest, EditSelectionPastTheEndAppends) {
    struct Case {
        int id;
        std::u16string initial;
    };
    for (const Case& c : {Case{1000, u"line one\r\nline two"}, Case{1007, u"abc"}}) {
        Edit* edit = dialog.Item<Edit>(c.id);
        edit->SetWindowText(c.initial);
        edit->SetSel(30000, 30000);
        edit->ScrollCaret();
        edit->ReplaceSel(u"\r\nmore");
        EXPECT_EQ(edit->GetWindowText(), c.initial + u"\r\nmore") << c.id;
        long start = -1;
        long end = -1;
        edit->GetSel(&start, &end);
        EXPECT_EQ(start, static_cast<long>(c.initial.size() + 6)) << c.id;
        EXPECT_EQ(end, start);
        EXPECT_EQ(edit->GetWindowTextLength(), static_cast<int>(c.initial.size() + 6));
    }
}

TEST_F(ControlsTest, MultiLineEditCountsCrLfInPositions) {
    Edit* edit = dialog.Item<Edit>(1000);
    edit->SetWindowText(u"ab\r\ncd\r\nef");
    edit->SetSel(4, 6); // "cd"
    edit->ReplaceSel(u"XY\r\nZ");
    EXPECT_EQ(edit->GetWindowText(), u"ab\r\nXY\r\nZ\r\nef");
    auto* widget = qobject_cast<QPlainTextEdit*>(edit->Widget());
    EXPECT_EQ(widget->toPlainText(), QStringLiteral("ab\nXY\nZ\nef"));
    edit->SetSel(0, -1);
    long start = 0;
    long end = 0;
    edit->GetSel(&start, &end);
    EXPECT_EQ(start, 0);
    EXPECT_EQ(end, 13);
    edit->SetSel(-1, 0); // deselect
    edit->GetSel(&start, &end);
    EXPECT_EQ(start, end);
    // A break split by the insertion point: text ending in CR followed by LF joins into one break.
    edit->SetWindowText(u"a\r");
    edit->SetSel(2, 2);
    edit->ReplaceSel(u"\nb");
    EXPECT_EQ(edit->GetWindowText(), u"a\r\nb");
    EXPECT_EQ(widget->toPlainText(), QStringLiteral("a\nb"));
    edit->SetWindowText(u"");
    EXPECT_EQ(edit->GetWindowTextLength(), 0);
}

TEST_F(ControlsTest, TypedTextAndNumbers) {
    t::TypeText(dialog, 1007, u"+++");
    EXPECT_EQ(dialog.GetDlgItemText(1007), u"+++");
    t::TypeText(dialog, 1018, u"12a3");
    EXPECT_EQ(dialog.GetDlgItemText(1018), u"123"); // digits only
    EXPECT_TRUE(dialog.SetDlgItemInt(1018, -250, true));
    bool ok = false;
    EXPECT_EQ(dialog.GetDlgItemInt(1018, &ok, true), -250);
    EXPECT_TRUE(ok);
    dialog.SetDlgItemText(1018, u"x");
    EXPECT_EQ(dialog.GetDlgItemInt(1018, &ok, true), 0);
    EXPECT_FALSE(ok);
    EXPECT_EQ(dialog.GetDlgItemInt(4242, &ok), 0);
    EXPECT_FALSE(ok);
}

TEST_F(ControlsTest, AutoCheckBoxTogglesBeforeClickedManualOneDoesNot) {
    std::vector<int> statesSeen;
    dialog.onCommand = [&](int id, int) { statesSeen.push_back(dialog.IsDlgButtonChecked(id)); };
    t::Click(dialog, 1033);
    t::Click(dialog, 1033);
    t::Click(dialog, 1034);
    EXPECT_EQ(statesSeen, (std::vector<int>{BST_CHECKED, BST_UNCHECKED, BST_UNCHECKED}));
    EXPECT_EQ(dialog.commands.back(), std::make_pair(1034, BN_CLICKED));
    dialog.CheckDlgButton(1034, BST_CHECKED);
    EXPECT_EQ(dialog.IsDlgButtonChecked(1034), BST_CHECKED);
    EXPECT_EQ(dialog.commands.size(), 3u); // BM_SETCHECK does not notify
}

TEST_F(ControlsTest, TabFocusNotifiesOnceSelectionDoesNot) {
    auto* tab = dialog.Item<TabControl>(1013);
    std::vector<Notification> changes;
    dialog.onNotify = [&](const Notification& n) -> LRESULT {
        if (n.code == TCN_SELCHANGE) {
            changes.push_back(n);
        }
        return 0;
    };
    EXPECT_EQ(tab->InsertItem(0, u"Com Info"), 0);
    EXPECT_EQ(tab->InsertItem(1, u"NMEA"), 1);
    EXPECT_EQ(tab->InsertItem(9, u"Last"), 2);
    EXPECT_EQ(tab->GetCurFocus(), 0);
    EXPECT_TRUE(changes.empty());

    tab->SetCurSel(2);
    EXPECT_TRUE(changes.empty());
    tab->SetCurFocus(2); // unchanged: nothing
    EXPECT_TRUE(changes.empty());
    tab->SetCurFocus(1);
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].code, TCN_SELCHANGE);
    EXPECT_EQ(changes[0].idFrom, 1013);
    EXPECT_EQ(tab->GetCurFocus(), 1);

    t::SelectTab(dialog, 1013, 0);
    ASSERT_EQ(changes.size(), 2u);
    EXPECT_EQ(tab->GetCurFocus(), 0);
}

TEST_F(ControlsTest, TrackbarClampsAndAsksForCustomDrawWhenPainting) {
    auto* track = dialog.Item<Trackbar>(1103);
    track->SetRange(1, 100, false);
    track->SetPos(0);
    EXPECT_EQ(track->GetPos(), 1);
    track->SetPos(250);
    EXPECT_EQ(track->GetPos(), 100);

    std::vector<std::pair<std::uint32_t, std::uintptr_t>> stages;
    int positionSeen = 0;
    dialog.onNotify = [&](const Notification& n) -> LRESULT {
        if (n.code != NM_CUSTOMDRAW) {
            return 0;
        }
        EXPECT_NE(n.surface, nullptr);
        stages.emplace_back(n.drawStage, n.itemSpec);
        positionSeen = track->GetPos();
        return n.drawStage == CDDS_PREPAINT ? CDRF_NOTIFYITEMDRAW | CDRF_NOTIFYPOSTPAINT : 0;
    };
    t::Grab(*track);
    const std::vector<std::pair<std::uint32_t, std::uintptr_t>> expected{
        {CDDS_PREPAINT, 0},
        {CDDS_ITEMPREPAINT, TBCD_CHANNEL},
        {CDDS_ITEMPREPAINT, TBCD_TICS},
        {CDDS_ITEMPREPAINT, TBCD_THUMB},
        {CDDS_POSTPAINT, 0}};
    EXPECT_EQ(stages, expected);
    EXPECT_EQ(positionSeen, 100);
}

TEST_F(ControlsTest, ProgressRangeStepAndPosition) {
    auto* progress = dialog.Item<ProgressBar>(1010);
    EXPECT_EQ(progress->SetRange(0, 3), MAKELPARAM(0, 100));
    EXPECT_EQ(progress->SetPos(2), 0);
    EXPECT_EQ(progress->SetPos(9), 2);
    EXPECT_EQ(progress->GetPos(), 3); // clamped
    progress->SetRange(0, 10);
    progress->SetPos(8);
    EXPECT_EQ(progress->SetStep(3), 10);
    EXPECT_EQ(progress->StepIt(), 8);
    EXPECT_EQ(progress->GetPos(), 1); // past the maximum it starts again
    progress->SetRange(0, 0);         // an empty range is allowed
    EXPECT_EQ(progress->GetPos(), 0);
}

TEST_F(ControlsTest, AToolTipIsSetAndClearedThroughTheWindow) {
    Window* label = dialog.GetDlgItem(1010);
    label->SetToolTip(u"Receive overrun: 12 bytes lost \u00E9");
    EXPECT_EQ(label->Widget()->toolTip(),
              QString::fromUtf8("Receive overrun: 12 bytes lost \u00E9"));
    label->SetToolTip({});
    EXPECT_TRUE(label->Widget()->toolTip().isEmpty());
}

/// How many pixels of the image are darker than mid-grey: the ink of the text.
int InkOf(const QImage& image) {
    int ink = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            ink += qGray(image.pixel(x, y)) < 128 ? 1 : 0;
        }
    }
    return ink;
}

TEST_F(WindowTest, StaticDrawsEveryCharacterOfItsText) {
    Recorder dialog(Tpl({Ctl(1005, WC_STATIC, u"", SS_LEFT, DluRect(5, 5, 180, 40))}));
    ASSERT_TRUE(dialog.Create(nullptr));
    dialog.ShowWindow(SW_SHOW);
    auto inkOf = [&](const std::u16string& text) {
        dialog.SetDlgItemText(1005, text);
        EXPECT_EQ(dialog.GetDlgItemText(1005), text) << "the text is kept as it was set";
        return InkOf(t::GrabControl(dialog, 1005));
    };
    const int plain = inkOf(u"AW");
    for (char16_t c = 1; c <= 0xFF; ++c) {
        SCOPED_TRACE(::testing::Message() << "character " << std::hex << int{c});
        const std::u16string head = u"A" + std::u16string(1, c);
        // Nothing cuts the text short: what follows the character is drawn.
        EXPECT_GT(inkOf(head + u"WW"), inkOf(head));
        // A control character is drawn as a glyph of its own, as the device's
        // font draws a character it has no picture for; line breaks and tabs
        // only move what follows.
        const bool control = c < 0x20 || (c >= 0x7F && c <= 0x9F);
        if (control && c != u'\t' && c != u'\r' && c != u'\n') {
            EXPECT_GT(inkOf(head + u"W"), plain);
        }
    }
}

} // namespace
} // namespace hh::win::test
