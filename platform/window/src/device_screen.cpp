// The device screen's display effects and the keypad's keys.

#include "internal.h"

#include <platform/window/device_screen.h>
#include <platform/window/ui_thread.h>

#include <QApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QPointer>
#include <QTimer>
#include <algorithm>

namespace hh::win {
namespace {

constexpr int kPollMs = 250;
constexpr int kMarkerSize = 14;

/// Lies over every window of the device screen and lets the mouse through.
class EffectOverlay : public QWidget {
public:
    explicit EffectOverlay(QWidget* host) : QWidget(host) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
        setFocusPolicy(Qt::NoFocus);
        host->installEventFilter(this);
        auto* poll = new QTimer(this);
        QObject::connect(poll, &QTimer::timeout, this, [this] { Refresh(false); });
        poll->start(kPollMs);
    }

    void Refresh(bool now) {
        const DisplayEffect effect = EffectFor(sys::CurrentDisplayState());
        const bool changed = effect != m_effect;
        // Only a screen going dark or lit is drawn at once: a dimming comes
        // from a level the backlight page sets while its slider paints, and
        // a repaint inside a paint would be lost.
        const bool darkChanged = effect.dark != m_effect.dark;
        m_effect = effect;
        const bool shown = effect != DisplayEffect{};
        if (shown) {
            setGeometry(parentWidget()->rect());
            raise();
        }
        setVisible(shown);
        if (darkChanged && now) {
            // Drawn before returning: the caller may block the UI thread next.
            // Dark, the effect covers the whole screen; lit, all beneath it shows.
            if (effect.dark) {
                repaint();
            } else {
                parentWidget()->repaint();
            }
            // Windows that draw apart from the screen's own painting (a
            // modal dialog's caption) follow at the next pass of the loop.
            for (QWidget* child : parentWidget()->findChildren<QWidget*>()) {
                child->update();
            }
        } else if (changed) {
            update();
        }
    }

    const DisplayEffect& Effect() const { return m_effect; }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        if (m_effect.dark) {
            painter.fillRect(rect(), Qt::black);
        } else if (m_effect.dimAlpha > 0) {
            painter.fillRect(rect(), QColor(0, 0, 0, m_effect.dimAlpha));
        }
        if (m_effect.buzzerMarker) {
            painter.setRenderHint(QPainter::Antialiasing);
            const QRect marker(width() - kMarkerSize - 4, 4, kMarkerSize, kMarkerSize);
            painter.setPen(Qt::black);
            painter.setBrush(QColor(255, 200, 0));
            painter.drawEllipse(marker);
            painter.drawText(marker, Qt::AlignCenter, QStringLiteral("\u266A"));
        }
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        // A window opened later on the screen goes under the effect.
        if (watched == parentWidget() && isVisible() &&
            (event->type() == QEvent::ChildAdded || event->type() == QEvent::Resize)) {
            QTimer::singleShot(0, this, [this] {
                setGeometry(parentWidget()->rect());
                raise();
            });
        }
        return QWidget::eventFilter(watched, event);
    }

private:
    DisplayEffect m_effect;
};

QPointer<EffectOverlay> g_overlay;
int g_observer = 0;

QWidget* FocusTarget() {
    if (QWidget* focus = QApplication::focusWidget()) {
        return focus;
    }
    // Not the host's active window (a console has the keyboard): the window
    // the program last gave the focus still gets the keys.
    if (QWidget* host = detail::ScreenHost()) {
        return host->focusWidget() ? host->focusWidget() : host;
    }
    if (Dialog* main = Dialog::MainDialog(); main && main->Widget()) {
        QWidget* top = main->Widget()->window();
        return top->focusWidget() ? top->focusWidget() : top;
    }
    return QApplication::activeWindow();
}

} // namespace

DisplayEffect EffectFor(const sys::DisplayState& state) {
    DisplayEffect effect;
    effect.dark = !state.screenOn || state.suspended;
    const int level = static_cast<int>(std::min<uint32_t>(state.backlightLevel, 100));
    effect.dimAlpha = effect.dark ? 0 : (100 - level) * 2;
    effect.buzzerMarker = state.buzzerSounding;
    return effect;
}

void FollowDeviceDisplay() {
    CallOnUiThread([] {
        QWidget* host = detail::ScreenHost();
        if (!host || g_overlay) {
            return;
        }
        g_overlay = new EffectOverlay(host);
        g_overlay->hide();
        g_observer = sys::AddDisplayObserver([] {
            if (IsUiThread()) {
                if (g_overlay) {
                    g_overlay->Refresh(true);
                }
                return;
            }
            PostToUiThread([] {
                if (g_overlay) {
                    g_overlay->Refresh(false);
                }
            });
        });
        QObject::connect(g_overlay, &QObject::destroyed, [] {
            sys::RemoveDisplayObserver(g_observer);
            g_observer = 0;
        });
        g_overlay->Refresh(false);
    });
}

DisplayEffect ShownDisplayEffect() {
    return CallOnUiThread([] { return g_overlay ? g_overlay->Effect() : DisplayEffect{}; });
}

void PostHardwareKey(int virtualKey, bool pressed) {
    PostToUiThread([virtualKey, pressed] {
        QWidget* target = FocusTarget();
        if (!target) {
            return;
        }
        // The device's codes travel as the native virtual key, as a keypad driver's do.
        QKeyEvent event(pressed ? QEvent::KeyPress : QEvent::KeyRelease, Qt::Key_unknown,
                        Qt::NoModifier, 0, static_cast<quint32>(virtualKey), 0);
        QApplication::sendEvent(target, &event);
    });
}

void OnProgramActivated(std::function<void()> fn) {
    CallOnUiThread([&] {
        QObject::connect(qApp, &QGuiApplication::applicationStateChanged, qApp,
                         [fn](Qt::ApplicationState state) {
                             if (state == Qt::ApplicationActive) {
                                 fn();
                             }
                         });
    });
}

} // namespace hh::win
