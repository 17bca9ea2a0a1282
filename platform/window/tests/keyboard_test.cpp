// Keys from the keyboard, delivered by the platform to the window with the
// keyboard focus, on the device screen and as windows of a desktop: message
// boxes take the focus with their default button, Enter and Escape answer
// them, and the dialog behind gets the keyboard back.

#include <platform/system/testing.h>
#include <platform/window/application.h>
#include <platform/window/controls.h>
#include <platform/window/dialog.h>
#include <platform/window/message_box.h>
#include <platform/window/testing.h>
#include <platform/window/ui_thread.h>

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <atomic>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace hh::win::test {
namespace {

namespace t = hh::win::testing;

/// The answer a test gives a box that its keys left open.
constexpr int kLeftOpen = 1000;

enum class Screen { Device, Desktop };

std::string ScreenName(const ::testing::TestParamInfo<Screen>& info) {
    return info.param == Screen::Device ? "DeviceScreen" : "Desktop";
}

class KeyboardTest : public ::testing::TestWithParam<Screen> {
protected:
    KeyboardTest() {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        if (GetParam() == Screen::Device) {
            setenv("HANDHELD_SCREEN", "480x272", 1);
        } else {
            unsetenv("HANDHELD_SCREEN");
        }
        app.emplace(u"KeyboardTests");
    }
    ~KeyboardTest() override {
        app.reset();
        unsetenv("HANDHELD_SCREEN");
    }

    hh::sys::testing::TempDeviceRoot device;
    hh::sys::testing::RuntimeDir runtime{device.base()};
    std::optional<Application> app;
};

/// The text of the button that has the keyboard focus ("" when no button has it).
std::u16string FocusedButton() {
    auto* button = qobject_cast<QAbstractButton*>(QApplication::focusWidget());
    if (!button) {
        return u"";
    }
    const QString text = button->text();
    return std::u16string(reinterpret_cast<const char16_t*>(text.utf16()),
                          static_cast<std::size_t>(text.size()));
}

/// A main dialog in the manner of the programs: an edit that has the focus,
/// a default push button and a plain one.
class MainDialog : public Dialog {
public:
    MainDialog() : Dialog(Template()) {}
    std::vector<int> commands;
    int selectionChanges = 0;

protected:
    void OnCommand(int id, int code) override {
        // The list's selection changes are not what these tests look at.
        if (id != 1003) {
            commands.push_back(id);
        } else if (code == CBN_SELCHANGE) {
            ++selectionChanges;
        }
    }

private:
    static DialogTemplate Template() {
        DialogTemplate tpl;
        tpl.id = 100;
        tpl.caption = u"Main";
        tpl.style = WS_POPUP | WS_CAPTION;
        tpl.widthDlu = 200;
        tpl.heightDlu = 120;
        const std::uint32_t child = WS_CHILD | WS_VISIBLE | WS_TABSTOP;
        tpl.controls = {
            {1000, std::u16string(WC_EDIT), u"", child | ES_AUTOHSCROLL, DluRect(5, 5, 80, 12)},
            {1, std::u16string(WC_BUTTON), u"OK", child | BS_DEFPUSHBUTTON, DluRect(5, 30, 40, 14)},
            {1001, std::u16string(WC_BUTTON), u"save", child | BS_PUSHBUTTON,
             DluRect(50, 30, 40, 14)},
            {1003, std::u16string(WC_COMBOBOX), u"", child | CBS_DROPDOWNLIST,
             DluRect(5, 50, 80, 60)},
        };
        return tpl;
    }
};

/// Runs body inside the main dialog's modal loop once the dialog is shown
/// with the focus in its edit, then ends the dialog.
void InsideMainDialog(MainDialog& dialog, const std::function<void()>& body) {
    t::RunModal(dialog, [&] {
        t::ProcessEvents();
        EXPECT_EQ(QApplication::focusWidget(), dialog.GetDlgItem(1000)->Widget());
        body();
        dialog.EndDialog(IDCANCEL);
    });
}

/// What happened to one box: its answer, the button that had the focus while
/// it was open, whether a window had the keyboard focus for the key.
struct Outcome {
    int answer = -1;
    std::u16string focused;
    bool delivered = false;
};

/// Raises a box on the UI thread and presses key on the keyboard while it is open.
Outcome AnswerOnUiThread(const Window* owner, std::uint32_t style, int key) {
    MessageBoxScript script;
    script.Hold();
    Outcome outcome;
    PostToUiThread([&] {
        t::ProcessEvents();
        outcome.focused = FocusedButton();
        outcome.delivered = t::PressKeyOnKeyboard(key);
        if (script.OpenCount() > 0) {
            script.AnswerOpen(kLeftOpen);
        }
    });
    outcome.answer = MessageBox(owner, u"SAVE20240101.txt", u"ok", style);
    return outcome;
}

/// Raises a box from a worker and presses key on the keyboard once it is open.
Outcome AnswerFromWorker(std::uint32_t style, int key) {
    MessageBoxScript script;
    script.Hold();
    Outcome outcome;
    std::atomic<int> answer{-1};
    std::thread worker([&] {
        answer = MessageBox(nullptr, u"SaveAllDataToFile :open file failed", u"err", style);
    });
    EXPECT_TRUE(script.WaitForOpen(1));
    t::ProcessEvents();
    outcome.focused = FocusedButton();
    // The key is handled on this thread: the box has its answer when it returns.
    outcome.delivered = t::PressKeyOnKeyboard(key);
    if (script.OpenCount() > 0) {
        script.AnswerOpen(kLeftOpen);
    }
    worker.join();
    outcome.answer = answer.load();
    return outcome;
}

struct BoxCase {
    const char* what;
    std::uint32_t style;
    int key;
    std::u16string focused;
    int answer;
};

const BoxCase kBoxCases[] = {
    {"OK, Enter", MB_OK, VK_RETURN, u"OK", IDOK},
    {"OK, Escape", MB_OK, VK_ESCAPE, u"OK", IDOK},
    {"OK with icon, Escape", MB_OK | MB_ICONERROR | MB_TOPMOST, VK_ESCAPE, u"OK", IDOK},
    {"OK/Cancel, Enter", MB_OKCANCEL, VK_RETURN, u"OK", IDOK},
    {"OK/Cancel, Escape", MB_OKCANCEL, VK_ESCAPE, u"OK", IDCANCEL},
    {"Yes/No, Enter", MB_YESNO, VK_RETURN, u"Yes", IDYES},
    {"Yes/No, Escape", MB_YESNO, VK_ESCAPE, u"Yes", IDNO},
    {"Yes/No second default, Enter", MB_YESNO | MB_DEFBUTTON2, VK_RETURN, u"No", IDNO},
    {"Yes/No/Cancel, Escape", MB_YESNOCANCEL, VK_ESCAPE, u"Yes", IDCANCEL},
    {"Retry/Cancel, Enter", MB_RETRYCANCEL, VK_RETURN, u"Retry", IDRETRY},
    {"Abort/Retry/Ignore third default, Enter", MB_ABORTRETRYIGNORE | MB_DEFBUTTON3, VK_RETURN,
     u"Ignore", IDIGNORE},
    {"Abort/Retry/Ignore, Escape", MB_ABORTRETRYIGNORE, VK_ESCAPE, u"Abort", kLeftOpen},
    {"OK/Cancel second default, Space", MB_OKCANCEL | MB_DEFBUTTON2, VK_SPACE, u"Cancel", IDCANCEL},
};

TEST_P(KeyboardTest, BoxRaisedByTheMainDialogTakesTheKeyboard) {
    for (const BoxCase& c : kBoxCases) {
        MainDialog dialog;
        Outcome outcome;
        InsideMainDialog(dialog, [&] { outcome = AnswerOnUiThread(&dialog, c.style, c.key); });
        EXPECT_TRUE(outcome.delivered) << c.what;
        EXPECT_EQ(outcome.focused, c.focused) << c.what;
        EXPECT_EQ(outcome.answer, c.answer) << c.what;
        // The key went to the box only.
        EXPECT_TRUE(dialog.commands.empty()) << c.what;
    }
}

TEST_P(KeyboardTest, BoxWithoutOwnerTakesTheKeyboard) {
    for (const BoxCase& c : kBoxCases) {
        const Outcome outcome = AnswerOnUiThread(nullptr, c.style, c.key);
        EXPECT_TRUE(outcome.delivered) << c.what;
        EXPECT_EQ(outcome.focused, c.focused) << c.what;
        EXPECT_EQ(outcome.answer, c.answer) << c.what;
    }
}

TEST_P(KeyboardTest, BoxRaisedByAWorkerTakesTheKeyboardFromTheMainDialog) {
    for (const BoxCase& c : kBoxCases) {
        MainDialog dialog;
        Outcome outcome;
        InsideMainDialog(dialog, [&] { outcome = AnswerFromWorker(c.style, c.key); });
        EXPECT_TRUE(outcome.delivered) << c.what;
        EXPECT_EQ(outcome.focused, c.focused) << c.what;
        EXPECT_EQ(outcome.answer, c.answer) << c.what;
        EXPECT_TRUE(dialog.commands.empty()) << c.what;
    }
}

TEST_P(KeyboardTest, TwoBoxesInARowThenTheDialogHasTheKeyboardBack) {
    MainDialog dialog;
    std::vector<Outcome> outcomes;
    std::u16string focusAfter;
    bool enterDelivered = false;
    InsideMainDialog(dialog, [&] {
        outcomes.push_back(AnswerOnUiThread(&dialog, MB_OK, VK_RETURN));
        outcomes.push_back(AnswerOnUiThread(&dialog, MB_YESNO, VK_ESCAPE));
        t::ProcessEvents();
        focusAfter = FocusedButton();
        // Enter in the dialog's edit presses its default button.
        enterDelivered = t::PressKeyOnKeyboard(VK_RETURN);
    });
    ASSERT_EQ(outcomes.size(), 2u);
    EXPECT_EQ(outcomes[0].answer, IDOK);
    EXPECT_EQ(outcomes[0].focused, u"OK");
    EXPECT_EQ(outcomes[1].answer, IDNO);
    EXPECT_EQ(outcomes[1].focused, u"Yes");
    EXPECT_EQ(focusAfter, u"");
    EXPECT_TRUE(enterDelivered);
    EXPECT_EQ(dialog.commands, std::vector<int>{1});
}

/// A box that is a dialog of its own, in the manner of the recovery tool's:
/// a text and a default OK push button.
class DialogBox : public Dialog {
public:
    DialogBox() : Dialog(Template()) {}

private:
    static DialogTemplate Template() {
        DialogTemplate tpl;
        tpl.id = 130;
        tpl.caption = u"Recover";
        tpl.style = WS_POPUP | WS_CAPTION;
        tpl.widthDlu = 116;
        tpl.heightDlu = 110;
        const std::uint32_t child = WS_CHILD | WS_VISIBLE;
        tpl.controls = {
            {1018, std::u16string(WC_STATIC), u"Recover failed(5)!Press OK to reboot.",
             child | SS_LEFT, DluRect(0, 0, 115, 71)},
            {IDOK, std::u16string(WC_BUTTON), u"OK", child | WS_TABSTOP | BS_DEFPUSHBUTTON,
             DluRect(23, 78, 69, 25)},
        };
        return tpl;
    }
};

TEST_P(KeyboardTest, DialogBoxOverTheMainDialogTakesTheKeyboard) {
    struct Case {
        const char* what;
        int key;
        std::intptr_t result;
    };
    const Case cases[] = {
        {"Enter", VK_RETURN, IDOK},
        {"Escape", VK_ESCAPE, IDCANCEL},
    };
    for (const Case& c : cases) {
        MainDialog dialog;
        std::intptr_t result = 0;
        std::u16string focused;
        bool delivered = false;
        const QWidget* focusAfter = nullptr;
        const QWidget* edit = nullptr;
        InsideMainDialog(dialog, [&] {
            DialogBox box;
            result = t::RunModal(box, [&] {
                t::ProcessEvents();
                focused = FocusedButton();
                delivered = t::PressKeyOnKeyboard(c.key);
                if (box.IsWindowVisible()) {
                    box.EndDialog(kLeftOpen);
                }
            });
            t::ProcessEvents();
            focusAfter = QApplication::focusWidget();
            edit = dialog.GetDlgItem(1000)->Widget();
        });
        EXPECT_TRUE(delivered) << c.what;
        EXPECT_EQ(focused, u"OK") << c.what;
        EXPECT_EQ(result, c.result) << c.what;
        EXPECT_TRUE(dialog.commands.empty()) << c.what;
        EXPECT_EQ(focusAfter, edit) << c.what; // the main dialog has its focus back
    }
}

TEST_P(KeyboardTest, OpenDropDownListKeepsEnterAndEscapeFromTheDialog) {
    struct Case {
        const char* what;
        int key;
        int selection;
        int selectionChanges;
    };
    const Case cases[] = {
        {"Escape closes the list", VK_ESCAPE, 0, 0},
        {"Enter chooses the entry", VK_RETURN, 1, 1},
    };
    for (const Case& c : cases) {
        MainDialog dialog;
        bool listClosed = false;
        int selection = -1;
        InsideMainDialog(dialog, [&] {
            auto* combo = dialog.Item<ComboBox>(1003);
            for (const char16_t* port : {u"COM1:", u"COM7:", u"COM9:"}) {
                combo->AddString(port);
            }
            combo->SetCurSel(0);
            auto* widget = qobject_cast<QComboBox*>(combo->Widget());
            widget->setFocus(Qt::MouseFocusReason);
            widget->showPopup();
            t::ProcessEvents();
            t::PressKeyOnKeyboard(VK_DOWN);
            t::PressKeyOnKeyboard(c.key);
            listClosed = !widget->view()->isVisible();
            selection = combo->GetCurSel();
        });
        EXPECT_TRUE(listClosed) << c.what;
        EXPECT_EQ(selection, c.selection) << c.what;
        EXPECT_EQ(dialog.selectionChanges, c.selectionChanges) << c.what;
        // Neither key reached the dialog as OK or Cancel.
        EXPECT_TRUE(dialog.commands.empty()) << c.what;
    }
}

/// A window of the program's own that stays hidden until it has something to
/// say, as the device test's notification window does.
class PopupWindow : public Dialog {
public:
    PopupWindow() : Dialog(Template()) {}
    std::vector<int> commands;

protected:
    void OnCommand(int id, int) override { commands.push_back(id); }

private:
    static DialogTemplate Template() {
        DialogTemplate tpl;
        tpl.id = 101;
        tpl.style = WS_POPUP;
        tpl.widthDlu = 120;
        tpl.heightDlu = 60;
        tpl.controls = {{2000, std::u16string(WC_BUTTON), u"Shutdown",
                         WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON,
                         DluRect(10, 10, 60, 14)}};
        return tpl;
    }
};

TEST_P(KeyboardTest, AWindowShownWithShowTakesTheKeyboardFromTheDialogBehind) {
    MainDialog dialog;
    PopupWindow popup;
    InsideMainDialog(dialog, [&] {
        ASSERT_TRUE(popup.Create(nullptr));
        // Shown without activating, it leaves the keyboard where it was (a
        // desktop's window manager decides that for windows of its own).
        if (GetParam() == Screen::Device) {
            popup.ShowWindow(SW_SHOWNA);
            t::ProcessEvents();
            EXPECT_EQ(QApplication::focusWidget(), dialog.GetDlgItem(1000)->Widget());
            popup.ShowWindow(SW_HIDE);
        }
        popup.ShowWindow(SW_SHOW);
        t::ProcessEvents();
        EXPECT_EQ(QApplication::focusWidget(), popup.GetDlgItem(2000)->Widget());
        EXPECT_TRUE(t::PressKeyOnKeyboard(VK_SPACE));
        EXPECT_EQ(popup.commands, std::vector<int>{2000});
        EXPECT_TRUE(dialog.commands.empty());
        popup.DestroyWindow();
    });
}

/// A hidden page of the main dialog that reports the keys it sees, as the
/// device test's KEY page does.
class KeyPage : public Dialog {
public:
    KeyPage() : Dialog(Template()) {}
    std::vector<int> keys;

protected:
    bool PreTranslateMessage(const KeyMessage& key) override {
        if (key.message == WM_KEYDOWN) {
            keys.push_back(key.virtualKey);
        }
        return true;
    }

private:
    static DialogTemplate Template() {
        DialogTemplate tpl;
        tpl.id = 137;
        tpl.style = WS_CHILD | WS_SYSMENU;
        tpl.widthDlu = 100;
        tpl.heightDlu = 60;
        tpl.controls = {{1010, std::u16string(WC_BUTTON), u"back",
                         WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, DluRect(10, 10, 40, 14)}};
        return tpl;
    }
};

TEST_P(KeyboardTest, AHiddenWindowGivenTheFocusGetsTheKeysUntilAnotherTakesIt) {
    MainDialog dialog;
    KeyPage page;
    InsideMainDialog(dialog, [&] {
        ASSERT_TRUE(page.Create(&dialog));
        ASSERT_FALSE(page.IsWindowVisible());
        page.SetFocus();
        EXPECT_TRUE(page.HasFocus());
        EXPECT_FALSE(dialog.GetDlgItem(1000)->HasFocus());
        EXPECT_TRUE(t::PressKeyOnKeyboard('A'));
        t::KeyDown(dialog, 0xC1);
        EXPECT_EQ(page.keys, (std::vector<int>{'A', 0xC1}));
        EXPECT_EQ(dialog.GetDlgItemText(1000), u"") << "the edit got no key";

        // Its window activated again, or a box answered, it has the keys back.
        dialog.GetDlgItem(1000)->Widget()->setFocus(Qt::ActiveWindowFocusReason);
        EXPECT_TRUE(page.HasFocus());
        const Outcome box = AnswerOnUiThread(&dialog, MB_OK, VK_RETURN);
        EXPECT_EQ(box.answer, IDOK);
        EXPECT_EQ(box.focused, u"OK");
        EXPECT_TRUE(page.HasFocus());
        EXPECT_TRUE(t::PressKeyOnKeyboard('C'));
        EXPECT_EQ(page.keys, (std::vector<int>{'A', 0xC1, 'C'}));
        EXPECT_EQ(dialog.GetDlgItemText(1000), u"");

        // Shown, the page keeps the focus as a shown window does.
        page.ShowWindow(SW_SHOW);
        EXPECT_TRUE(page.HasFocus());
        EXPECT_TRUE(page.Widget()->isAncestorOf(QApplication::focusWidget()) ||
                    QApplication::focusWidget() == page.Widget());
        page.ShowWindow(SW_HIDE);

        // Another window taking the focus ends it.
        page.SetFocus();
        dialog.GetDlgItem(1000)->SetFocus();
        EXPECT_FALSE(page.HasFocus());
        EXPECT_TRUE(t::PressKeyOnKeyboard('B'));
        EXPECT_EQ(page.keys.size(), 3u);
        EXPECT_EQ(dialog.GetDlgItemText(1000), u"b");
    });
}

INSTANTIATE_TEST_SUITE_P(Screens, KeyboardTest, ::testing::Values(Screen::Device, Screen::Desktop),
                         ScreenName);

} // namespace
} // namespace hh::win::test
