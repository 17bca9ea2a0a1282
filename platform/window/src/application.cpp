#include "internal.h"

#include <platform/window/application.h>
#include <platform/window/dialog.h>

#include <QAbstractButton>
#include <QApplication>
#include <QFont>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <atomic>
#include <vector>

namespace hh::win {
namespace detail {

void CreateScreen();
void DestroyScreen();

int VirtualKeyOf(const QKeyEvent& event) {
    const quint32 native = event.nativeVirtualKey();
    const int key = event.key();
    if (key == Qt::Key_unknown || key == 0) {
        // Keypad drivers and tests hand the device's own codes through unchanged.
        return native <= 0xFF ? static_cast<int>(native) : 0;
    }
    if (key >= Qt::Key_A && key <= Qt::Key_Z) {
        return 'A' + (key - Qt::Key_A);
    }
    if (key >= Qt::Key_0 && key <= Qt::Key_9) {
        return '0' + (key - Qt::Key_0);
    }
    // On a desktop keyboard F9 to F12 stand for the four hardware keys (back, up, down, ok).
    if (key >= Qt::Key_F9 && key <= Qt::Key_F12) {
        return VK_HARDWARE_FIRST + (key - Qt::Key_F9);
    }
    if (key >= Qt::Key_F1 && key <= Qt::Key_F8) {
        return VK_F1 + (key - Qt::Key_F1);
    }
    switch (key) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return VK_RETURN;
    case Qt::Key_Escape:
        return VK_ESCAPE;
    case Qt::Key_Backspace:
        return VK_BACK;
    case Qt::Key_Tab:
        return VK_TAB;
    case Qt::Key_Space:
        return VK_SPACE;
    case Qt::Key_Left:
        return VK_LEFT;
    case Qt::Key_Up:
        return VK_UP;
    case Qt::Key_Right:
        return VK_RIGHT;
    case Qt::Key_Down:
        return VK_DOWN;
    case Qt::Key_Delete:
        return VK_DELETE;
    case Qt::Key_Shift:
        return VK_SHIFT;
    case Qt::Key_Control:
        return VK_CONTROL;
    default:
        return 0;
    }
}

namespace {

/// The dialogs a widget lies in, innermost first, up to its window: a window
/// of its own (a message box or a popup over its owner) keeps its keys.
std::vector<Dialog*> DialogChain(QWidget* widget) {
    std::vector<Dialog*> chain;
    for (QWidget* w = widget; w; w = w->isWindow() ? nullptr : w->parentWidget()) {
        if (auto* dialog = dynamic_cast<Dialog*>(Window::FromWidget(w))) {
            chain.push_back(dialog);
        }
    }
    return chain;
}

Window* InnermostWindow(QWidget* widget) {
    for (QWidget* w = widget; w; w = w->parentWidget()) {
        if (Window* window = Window::FromWidget(w)) {
            return window;
        }
    }
    return nullptr;
}

/// The dialog manager's keys: Enter is the focused push button, the default
/// button or IDOK; Escape is IDCANCEL. True when the key was used.
bool DialogKeys(QWidget* target, const QKeyEvent& key, Dialog* top) {
    const int vk = VirtualKeyOf(key);
    if (vk == VK_ESCAPE) {
        top->DispatchCommand(IDCANCEL, BN_CLICKED);
        return true;
    }
    if (vk != VK_RETURN) {
        return false;
    }
    if (auto* edit = dynamic_cast<Edit*>(InnermostWindow(target))) {
        if (edit->IsMultiLine() && edit->WantsReturn()) {
            return false;
        }
    }
    if (auto* button = dynamic_cast<Button*>(InnermostWindow(target))) {
        if (button->IsPushButton()) {
            button->Click();
            return true;
        }
    }
    if (Button* def = top->DefaultButton(); def && def->IsWindowEnabled()) {
        top->DispatchCommand(def->GetDlgCtrlID(), BN_CLICKED);
        return true;
    }
    top->DispatchCommand(IDOK, BN_CLICKED);
    return true;
}

/// Routes keys through the dialogs' pre-translation before Qt dispatches them.
class HandheldApplication : public QApplication {
public:
    HandheldApplication(int& argc, char** argv) : QApplication(argc, argv) {}

    bool notify(QObject* receiver, QEvent* event) override {
        MarkEventReceived(event);
        const auto type = event->type();
        if ((type == QEvent::KeyPress || type == QEvent::KeyRelease) && receiver->isWidgetType()) {
            auto* target = static_cast<QWidget*>(receiver);
            // The keys of a window whose focus lies on a hidden window go there.
            if (QWidget* hidden = HiddenFocus(); hidden && hidden->window() == target->window()) {
                target = hidden;
                receiver = hidden;
            }
            auto* key = static_cast<QKeyEvent*>(event);
            const std::vector<Dialog*> chain = DialogChain(target);
            if (!chain.empty()) {
                KeyMessage message{type == QEvent::KeyPress ? WM_KEYDOWN : WM_KEYUP,
                                   VirtualKeyOf(*key), key->isAutoRepeat(),
                                   InnermostWindow(target)};
                for (Dialog* dialog : chain) {
                    if (dialog->DispatchPreTranslate(message)) {
                        return true;
                    }
                }
                if (type == QEvent::KeyPress && DialogKeys(target, *key, chain.back())) {
                    return true;
                }
            }
        }
        return QApplication::notify(receiver, event);
    }
};

int g_argc = 1;
char g_arg0[] = "handheld";
char* g_argv[] = {g_arg0, nullptr};
std::atomic<Application*> g_instance{nullptr};

} // namespace
} // namespace detail

struct Application::Impl {
    std::unique_ptr<detail::HandheldApplication> app;
};

Application::Application(std::u16string title)
    : m_title(std::move(title)), m_impl(std::make_unique<Impl>()) {
    m_impl->app = std::make_unique<detail::HandheldApplication>(detail::g_argc, detail::g_argv);
    QApplication::setApplicationName(detail::ToQt(m_title));
    QApplication::setQuitOnLastWindowClosed(false);
    QFont font(QStringLiteral("Liberation Sans"));
    font.setPixelSize(PointSizeToPixels(8));
    QApplication::setFont(font);
    detail::InstallDispatcher();
    detail::TrackHiddenFocus();
    detail::CreateScreen();
    detail::InstallTimerClockObserver();
    detail::g_instance = this;
}

Application::~Application() {
    detail::g_instance = nullptr;
    detail::CloseAllMessageBoxes();
    detail::RemoveTimerClockObserver();
    detail::DestroyScreen();
    detail::RemoveDispatcher();
    m_impl->app.reset();
}

Application* Application::Instance() {
    return detail::g_instance.load();
}

void Application::ProcessEvents() {
    // Posted calls may post more; a few rounds settle what is due now.
    for (int round = 0; round < 4; ++round) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
}

} // namespace hh::win
