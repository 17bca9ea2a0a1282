#include <platform/window/application.h>
#include <platform/window/testing.h>
#include <platform/window/ui_thread.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTabBar>
#include <QTest>
#include <QWidget>
#include <QWindow>

namespace hh::win::testing {
namespace {

QWidget* WidgetOf(Dialog& dialog, int id) {
    Control* control = dialog.GetDlgItem(id);
    return control ? control->Widget() : nullptr;
}

QWidget* KeyTarget(Dialog& dialog) {
    QWidget* focus = dialog.Widget() ? dialog.Widget()->window()->focusWidget() : nullptr;
    if (focus && dialog.Widget() &&
        (focus == dialog.Widget() || dialog.Widget()->isAncestorOf(focus))) {
        return focus;
    }
    return dialog.Widget();
}

void SendKey(QWidget* target, QEvent::Type type, int virtualKey) {
    if (!target) {
        return;
    }
    Qt::Key key = Qt::Key_unknown;
    QString text;
    if (virtualKey == VK_RETURN) {
        key = Qt::Key_Return;
        text = QStringLiteral("\r");
    } else if (virtualKey == VK_ESCAPE) {
        key = Qt::Key_Escape;
    } else if (virtualKey == VK_BACK) {
        key = Qt::Key_Backspace;
    } else if (virtualKey >= 'A' && virtualKey <= 'Z') {
        key = static_cast<Qt::Key>(Qt::Key_A + (virtualKey - 'A'));
        text = QChar(virtualKey).toLower();
    } else if (virtualKey >= '0' && virtualKey <= '9') {
        key = static_cast<Qt::Key>(Qt::Key_0 + (virtualKey - '0'));
        text = QChar(virtualKey);
    }
    // Other codes (the hardware keys) travel as the native virtual key.
    QKeyEvent event(type, key, Qt::NoModifier, 0, static_cast<quint32>(virtualKey), 0, text);
    QApplication::sendEvent(target, &event);
}

} // namespace

void ProcessEvents() {
    if (Application* app = Application::Instance()) {
        app->ProcessEvents();
    }
}

bool ProcessEventsUntil(const std::function<bool()>& pred, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!pred()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        ProcessEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void Click(Dialog& dialog, int id) {
    QWidget* widget = WidgetOf(dialog, id);
    if (!widget) {
        return;
    }
    QTest::mouseClick(widget, Qt::LeftButton, Qt::NoModifier, widget->rect().center());
    ProcessEvents();
}

void SelectComboEntry(Dialog& dialog, int id, int index) {
    auto* combo = qobject_cast<QComboBox*>(WidgetOf(dialog, id));
    if (!combo || index < 0 || index >= combo->count()) {
        return;
    }
    combo->setCurrentIndex(index);
    emit combo->activated(index);
    ProcessEvents();
}

void SelectTab(Dialog& dialog, int id, int index) {
    QWidget* area = WidgetOf(dialog, id);
    QTabBar* bar = area ? area->findChild<QTabBar*>() : nullptr;
    if (!bar || index < 0 || index >= bar->count()) {
        return;
    }
    QTest::mouseClick(bar, Qt::LeftButton, Qt::NoModifier, bar->tabRect(index).center());
    ProcessEvents();
}

void TypeText(Dialog& dialog, int id, std::u16string_view text) {
    QWidget* widget = WidgetOf(dialog, id);
    if (!widget) {
        return;
    }
    widget->setFocus(Qt::OtherFocusReason);
    QWidget* target = widget->focusProxy() ? widget->focusProxy() : widget;
    if (auto* combo = qobject_cast<QComboBox*>(widget); combo && combo->lineEdit()) {
        target = combo->lineEdit();
    }
    QTest::keyClicks(target, QString(reinterpret_cast<const QChar*>(text.data()),
                                     static_cast<qsizetype>(text.size())));
    ProcessEvents();
}

void KeyDown(Dialog& dialog, int virtualKey) {
    SendKey(KeyTarget(dialog), QEvent::KeyPress, virtualKey);
}

void KeyUp(Dialog& dialog, int virtualKey) {
    SendKey(KeyTarget(dialog), QEvent::KeyRelease, virtualKey);
}

void PressKey(Dialog& dialog, int virtualKey) {
    KeyDown(dialog, virtualKey);
    KeyUp(dialog, virtualKey);
    ProcessEvents();
}

void PressEnter(Dialog& dialog) {
    PressKey(dialog, VK_RETURN);
}

void PressEscape(Dialog& dialog) {
    PressKey(dialog, VK_ESCAPE);
}

bool PressKeyOnKeyboard(int virtualKey) {
    ProcessEvents();
    QWindow* window = QGuiApplication::focusWindow();
    if (!window) {
        return false;
    }
    Qt::Key key = Qt::Key_unknown;
    if (virtualKey == VK_RETURN) {
        key = Qt::Key_Return;
    } else if (virtualKey == VK_ESCAPE) {
        key = Qt::Key_Escape;
    } else if (virtualKey == VK_TAB) {
        key = Qt::Key_Tab;
    } else if (virtualKey == VK_SPACE) {
        key = Qt::Key_Space;
    } else if (virtualKey == VK_UP) {
        key = Qt::Key_Up;
    } else if (virtualKey == VK_DOWN) {
        key = Qt::Key_Down;
    } else if ((virtualKey >= 'A' && virtualKey <= 'Z') ||
               (virtualKey >= '0' && virtualKey <= '9')) {
        key = static_cast<Qt::Key>(virtualKey);
    } else {
        return false;
    }
    QTest::keyClick(window, key);
    ProcessEvents();
    return true;
}

void PressCaptionOk(Dialog& dialog) {
    if (QWidget* widget = dialog.Widget()) {
        if (auto* button = widget->findChild<QAbstractButton*>(QStringLiteral("captionOk"))) {
            button->click();
        } else {
            widget->close();
        }
    }
    ProcessEvents();
}

std::intptr_t RunModal(Dialog& dialog, std::function<void()> whileOpen) {
    PostToUiThread(std::move(whileOpen));
    return dialog.DoModal();
}

QImage Grab(Window& window) {
    QWidget* widget = window.Widget();
    return widget ? widget->grab().toImage() : QImage();
}

QImage GrabControl(Dialog& dialog, int id) {
    Control* control = dialog.GetDlgItem(id);
    return control ? Grab(*control) : QImage();
}

std::thread AdvanceWhenBlocked(hh::sys::TestClock& clock, std::chrono::milliseconds step) {
    return std::thread([&clock, step] {
        if (clock.waitForBlockedThreads(1)) {
            clock.advance(step);
        }
    });
}

void AdvanceAndProcess(hh::sys::TestClock& clock, std::chrono::milliseconds step) {
    clock.advance(step);
    ProcessEvents();
}

} // namespace hh::win::testing

#if defined(__SANITIZE_THREAD__)
// Qt's own libraries are not built for ThreadSanitizer: their internal locking
// is invisible to it, so the memory functions they call across threads (the
// posted-event list) would be reported. Races in our code are still reported.
extern "C" const char* __tsan_default_suppressions() {
    return "called_from_lib:libQt6Core.so.6\n"
           "called_from_lib:libQt6Gui.so.6\n"
           "called_from_lib:libQt6Widgets.so.6\n";
}
#endif
