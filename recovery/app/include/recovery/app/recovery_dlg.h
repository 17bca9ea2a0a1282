#pragma once
// Restel's windows: the full-screen recovery dialog with its three drawn
// screens (confirmation, progress, completion), the worker thread that runs
// the recovery, the tool's own message box, and the application object.
//
// Phase one: the confirmation screen; YES stores 100 in the power driver's
// recover flag and restarts the device, NO ends the program. Phase two, when
// the driver reports 101 at start: the flag is cleared, the worker empties
// the resident flash, copies the configured trees, removes the user data and
// the dialog counts down 5 ... 0 and restarts the device. Failures end in a
// message box and a restart.

#include <platform/system/event.h>
#include <platform/system/thread.h>
#include <platform/window/dialog.h>
#include <platform/window/surface.h>
#include <recovery/engine/recovery_run.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace recovery {

inline constexpr int IDD_RECOVERY_DIALOG = 102;
/// The program's icon (its window's large and small icon).
inline constexpr int IDR_MAINFRAME = 128;
inline constexpr int IDD_MSGBOX = 130;
inline constexpr int IDC_PROGRESS = 1010;
inline constexpr int IDC_BTN_YES = 1017;
inline constexpr int IDC_BTN_NO = 1018;
inline constexpr int IDC_MSG_TEXT = 1018;

inline constexpr std::uintptr_t TIMER_POLL = 10;
inline constexpr uint32_t kPollPeriodMs = 200;
inline constexpr std::uintptr_t TIMER_RESTART = 16;
inline constexpr uint32_t kRestartPeriodMs = 1000;
inline constexpr int32_t kRestartCountdown = 5;

/// The dialog templates 102 and 130.
hh::win::DialogTemplate RecoveryDialogTemplate();
hh::win::DialogTemplate MsgBoxTemplate();

/// Where the worker finds its stop event. The event is made after the thread
/// has started, so the worker may look before it is there; the slot makes
/// that look safe.
class StopEventSlot {
public:
    void Store(hh::sys::Event event);
    hh::sys::Event Load() const;

private:
    mutable std::mutex m_lock;
    hh::sys::Event m_event;
};

/// One worker thread and its stop event "EventThread_<handle>_<id>".
class CEventThread {
public:
    CEventThread(StopEventSlot& stopEvent, hh::sys::Thread::Routine routine, void* argument);
    ~CEventThread();
    CEventThread(const CEventThread&) = delete;
    CEventThread& operator=(const CEventThread&) = delete;

    /// Signals the stop event and waits 3000 ms for the thread, then ends it.
    void Stop();

private:
    hh::sys::Thread m_hThread;
    uint32_t m_dwThreadId = 0;
    uint32_t m_dwHandleValue = 0;
    hh::sys::Event m_hStopEvent;
};

/// The tool's message box (template 130): the text in a 20-point face, the
/// caption, one OK button. Text and caption are set again at every erase.
class CMsgBox : public hh::win::Dialog {
public:
    CMsgBox(std::u16string text, std::u16string caption);

protected:
    bool OnInitDialog() override;
    bool OnEraseBackground(hh::win::Surface& surface) override;

private:
    hh::win::Font m_font;
    std::u16string m_strCaption;
    std::u16string m_strText;
};

/// What ends the program without a restart (NO, a failed flag write, a bad
/// Path.xml): by default the standard streams are flushed and the process
/// ends with the code at once. Tests end the dialog instead.
using EndProcessFn = std::function<void(int exitCode)>;

/// The main dialog (template 102).
class CRecoveryDlg : public hh::win::Dialog, public RecoveryState, public RecoveryScreen {
public:
    explicit CRecoveryDlg(EndProcessFn endProcess = {});
    ~CRecoveryDlg() override;

    /// The worker loop (the thread's routine; argument: the dialog).
    static uint32_t RecoveryThreadProc(void* dialog);

    /// RecoveryScreen, called by the worker: carried to the UI thread.
    void SetProgressRange(uint32_t upper) override;
    void StartRestartCountdown() override;

    // What the screens show; tests read them.
    int32_t ConfirmScreen() const { return m_bConfirmScreen; }
    int32_t Countdown() const { return m_nCountdown; }
    int32_t WorkerState() const { return m_nWorkerState; }
    const std::u16string& Message() const { return m_strMessage; }

protected:
    bool OnInitDialog() override;
    void OnCommand(int id, int code) override;
    void OnTimer(std::uintptr_t id) override;
    bool OnEraseBackground(hh::win::Surface& surface) override;
    void OnDestroy() override;

private:
    void OnYes();
    void OnNo();
    bool ReadConfiguration();
    /// Moves the progress bar to the copied-file count (read under the copy
    /// mutex), just before each redraw. Not done while drawing: the bar
    /// repaints itself at once when its position changes, and a repaint
    /// inside the dialog's own painting leaves the dialog unpainted.
    void FollowCopiedFiles();
    void DrawConfirmScreen(hh::win::Surface& surface, const hh::win::Rect& client);
    void DrawProgressScreen(hh::win::Surface& surface, const hh::win::Rect& client);

    EndProcessFn m_endProcess;
    hh::win::HICON m_hIcon = nullptr;
    std::u16string m_strMessage;
    std::unique_ptr<CEventThread> m_pThread;
    StopEventSlot m_hStopEvent;
    std::atomic<uint8_t> m_bStartRequest{0};
    std::atomic<int32_t> m_nWorkerState{2};
    std::atomic<int32_t> m_nCountdown{0};
    hh::win::ProgressBar* m_progress = nullptr;
    int32_t m_bConfirmScreen = 1;
};

/// The application object.
class CRecoveryApp {
public:
    /// Runs the main dialog modally; false: no message loop follows.
    bool InitInstance();
};

/// SetDisplayOrientation: 1 when the display now has that orientation
/// (DMDO_0, DMDO_90, ...), 0 when the display cannot tell or refuses.
int SetDisplayOrientation(uint32_t orientation);

} // namespace recovery
