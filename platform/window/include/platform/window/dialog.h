#pragma once
// Dialogs built from templates. Programs derive from Dialog and override the
// handlers; every handler runs on the UI thread, one at a time, in the order
// the window system delivers: control notifications, timers, posted messages
// in posting order, keys before dispatch, erasing and painting.

#include <platform/window/controls.h>
#include <platform/window/dialog_template.h>
#include <platform/window/window.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace hh::win {

/// WM_NOTIFY: the sender, the code and, for NM_CUSTOMDRAW, the drawing stage,
/// the item and a surface on the control being drawn.
struct Notification {
    int idFrom = 0;
    int code = 0;
    Control* control = nullptr;
    std::uint32_t drawStage = 0;
    std::uintptr_t itemSpec = 0;
    Rect itemRect;
    Surface* surface = nullptr;
};

/// WM_KEYDOWN / WM_KEYUP about to be dispatched to target.
struct KeyMessage {
    std::uint32_t message = 0; ///< WM_KEYDOWN or WM_KEYUP
    int virtualKey = 0;
    bool autoRepeat = false;
    Window* target = nullptr;
};

class Dialog : public Window {
public:
    explicit Dialog(DialogTemplate tpl);
    ~Dialog() override;

    std::u16string ClassName() const override { return u"#32770"; }
    const DialogTemplate& Template() const { return m_template; }

    /// Runs the dialog modally and returns the EndDialog result (IDOK when
    /// Enter or the caption OK button ends it, IDCANCEL for Escape), or -1
    /// when the dialog cannot be created. The application's main dialog (the
    /// first modal one) fills the device screen's work area; modal dialogs it
    /// opens keep their size, centred. Called on the UI thread.
    std::intptr_t DoModal();
    /// Creates a modeless dialog: a child page of parent, or, without parent,
    /// a popup owned by the application's main dialog. Visible when the
    /// template says WS_VISIBLE.
    bool Create(Window* parent);
    /// Ends a modal dialog with result (a modeless one is hidden).
    void EndDialog(std::intptr_t result);
    /// Destroys a modeless dialog's window (OnDestroy runs first).
    void DestroyWindow();
    bool IsCreated() const;

    /// GetDlgItem: the control with that id, or null.
    Control* GetDlgItem(int id) const;
    template <class T>
    T* Item(int id) const {
        return dynamic_cast<T*>(GetDlgItem(id));
    }
    bool SetDlgItemText(int id, std::u16string_view text);
    std::u16string GetDlgItemText(int id) const;
    bool SetDlgItemInt(int id, long value, bool isSigned = true);
    long GetDlgItemInt(int id, bool* translated = nullptr, bool isSigned = true) const;
    bool CheckDlgButton(int id, int state);
    int IsDlgButtonChecked(int id) const;

    /// SetTimer: WM_TIMER with id every period ms on the platform clock; a
    /// second SetTimer with the same id restarts it. A period of 0 is the
    /// window system's minimum of 10 ms.
    bool SetTimer(std::uintptr_t id, std::uint32_t periodMs);
    bool KillTimer(std::uintptr_t id);

    /// PostMessage: queued from any thread; OnMessage sees it in posting
    /// order. False when the dialog has no window.
    bool PostMessage(std::uint32_t message, WPARAM wParam, LPARAM lParam);
    /// SendMessage: OnMessage at once on the UI thread; from a worker it waits
    /// until the UI thread has handled it.
    LRESULT SendMessage(std::uint32_t message, WPARAM wParam, LPARAM lParam);

    /// The application's main dialog (the modal dialog without parent that runs now), or null.
    static Dialog* MainDialog();

    /// For the window layer: dispatches a command / key / timer to the handlers.
    void DispatchCommand(int id, int code);
    LRESULT DispatchNotify(const Notification& notification);
    bool DispatchPreTranslate(const KeyMessage& key);
    void DispatchTimer(std::uintptr_t id, std::uint64_t generation);
    void DispatchEraseAndPaint(QPainter& painter);
    void DispatchCaptionOk();
    Button* DefaultButton() const;

protected:
    /// WM_INITDIALOG; return true to let the window system set the focus.
    virtual bool OnInitDialog() { return true; }
    /// WM_COMMAND; the default runs OnOK for IDOK and OnCancel for IDCANCEL.
    virtual void OnCommand(int id, int code);
    virtual void OnOK() { EndDialog(IDOK); }
    virtual void OnCancel() { EndDialog(IDCANCEL); }
    /// WM_NOTIFY; the result goes back to the control (for NM_CUSTOMDRAW the CDRF_ answer).
    virtual LRESULT OnNotify(const Notification& notification);
    virtual void OnTimer(std::uintptr_t id);
    /// Posted or sent private messages (WM_USER + n).
    virtual LRESULT OnMessage(std::uint32_t message, WPARAM wParam, LPARAM lParam);
    /// Keys about to be dispatched to this dialog or any window in it; true consumes them.
    virtual bool PreTranslateMessage(const KeyMessage& key);
    /// WM_ERASEBKGND; true when the handler erased the background itself.
    virtual bool OnEraseBackground(Surface& surface);
    virtual void OnPaint(Surface& surface);
    /// WM_DESTROY: the window and its controls still exist.
    virtual void OnDestroy() {}

    QWidget* ClientWidget() const override;
    QImage& RetainedImage() override;
    void RetainedImageChanged() override;

private:
    struct Impl;
    bool Build(QWidget* parentWidget, bool modal);
    void Teardown();

    DialogTemplate m_template;
    std::unique_ptr<Impl> m_impl;
};

} // namespace hh::win
