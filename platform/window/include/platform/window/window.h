#pragma once
// A window of the device's window system: a dialog, a control, the task bar.
// Every call may be made from any thread; from a worker it is carried to the
// UI thread and returns when the UI thread has run it (the window system's
// send semantics). Only Dialog::PostMessage is queued instead.

#include <platform/window/icon.h>
#include <platform/window/surface.h>
#include <platform/window/win_types.h>

#include <cstdint>
#include <string>
#include <string_view>

class QWidget;

namespace hh::win {

class Window {
public:
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;
    virtual ~Window();

    /// The window class: "BUTTON", "EDIT", "#32770" for dialogs, "HHTaskBar", ...
    virtual std::u16string ClassName() const = 0;

    std::u16string GetWindowText() const;
    int GetWindowTextLength() const;
    /// SetWindowText; setting the text it already has changes nothing.
    bool SetWindowText(std::u16string_view text);

    /// ShowWindow with SW_SHOW, SW_HIDE, ...; returns whether it was visible before.
    /// Showing a top-level window with SW_SHOW or SW_SHOWNORMAL activates it: it
    /// takes the keyboard (its last focused control, else its first tab stop);
    /// SW_SHOWNA and SW_SHOWNOACTIVATE leave the keyboard where it is.
    bool ShowWindow(int command);
    bool IsWindowVisible() const;
    /// EnableWindow; returns whether it was disabled before.
    bool EnableWindow(bool enable);
    bool IsWindowEnabled() const;
    /// MoveWindow: the window's outer rectangle, in its parent's client
    /// coordinates (screen coordinates for a window without parent).
    bool MoveWindow(int x, int y, int width, int height, bool repaint = true);
    /// The outer rectangle in screen coordinates.
    Rect GetWindowRect() const;
    /// The client area: 0, 0, width, height.
    Rect GetClientRect() const;
    /// InvalidateRect of the whole window; the erase flag is kept for the
    /// handlers (the background is always erased before painting).
    void Invalidate(bool erase = true);
    /// Paints what is invalid now.
    void UpdateWindow();
    void SetFocus();
    bool HasFocus() const;
    void SetActiveWindow();
    /// WM_SETFONT.
    void SetFont(const Font& font, bool redraw = true);
    /// The text shown while the pointer rests on the window; empty for none.
    void SetToolTip(std::u16string_view text);

    /// WM_SETICON: the window's large (ICON_BIG) or small (ICON_SMALL) icon;
    /// returns the one it replaces. The desktop shows them for the window
    /// (for a window on the device screen, for the screen's window).
    HICON SetIcon(HICON icon, int kind);
    /// WM_GETICON: the icon of that kind, or null.
    HICON GetIcon(int kind) const;

    /// GetDC: draws into the image the window keeps and shows.
    Surface GetDC();

    /// The widget behind it (UI thread only; for the window layer and tests).
    QWidget* Widget() const { return m_widget; }
    /// The window behind a widget, or null.
    static Window* FromWidget(const QWidget* widget);

protected:
    Window();
    /// Binds the widget; the window deletes it unless it has a parent widget that does.
    void Attach(QWidget* widget);
    void Detach();
    /// The widget that holds the client area and child windows.
    virtual QWidget* ClientWidget() const { return m_widget; }
    virtual std::u16string TextOnUi() const;
    virtual void SetTextOnUi(std::u16string_view text);
    /// The image GetDC draws into, sized to the client area.
    virtual QImage& RetainedImage();
    /// Called when GetDC's surface is released.
    virtual void RetainedImageChanged();
    /// The height the widget really takes when MoveWindow asks for requested
    /// (a combo box's field keeps its own height; the rest is its list).
    virtual int VisibleHeight(int requested) const { return requested; }

private:
    QWidget* m_widget = nullptr;
    std::unique_ptr<QImage> m_retained;
    QWidget* m_overlay = nullptr;
    HICON m_icons[2] = {};
};

} // namespace hh::win
