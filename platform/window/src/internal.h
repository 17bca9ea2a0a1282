#pragma once
// Shared pieces of the window layer's implementation: the UI thread's call
// queue, the device screen, the timers and the lookups between windows and
// widgets. Private to platform/window.

#include <platform/window/dialog.h>
#include <platform/window/win_types.h>

#include <QEvent>
#include <QImage>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

class QIcon;
class QKeyEvent;

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#endif

namespace hh::win::detail {

inline QString ToQt(std::u16string_view text) {
    return QString(reinterpret_cast<const QChar*>(text.data()),
                   static_cast<qsizetype>(text.size()));
}
inline std::u16string FromQt(const QString& text) {
    return std::u16string(reinterpret_cast<const char16_t*>(text.utf16()),
                          static_cast<std::size_t>(text.size()));
}

/// A text as the device's window system draws it. A control character other
/// than the line breaks and the tab has no picture in the device's fonts and
/// shows as the box of a missing glyph; Qt would draw nothing for it, and its
/// text drawing would end the whole text at U+009C (its separator of length
/// variants).
inline QString DrawnText(std::u16string_view text) {
    QString drawn = ToQt(text);
    for (QChar& c : drawn) {
        const char16_t code = c.unicode();
        const bool control = code < 0x20 || (code >= 0x7F && code <= 0x9F);
        if (control && code != u'\t' && code != u'\r' && code != u'\n') {
            c = QChar(0x25A1);
        }
    }
    return drawn;
}

/// Qt's event queue is not built for ThreadSanitizer, so the hand-over of an
/// event a worker posts is marked here: released by the poster, acquired by
/// the UI thread before it reads the event.
inline void MarkEventPosted(const void* event) {
#if defined(__SANITIZE_THREAD__)
    __tsan_release(const_cast<void*>(event));
#else
    (void)event;
#endif
}
inline void MarkEventReceived(const void* event) {
#if defined(__SANITIZE_THREAD__)
    __tsan_acquire(const_cast<void*>(event));
#else
    (void)event;
#endif
}

/// The picture a window shows for its large and small icon (either may be null).
QIcon WindowIcon(HICON big, HICON small);

/// The widget that windows without parent live in: the device screen window
/// with HANDHELD_SCREEN, else null (they are top-level windows of the host).
QWidget* ScreenHost();
/// Screen size in the current orientation.
QSize ScreenSize();
/// Gives a window without parent its place: a child of the screen window, or top-level.
void PlaceTopLevel(QWidget* widget, bool popup);
/// Keeps the task bar and input panel above other windows of the screen.
void RaiseScreenChrome();

/// The virtual-key code of a Qt key event (0 when it has none).
int VirtualKeyOf(const QKeyEvent& event);

/// The timer service: real Qt timers, or occurrences driven by the TestClock.
void StartTimer(Dialog* dialog, std::uintptr_t id, std::uint32_t periodMs);
bool StopTimer(Dialog* dialog, std::uintptr_t id);
void StopAllTimers(Dialog* dialog);
/// True when the timer with id still belongs to the generation that fired.
bool TimerCurrent(const Dialog* dialog, std::uintptr_t id, std::uint64_t generation);
void InstallTimerClockObserver();
void RemoveTimerClockObserver();

/// Live windows by serial number, so that queued work for a destroyed window is dropped.
std::uint64_t RegisterWindow(Window* window);
void UnregisterWindow(std::uint64_t serial);
/// Runs fn with the window when it still lives (UI thread).
bool WithLiveWindow(std::uint64_t serial, const std::function<void(Window*)>& fn);
std::uint64_t SerialOf(const Window* window);

/// A surface drawing into a window's retained image; done runs when it is released.
Surface ImageSurface(QImage& image, QSize size, std::function<void()> done);
/// A surface on a painter that is already drawing (paint, erase and custom-draw handlers).
Surface PainterSurface(QPainter& painter, QSize size);

/// The property of a window that showing never activates (the task bar, the
/// input panel): it never takes the keyboard.
inline constexpr char kNeverActivated[] = "hhNeverActivated";

/// Gives widget the keyboard focus, activating its window first, when it is
/// enabled (a box or modal dialog that closes gives the focus back); a hidden
/// widget gets it as SetHiddenFocus gives it.
void GiveFocus(QWidget* widget);

/// A hidden window may hold the keyboard focus, as in the window system: the
/// keys of its window go to it until another window takes the focus or it is
/// shown (then it has the focus as any window does); activating its window
/// again leaves it the focus. Null for none.
void SetHiddenFocus(QWidget* widget);
QWidget* HiddenFocus();
/// Ends a hidden window's focus when Qt gives the focus to another window.
void TrackHiddenFocus();

/// Applies the styles every control shares: WS_DISABLED, and hidden without WS_VISIBLE.
void ApplyCommonStyle(QWidget* widget, const ControlTemplate& tpl);

/// Closes every open message box with answer 0 (application end).
void CloseAllMessageBoxes();

/// The application's Qt event loop helpers.
void InstallDispatcher();
void RemoveDispatcher();
bool UiThreadIsCurrent();

/// A widget that shows a window's retained drawing above the widget's own look.
class RetainedOverlay : public QWidget {
public:
    RetainedOverlay(QWidget* parent, const QImage* image);
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    const QImage* m_image;
};

} // namespace hh::win::detail
