#include "internal.h"

#include <platform/window/ui_thread.h>
#include <platform/window/window.h>

#include <QApplication>
#include <QFocusEvent>
#include <QIcon>
#include <QPaintEvent>
#include <QPainter>
#include <QPointer>
#include <QResizeEvent>
#include <QVariant>
#include <mutex>
#include <unordered_map>

namespace hh::win {
namespace detail {
namespace {

constexpr char kWindowProperty[] = "hhWindow";

std::mutex g_registryMutex;
std::unordered_map<std::uint64_t, Window*> g_windows;
std::unordered_map<const Window*, std::uint64_t> g_serials;
std::uint64_t g_nextSerial = 1;

} // namespace

std::uint64_t RegisterWindow(Window* window) {
    std::lock_guard lock(g_registryMutex);
    const std::uint64_t serial = g_nextSerial++;
    g_windows[serial] = window;
    g_serials[window] = serial;
    return serial;
}

void UnregisterWindow(std::uint64_t serial) {
    std::lock_guard lock(g_registryMutex);
    auto it = g_windows.find(serial);
    if (it != g_windows.end()) {
        g_serials.erase(it->second);
        g_windows.erase(it);
    }
}

std::uint64_t SerialOf(const Window* window) {
    std::lock_guard lock(g_registryMutex);
    auto it = g_serials.find(window);
    return it == g_serials.end() ? 0 : it->second;
}

bool WithLiveWindow(std::uint64_t serial, const std::function<void(Window*)>& fn) {
    Window* window = nullptr;
    {
        std::lock_guard lock(g_registryMutex);
        auto it = g_windows.find(serial);
        if (it == g_windows.end()) {
            return false;
        }
        window = it->second;
    }
    // Windows are destroyed on the UI thread only, so it stays alive while fn runs here.
    fn(window);
    return true;
}

RetainedOverlay::RetainedOverlay(QWidget* parent, const QImage* image)
    : QWidget(parent), m_image(image) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
    setGeometry(parent->rect());
    parent->installEventFilter(this);
    raise();
    show();
}

void RetainedOverlay::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.drawImage(0, 0, *m_image);
}

bool RetainedOverlay::eventFilter(QObject* watched, QEvent* event) {
    if (watched == parentWidget() && event->type() == QEvent::Resize) {
        setGeometry(parentWidget()->rect());
    } else if (watched == parentWidget() && event->type() == QEvent::ChildAdded) {
        raise();
    }
    return false;
}

namespace {

QPointer<QWidget> g_hiddenFocus;

// Another widget taking the focus ends a hidden window's focus, except when
// its window is activated again: then the window system gives the keys back
// to the window that had them.
class HiddenFocusTracker : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        // A dialog shown tells its window's focus widget (or itself) of a focus
        // it does not give: only a widget that has the focus counts.
        if (event->type() == QEvent::FocusIn && g_hiddenFocus && watched->isWidgetType() &&
            watched == QApplication::focusWidget()) {
            const auto* widget = static_cast<QWidget*>(watched);
            const bool reactivated =
                static_cast<QFocusEvent*>(event)->reason() == Qt::ActiveWindowFocusReason &&
                widget->window() == g_hiddenFocus->window();
            if (!reactivated) {
                g_hiddenFocus = nullptr;
            }
        }
        return false;
    }
};

} // namespace

void SetHiddenFocus(QWidget* widget) {
    // No visible control keeps the keys of the window.
    if (QWidget* focus = QApplication::focusWidget();
        widget && focus && focus->window() == widget->window()) {
        focus->clearFocus();
    }
    g_hiddenFocus = widget;
}

QWidget* HiddenFocus() {
    return g_hiddenFocus;
}

void TrackHiddenFocus() {
    qApp->installEventFilter(new HiddenFocusTracker(qApp));
}

void GiveFocus(QWidget* widget) {
    if (!widget || !widget->isEnabled()) {
        return;
    }
    // Focus follows the active window: a window of the desktop is activated first.
    if (!widget->isVisible()) {
        widget->window()->activateWindow();
        SetHiddenFocus(widget);
        return;
    }
    g_hiddenFocus = nullptr;
    // Focus follows the active window: a window of the desktop is activated first.
    if (QWidget* top = widget->window(); !top->isActiveWindow()) {
        top->activateWindow();
    }
    widget->setFocus(Qt::ActiveWindowFocusReason);
}

} // namespace detail

namespace {

// The control that takes the keyboard when a window is activated: the one
// that had it last, else the first one the Tab key reaches, else the window.
QWidget* FocusTarget(QWidget* window) {
    auto usable = [window](QWidget* w) {
        return w && window->isAncestorOf(w) && w->isVisible() && w->isEnabled();
    };
    if (QWidget* last = window->focusWidget(); usable(last)) {
        return last;
    }
    for (QWidget* w = window->nextInFocusChain(); w && w != window; w = w->nextInFocusChain()) {
        if (usable(w) && (w->focusPolicy() & Qt::TabFocus)) {
            return w;
        }
    }
    return window;
}

} // namespace

Window::Window() {
    detail::RegisterWindow(this);
}

Window::~Window() {
    detail::UnregisterWindow(detail::SerialOf(this));
    if (m_widget) {
        m_widget->setProperty(detail::kWindowProperty, QVariant());
        if (!m_widget->parentWidget()) {
            delete m_widget;
        }
    }
}

void Window::Attach(QWidget* widget) {
    m_widget = widget;
    widget->setProperty(detail::kWindowProperty,
                        QVariant::fromValue(reinterpret_cast<quintptr>(this)));
}

void Window::Detach() {
    if (m_widget) {
        m_widget->setProperty(detail::kWindowProperty, QVariant());
    }
    m_widget = nullptr;
    m_overlay = nullptr;
    m_retained.reset();
}

Window* Window::FromWidget(const QWidget* widget) {
    if (!widget) {
        return nullptr;
    }
    const QVariant value = widget->property(detail::kWindowProperty);
    return value.isValid() ? reinterpret_cast<Window*>(value.value<quintptr>()) : nullptr;
}

std::u16string Window::TextOnUi() const {
    return m_widget ? detail::FromQt(m_widget->windowTitle()) : std::u16string();
}

void Window::SetTextOnUi(std::u16string_view text) {
    if (m_widget) {
        m_widget->setWindowTitle(detail::ToQt(text));
    }
}

std::u16string Window::GetWindowText() const {
    return CallOnUiThread([this] { return TextOnUi(); });
}

int Window::GetWindowTextLength() const {
    return static_cast<int>(GetWindowText().size());
}

bool Window::SetWindowText(std::u16string_view text) {
    return CallOnUiThread([&] {
        if (!m_widget) {
            return false;
        }
        if (TextOnUi() != text) {
            SetTextOnUi(text);
        }
        return true;
    });
}

HICON Window::SetIcon(HICON icon, int kind) {
    return CallOnUiThread([&] {
        HICON& slot = m_icons[kind == ICON_BIG ? ICON_BIG : ICON_SMALL];
        HICON previous = slot;
        slot = icon;
        if (m_widget) {
            const QIcon picture = detail::WindowIcon(m_icons[ICON_BIG], m_icons[ICON_SMALL]);
            m_widget->setWindowIcon(picture);
            // On the device screen the desktop shows the screen's window.
            if (QWidget* host = detail::ScreenHost(); host && m_widget->parentWidget() == host) {
                host->setWindowIcon(picture);
            }
        }
        return previous;
    });
}

HICON Window::GetIcon(int kind) const {
    return CallOnUiThread([&] { return m_icons[kind == ICON_BIG ? ICON_BIG : ICON_SMALL]; });
}

bool Window::ShowWindow(int command) {
    return CallOnUiThread([&] {
        if (!m_widget) {
            return false;
        }
        const bool wasVisible = !m_widget->isHidden();
        if (command == SW_HIDE) {
            m_widget->hide();
        } else {
            const bool activates = command != SW_SHOWNOACTIVATE && command != SW_SHOWNA &&
                                   command != SW_MINIMIZE &&
                                   !m_widget->property(detail::kNeverActivated).toBool();
            // A window of the desktop is shown without the platform's own
            // activation when the command asks for none.
            if (m_widget->isWindow()) {
                m_widget->setAttribute(Qt::WA_ShowWithoutActivating, !activates);
            }
            m_widget->show();
            // A hidden window that held the focus has it as a shown one now.
            if (QWidget* hidden = detail::HiddenFocus();
                hidden && (hidden == m_widget || m_widget->isAncestorOf(hidden)) &&
                hidden->isVisible()) {
                detail::GiveFocus(hidden);
            }
            if (m_widget->isWindow() || m_widget->parentWidget() == detail::ScreenHost()) {
                m_widget->raise();
                detail::RaiseScreenChrome();
                // Showing a window also activates it, unless the command says
                // not to or the window never takes the keyboard (the task bar).
                if (activates && !m_widget->isAncestorOf(QApplication::focusWidget())) {
                    detail::GiveFocus(FocusTarget(m_widget));
                }
            }
        }
        return wasVisible;
    });
}

bool Window::IsWindowVisible() const {
    return CallOnUiThread([this] { return m_widget && m_widget->isVisible(); });
}

bool Window::EnableWindow(bool enable) {
    return CallOnUiThread([&] {
        if (!m_widget) {
            return false;
        }
        const bool wasDisabled = !m_widget->isEnabled();
        m_widget->setEnabled(enable);
        return wasDisabled;
    });
}

bool Window::IsWindowEnabled() const {
    return CallOnUiThread([this] { return m_widget && m_widget->isEnabled(); });
}

bool Window::MoveWindow(int x, int y, int width, int height, bool repaint) {
    return CallOnUiThread([&] {
        if (!m_widget) {
            return false;
        }
        m_widget->setGeometry(x, y, std::max(0, width), std::max(0, VisibleHeight(height)));
        // The window hears of its new size at once, also while hidden (Qt
        // would tell it only when shown), so its client area has that size.
        if (m_widget->testAttribute(Qt::WA_PendingResizeEvent)) {
            m_widget->setAttribute(Qt::WA_PendingResizeEvent, false);
            QResizeEvent resized(m_widget->size(), QSize());
            QCoreApplication::sendEvent(m_widget, &resized);
        }
        if (repaint) {
            m_widget->update();
        }
        return true;
    });
}

Rect Window::GetWindowRect() const {
    return CallOnUiThread([this] {
        if (!m_widget) {
            return Rect{};
        }
        QWidget* host = detail::ScreenHost();
        const QPoint origin = host && host->isAncestorOf(m_widget)
                                  ? m_widget->mapTo(host, QPoint(0, 0))
                                  : m_widget->mapToGlobal(QPoint(0, 0));
        return Rect{origin.x(), origin.y(), origin.x() + m_widget->width(),
                    origin.y() + m_widget->height()};
    });
}

Rect Window::GetClientRect() const {
    return CallOnUiThread([this] {
        QWidget* client = ClientWidget();
        return client ? Rect{0, 0, client->width(), client->height()} : Rect{};
    });
}

void Window::Invalidate(bool) {
    CallOnUiThread([this] {
        if (m_widget) {
            m_widget->update();
            for (QWidget* child : m_widget->findChildren<QWidget*>()) {
                child->update();
            }
        }
    });
}

void Window::UpdateWindow() {
    CallOnUiThread([this] {
        if (m_widget && m_widget->isVisible()) {
            m_widget->repaint();
        }
    });
}

void Window::SetFocus() {
    CallOnUiThread([this] {
        if (!m_widget) {
            return;
        }
        // Focus follows the active window, so the window takes the activation first.
        m_widget->window()->activateWindow();
        if (!m_widget->isVisible()) {
            // Qt gives no focus to a hidden widget; the window system does.
            detail::SetHiddenFocus(m_widget);
            return;
        }
        detail::SetHiddenFocus(nullptr);
        m_widget->setFocus(Qt::OtherFocusReason);
    });
}

bool Window::HasFocus() const {
    return CallOnUiThread([this] {
        if (!m_widget) {
            return false;
        }
        // The focus within this window's top-level window, active or not.
        QWidget* focus = detail::HiddenFocus();
        if (!focus || focus->window() != m_widget->window()) {
            focus = m_widget->window()->focusWidget();
        }
        return focus && (focus == m_widget || m_widget->isAncestorOf(focus));
    });
}

void Window::SetActiveWindow() {
    CallOnUiThread([this] {
        if (m_widget) {
            m_widget->window()->activateWindow();
        }
    });
}

void Window::SetFont(const Font& font, bool redraw) {
    CallOnUiThread([&] {
        if (m_widget) {
            m_widget->setFont(font.QtFont());
            if (redraw) {
                m_widget->update();
            }
        }
    });
}

void Window::SetToolTip(std::u16string_view text) {
    CallOnUiThread([&] {
        if (m_widget) {
            m_widget->setToolTip(
                QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size())));
        }
    });
}

QImage& Window::RetainedImage() {
    QWidget* client = ClientWidget();
    const QSize size = client ? client->size().expandedTo(QSize(1, 1)) : QSize(1, 1);
    if (!m_retained) {
        m_retained = std::make_unique<QImage>(size, QImage::Format_ARGB32_Premultiplied);
        m_retained->fill(Qt::transparent);
    } else if (m_retained->size() != size) {
        QImage grown(size, QImage::Format_ARGB32_Premultiplied);
        grown.fill(Qt::transparent);
        QPainter painter(&grown);
        painter.drawImage(0, 0, *m_retained);
        painter.end();
        *m_retained = grown;
    }
    if (!m_overlay && client) {
        m_overlay = new detail::RetainedOverlay(client, m_retained.get());
    }
    return *m_retained;
}

void Window::RetainedImageChanged() {
    if (m_overlay) {
        m_overlay->update();
    }
}

} // namespace hh::win
