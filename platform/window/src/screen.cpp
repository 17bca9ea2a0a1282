// The device screen, its work area, the task bar strip, the input panel and the
// display orientation.

#include "internal.h"

#include <platform/window/screen.h>
#include <platform/window/ui_thread.h>

#include <QApplication>
#include <QCoreApplication>
#include <QGridLayout>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

namespace hh::win {
namespace detail {
namespace {

class TaskBarStrip : public QWidget {
public:
    using QWidget::QWidget;
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), QColor(0, 0, 96));
        painter.setPen(QColor(224, 224, 224));
        painter.drawLine(0, 0, width(), 0);
    }
};

/// The device screen drawn as one window on a desktop. It paints its own black
/// rather than setting a palette, which every dialog on it would inherit.
class DeviceScreenHost : public QWidget {
protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(rect(), Qt::black); }
};

/// The platform's task bar window, class "HHTaskBar".
class TaskBar : public Window {
public:
    explicit TaskBar(QWidget* widget) { Attach(widget); }
    ~TaskBar() override { Detach(); }
    std::u16string ClassName() const override { return u"HHTaskBar"; }
};

/// A simple on-screen keyboard: its keys type into the focused widget without taking the focus.
class InputPanel : public QWidget {
public:
    explicit InputPanel(QWidget* parent) : QWidget(parent) {
        setAutoFillBackground(true);
        setPalette(QPalette(QColor(208, 208, 208)));
        auto* grid = new QGridLayout(this);
        grid->setContentsMargins(2, 2, 2, 2);
        grid->setSpacing(1);
        const char* rows[] = {"1234567890", "qwertyuiop", "asdfghjkl.", "zxcvbnm,-+"};
        for (int r = 0; r < 4; ++r) {
            for (int c = 0; rows[r][c] != 0; ++c) {
                const QString text(QChar::fromLatin1(rows[r][c]));
                AddKey(grid, r, c, 1, text, Qt::Key_unknown);
            }
        }
        AddKey(grid, 0, 10, 1, QStringLiteral("\u2190"), Qt::Key_Backspace);
        AddKey(grid, 1, 10, 1, QStringLiteral("\u21B5"), Qt::Key_Return);
        AddKey(grid, 2, 10, 1, QStringLiteral("\u21E5"), Qt::Key_Tab);
        AddKey(grid, 3, 10, 1, QStringLiteral("\u2423"), Qt::Key_Space);
    }

private:
    void AddKey(QGridLayout* grid, int row, int column, int span, const QString& label,
                Qt::Key special) {
        auto* key = new QPushButton(label, this);
        key->setFocusPolicy(Qt::NoFocus);
        key->setMinimumSize(8, 8);
        key->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
        grid->addWidget(key, row, column, 1, span);
        QObject::connect(key, &QPushButton::clicked, this, [label, special] {
            QWidget* target = QApplication::focusWidget();
            if (!target && ScreenHost()) {
                target = ScreenHost()->focusWidget();
            }
            if (!target) {
                return;
            }
            const QString text = special == Qt::Key_Space     ? QStringLiteral(" ")
                                 : special == Qt::Key_Return  ? QStringLiteral("\r")
                                 : special == Qt::Key_Tab     ? QStringLiteral("\t")
                                 : special == Qt::Key_unknown ? label
                                                              : QString();
            int qtKey = special;
            if (special == Qt::Key_unknown) {
                qtKey = label[0].isLetter() ? Qt::Key_A + (label[0].toUpper().unicode() - 'A')
                                            : label[0].unicode();
            }
            QKeyEvent press(QEvent::KeyPress, qtKey, Qt::NoModifier, text);
            QKeyEvent release(QEvent::KeyRelease, qtKey, Qt::NoModifier, text);
            QCoreApplication::sendEvent(target, &press);
            QCoreApplication::sendEvent(target, &release);
        });
    }
};

struct ScreenState {
    bool deviceScreen = false;
    QSize natural;
    std::uint32_t orientation = DMDO_0;
    Rect workArea;
    std::unique_ptr<QWidget> host;
    QWidget* taskBarWidget = nullptr;
    std::unique_ptr<TaskBar> taskBar;
    QWidget* inputPanel = nullptr;
};

std::unique_ptr<ScreenState> g_screen;

QSize OrientedSize() {
    if (!g_screen) {
        return QSize();
    }
    const bool swapped = g_screen->orientation == DMDO_90 || g_screen->orientation == DMDO_270;
    return swapped ? g_screen->natural.transposed() : g_screen->natural;
}

QRect HostScreenOrigin() {
    if (g_screen && g_screen->deviceScreen) {
        return QRect(QPoint(0, 0), OrientedSize());
    }
    QScreen* screen = QGuiApplication::primaryScreen();
    return QRect(screen ? screen->geometry().topLeft() : QPoint(0, 0), OrientedSize());
}

void LayoutChrome() {
    const QRect screen = HostScreenOrigin();
    if (g_screen->host) {
        g_screen->host->setFixedSize(screen.size());
    }
    g_screen->taskBarWidget->setGeometry(screen.left(), screen.bottom() + 1 - kTaskBarHeight,
                                         screen.width(), kTaskBarHeight);
    const int panelHeight = std::min(120, screen.height() * 2 / 5);
    const int panelBottom =
        screen.bottom() + 1 - (g_screen->taskBarWidget->isVisible() ? kTaskBarHeight : 0);
    g_screen->inputPanel->setGeometry(screen.left(), panelBottom - panelHeight, screen.width(),
                                      panelHeight);
}

QWidget* MakeChrome(QWidget* widget) {
    if (!g_screen->deviceScreen) {
        widget->setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                               Qt::WindowDoesNotAcceptFocus);
    }
    widget->setFocusPolicy(Qt::NoFocus);
    widget->setAttribute(Qt::WA_ShowWithoutActivating);
    widget->setProperty(kNeverActivated, true);
    return widget;
}

} // namespace

void CreateScreen() {
    g_screen = std::make_unique<ScreenState>();
    int width = 0;
    int height = 0;
    const char* configured = std::getenv("HANDHELD_SCREEN");
    if (configured && ParseScreenSize(configured, &width, &height)) {
        g_screen->deviceScreen = true;
        g_screen->natural = QSize(width, height);
        g_screen->host = std::make_unique<DeviceScreenHost>();
        g_screen->host->setWindowTitle(QStringLiteral("Handheld device"));
    } else {
        if (configured) {
            std::fprintf(stderr,
                         "HANDHELD_SCREEN=\"%s\" is not WIDTHxHEIGHT; using the host screen\n",
                         configured);
        }
        QScreen* screen = QGuiApplication::primaryScreen();
        g_screen->natural = screen ? screen->geometry().size() : QSize(800, 600);
    }
    QWidget* parent = g_screen->host.get();
    g_screen->taskBarWidget = MakeChrome(new TaskBarStrip(parent));
    g_screen->taskBar = std::make_unique<TaskBar>(g_screen->taskBarWidget);
    g_screen->inputPanel = MakeChrome(new InputPanel(parent));
    g_screen->inputPanel->hide();
    LayoutChrome();
    // The device starts with its task bar shown and the work area above it.
    g_screen->taskBarWidget->show();
    const QSize size = OrientedSize();
    g_screen->workArea = Rect{0, 0, size.width(), size.height() - kTaskBarHeight};
    if (g_screen->host) {
        g_screen->host->show();
        g_screen->host->activateWindow();
    }
}

void DestroyScreen() {
    if (!g_screen) {
        return;
    }
    g_screen->taskBar.reset();
    if (!g_screen->host) {
        delete g_screen->taskBarWidget;
        delete g_screen->inputPanel;
    }
    g_screen.reset();
}

QWidget* ScreenHost() {
    return g_screen ? g_screen->host.get() : nullptr;
}

QSize ScreenSize() {
    return OrientedSize();
}

void PlaceTopLevel(QWidget* widget, bool popup) {
    if (QWidget* host = ScreenHost()) {
        widget->setParent(host, Qt::Widget);
    } else {
        widget->setParent(nullptr, popup ? Qt::Window | Qt::FramelessWindowHint : Qt::Window);
    }
}

void RaiseScreenChrome() {
    if (g_screen) {
        g_screen->taskBarWidget->raise();
        g_screen->inputPanel->raise();
    }
}

} // namespace detail

bool ParseScreenSize(std::string_view text, int* width, int* height) {
    const auto x = text.find_first_of("xX");
    if (x == std::string_view::npos || x == 0 || x + 1 >= text.size()) {
        return false;
    }
    int w = 0;
    int h = 0;
    const auto first = std::from_chars(text.data(), text.data() + x, w);
    const auto second = std::from_chars(text.data() + x + 1, text.data() + text.size(), h);
    if (first.ec != std::errc() || first.ptr != text.data() + x || second.ec != std::errc() ||
        second.ptr != text.data() + text.size() || w < 64 || h < 64 || w > 8192 || h > 8192) {
        return false;
    }
    *width = w;
    *height = h;
    return true;
}

int GetSystemMetrics(int index) {
    return CallOnUiThread([index] {
        const QSize size = detail::ScreenSize();
        switch (index) {
        case SM_CXSCREEN:
            return size.width();
        case SM_CYSCREEN:
            return size.height();
        case SM_CYCAPTION:
            return 24;
        default:
            return 0;
        }
    });
}

bool SystemParametersInfo(std::uint32_t action, std::uint32_t, void* pvParam, std::uint32_t) {
    if (!pvParam) {
        return false;
    }
    return CallOnUiThread([&] {
        if (!detail::g_screen) {
            return false;
        }
        if (action == SPI_SETWORKAREA) {
            const Rect area = *static_cast<const Rect*>(pvParam);
            if (area.right < area.left || area.bottom < area.top) {
                return false;
            }
            detail::g_screen->workArea = area;
            return true;
        }
        if (action == SPI_GETWORKAREA) {
            *static_cast<Rect*>(pvParam) = detail::g_screen->workArea;
            return true;
        }
        return false;
    });
}

Rect GetWorkArea() {
    Rect area;
    SystemParametersInfo(SPI_GETWORKAREA, 0, &area, 0);
    return area;
}

Window* FindWindow(std::u16string_view className, std::u16string_view windowName) {
    return CallOnUiThread([&]() -> Window* {
        if (!detail::g_screen || className != u"HHTaskBar") {
            return nullptr;
        }
        Window* bar = detail::g_screen->taskBar.get();
        if (!windowName.empty() && bar->GetWindowText() != windowName) {
            return nullptr;
        }
        return bar;
    });
}

bool ShowWindow(Window* window, int command) {
    return window && window->ShowWindow(command);
}

bool SipShowIM(std::uint32_t flags) {
    return CallOnUiThread([flags] {
        if (!detail::g_screen) {
            return false;
        }
        detail::LayoutChrome();
        detail::g_screen->inputPanel->setVisible((flags & SIPF_ON) != 0);
        detail::RaiseScreenChrome();
        return true;
    });
}

bool IsInputPanelVisible() {
    return CallOnUiThread(
        [] { return detail::g_screen && detail::g_screen->inputPanel->isVisible(); });
}

std::uint32_t DisplayOrientation() {
    return CallOnUiThread([] { return detail::g_screen ? detail::g_screen->orientation : DMDO_0; });
}

long ChangeDisplaySettingsEx(const char16_t* deviceName, DevMode* mode, void*, std::uint32_t flags,
                             void*) {
    if (deviceName != nullptr || mode == nullptr || mode->dmSize < sizeof(DevMode)) {
        return DISP_CHANGE_BADPARAM;
    }
    return CallOnUiThread([&]() -> long {
        auto& screen = detail::g_screen;
        if (!screen) {
            return DISP_CHANGE_FAILED;
        }
        if (mode->dmFields & DM_DISPLAYQUERYORIENTATION) {
            if (!(flags & CDS_TEST)) {
                return DISP_CHANGE_BADFLAGS;
            }
            mode->dmDisplayOrientation = DMDO_0 | DMDO_90 | DMDO_180 | DMDO_270;
            return DISP_CHANGE_SUCCESSFUL;
        }
        if (!(mode->dmFields & DM_DISPLAYORIENTATION)) {
            return DISP_CHANGE_BADPARAM;
        }
        if (flags & CDS_TEST) {
            mode->dmDisplayOrientation = screen->orientation;
            return DISP_CHANGE_SUCCESSFUL;
        }
        const std::uint32_t wanted = mode->dmDisplayOrientation;
        if (wanted != DMDO_0 && wanted != DMDO_90 && wanted != DMDO_180 && wanted != DMDO_270) {
            return DISP_CHANGE_BADMODE;
        }
        const QRect oldScreen(QPoint(0, 0), detail::OrientedSize());
        const Rect oldArea = screen->workArea;
        screen->orientation = wanted;
        const QSize size = detail::OrientedSize();
        detail::LayoutChrome();
        const bool barShown = screen->taskBarWidget->isVisible();
        screen->workArea =
            Rect{0, 0, size.width(), size.height() - (barShown ? kTaskBarHeight : 0)};
        // Windows that covered the screen or the work area keep doing so.
        const QRect oldWork(oldArea.left, oldArea.top, oldArea.Width(), oldArea.Height());
        for (QWidget* widget : QApplication::allWidgets()) {
            Window* window = Window::FromWidget(widget);
            auto* dialog = dynamic_cast<Dialog*>(window);
            if (!dialog ||
                (!widget->isWindow() && widget->parentWidget() != detail::ScreenHost())) {
                continue;
            }
            if (widget->geometry() == oldScreen) {
                widget->setGeometry(QRect(QPoint(0, 0), size));
            } else if (widget->geometry() == oldWork) {
                const Rect& a = screen->workArea;
                widget->setGeometry(a.left, a.top, a.Width(), a.Height());
            }
        }
        return DISP_CHANGE_SUCCESSFUL;
    });
}

} // namespace hh::win
