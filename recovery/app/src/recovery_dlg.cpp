#include <common/show_task_bar.h>
#include <platform/system/ce_path.h>
#include <platform/system/clock.h>
#include <platform/system/error.h>
#include <platform/system/files.h>
#include <platform/system/module_path.h>
#include <platform/system/process.h>
#include <platform/system/trace.h>
#include <platform/system/wait.h>
#include <platform/window/message_box.h>
#include <platform/window/screen.h>
#include <recovery/app/recovery_dlg.h>
#include <recovery/app/screens.h>
#include <recovery/config/path_config.h>
#include <recovery/engine/copy_engine.h>
#include <recovery/engine/power_requests.h>

#include <algorithm>
#include <cstdio>
#include <exception>

namespace recovery {

namespace sys = hh::sys;
namespace win = hh::win;

namespace {

constexpr uint32_t kConfirmTitleFlags = win::DT_CENTER | win::DT_WORDBREAK;
constexpr uint32_t kConfirmWarningFlags = win::DT_CENTER | win::DT_VCENTER | win::DT_WORDBREAK;
constexpr uint32_t kCompletedFlags = win::DT_CENTER | win::DT_BOTTOM | win::DT_WORDBREAK;
constexpr uint32_t kProgressFlags = win::DT_CENTER | win::DT_VCENTER;

// Every control of the templates is a visible child, as the resource compiler
// makes them.
constexpr uint32_t kChild = win::WS_CHILD | win::WS_VISIBLE;

// The configuration reader's boxes: the platform's message box, no owner.
class MessageBoxReporter : public XmlReporter {
public:
    void ShowError(std::u16string_view text, std::u16string_view caption) override {
        win::MessageBox(nullptr, text, caption, win::MB_ICONERROR);
    }
};

win::Font BoldArial(int height) {
    return win::Font(win::LogFont{height, win::FW_BOLD, false, u"Arial"});
}

bool Acquire(sys::Mutex& mutex) {
    uint32_t wait = sys::WaitForSingleObject(mutex, sys::INFINITE);
    return wait == sys::WAIT_OBJECT_0 || wait == sys::WAIT_ABANDONED;
}

} // namespace

win::DialogTemplate RecoveryDialogTemplate() {
    win::DialogTemplate tpl;
    tpl.id = IDD_RECOVERY_DIALOG;
    tpl.style = win::WS_POPUP | win::DS_SETFONT;
    tpl.widthDlu = 362;
    tpl.heightDlu = 153;
    tpl.controls = {
        {IDC_PROGRESS, win::PROGRESS_CLASS, u"", kChild | win::WS_BORDER,
         win::DluRect(7, 70, 348, 14)},
        {IDC_BTN_YES, win::WC_BUTTON, u"YES", kChild | win::WS_TABSTOP | win::BS_PUSHBUTTON,
         win::DluRect(190, 100, 80, 30)},
        {IDC_BTN_NO, win::WC_BUTTON, u"NO", kChild | win::WS_TABSTOP | win::BS_PUSHBUTTON,
         win::DluRect(90, 100, 80, 30)},
    };
    return tpl;
}

win::DialogTemplate MsgBoxTemplate() {
    win::DialogTemplate tpl;
    tpl.id = IDD_MSGBOX;
    tpl.style = win::WS_POPUP | win::WS_CAPTION | win::DS_SETFONT;
    tpl.widthDlu = 116;
    tpl.heightDlu = 110;
    tpl.controls = {
        {IDC_MSG_TEXT, win::WC_STATIC, u"", kChild | win::SS_LEFT, win::DluRect(0, 0, 115, 71)},
        {win::IDOK, win::WC_BUTTON, u"OK", kChild | win::WS_TABSTOP | win::BS_DEFPUSHBUTTON,
         win::DluRect(23, 78, 69, 25)},
    };
    return tpl;
}

void StopEventSlot::Store(sys::Event event) {
    std::lock_guard lock(m_lock);
    m_event = std::move(event);
}

sys::Event StopEventSlot::Load() const {
    std::lock_guard lock(m_lock);
    return m_event;
}

CEventThread::CEventThread(StopEventSlot& stopEvent, sys::Thread::Routine routine, void* argument) {
    m_hThread = sys::Thread::Start(routine, argument);
    m_dwThreadId = m_hThread ? m_hThread.id() : 0;
    m_dwHandleValue = m_hThread ? m_hThread.handleValue() : 0;
    char name[64];
    std::snprintf(name, sizeof name, "EventThread_%x_%0x", m_dwHandleValue, m_dwThreadId);
    m_hStopEvent = sys::Event::Create(sys::EventReset::Automatic, false, name);
    stopEvent.Store(m_hStopEvent);
    sys::TracePrintf("[Start Thread] HANDLE->%x ID->%0x\n", m_dwHandleValue, m_dwThreadId);
}

CEventThread::~CEventThread() {
    if (m_hThread) {
        Stop();
    }
}

void CEventThread::Stop() {
    if (!m_hThread) {
        return;
    }
    sys::SetEvent(m_hStopEvent);
    if (sys::WaitForSingleObject(m_hThread, 3000) == sys::WAIT_TIMEOUT) {
        sys::TracePrintf("~Thread WAIT_TIMEOUT\n");
        sys::TerminateThread(m_hThread, 0);
    }
    m_hStopEvent.close();
    sys::TracePrintf("[End Thread] HANDLE->%x ID->%0x\n", m_dwHandleValue, m_dwThreadId);
    m_hThread.close();
}

CMsgBox::CMsgBox(std::u16string text, std::u16string caption)
    : win::Dialog(MsgBoxTemplate()), m_strCaption(std::move(caption)), m_strText(std::move(text)) {}

bool CMsgBox::OnInitDialog() {
    m_font = win::Font::FromPointSize(200, u"宋体");
    for (int id : {IDC_MSG_TEXT, win::IDOK}) {
        if (win::Control* control = GetDlgItem(id)) {
            control->SetFont(m_font, true);
        }
    }
    return true;
}

bool CMsgBox::OnEraseBackground(win::Surface& surface) {
    SetWindowText(m_strCaption);
    SetDlgItemText(IDC_MSG_TEXT, m_strText);
    return win::Dialog::OnEraseBackground(surface);
}

int SetDisplayOrientation(uint32_t orientation) {
    win::DevMode mode;
    mode.dmFields = win::DM_DISPLAYQUERYORIENTATION;
    if (win::ChangeDisplaySettingsEx(nullptr, &mode, nullptr, win::CDS_TEST, nullptr) !=
        win::DISP_CHANGE_SUCCESSFUL) {
        return 0;
    }
    mode = win::DevMode{};
    mode.dmFields = win::DM_DISPLAYORIENTATION;
    mode.dmDisplayOrientation = orientation;
    return win::ChangeDisplaySettingsEx(nullptr, &mode, nullptr, win::CDS_RESET, nullptr) ==
                   win::DISP_CHANGE_SUCCESSFUL
               ? 1
               : 0;
}

CRecoveryDlg::CRecoveryDlg(EndProcessFn endProcess)
    : win::Dialog(RecoveryDialogTemplate()),
      m_endProcess(endProcess ? std::move(endProcess) : sys::ExitProcessNow),
      m_hIcon(win::LoadIcon(IDR_MAINFRAME)) {}

CRecoveryDlg::~CRecoveryDlg() = default;

bool CRecoveryDlg::ReadConfiguration() {
    MessageBoxReporter reporter;
    try {
        PathConfig config(ProgramDirOf(sys::GetModuleFileName()) + u"Path.xml", &reporter);
        for (PathPair& pair : ReadPathPairs(config)) {
            m_sources.push_back(std::move(pair.source));
            m_destinations.push_back(std::move(pair.destination));
        }
        m_nPairIndex = 0;
    } catch (const sys::ThreadTerminated&) {
        throw;
    } catch (const std::exception&) {
        m_sources.clear();
        m_destinations.clear();
        return false;
    }
    return true;
}

bool CRecoveryDlg::OnInitDialog() {
    win::Dialog::OnInitDialog();
    SetDisplayOrientation(win::DMDO_90);
    SetIcon(m_hIcon, win::ICON_BIG);
    SetIcon(m_hIcon, win::ICON_SMALL);
    ShowTaskBar(*this, win::SW_HIDE, 0);
    // The dialog has neither caption nor border: its client area is its window
    // rectangle, which is already the full screen while the dialog is still hidden.
    const win::Rect window = GetWindowRect();
    const win::Rect client{0, 0, window.Width(), window.Height()};

    if (!ReadConfiguration()) {
        win::MessageBox(this, u"XML ERROR!", std::u16string_view(), win::MB_TOPMOST);
        m_endProcess(0);
        return false;
    }

    m_progress = Item<win::ProgressBar>(IDC_PROGRESS);
    const int barHeight = m_progress->GetWindowRect().Height();
    const ScreenLayout layout = LayoutFor(client.Width(), client.Height(), barHeight);
    m_progress->MoveWindow(layout.progress.x, layout.progress.y, layout.progress.width,
                           layout.progress.height);
    m_progress->SetRange(0, 100);
    m_progress->SetStep(1);
    m_progress->ShowWindow(win::SW_HIDE);
    GetDlgItem(IDC_BTN_NO)->MoveWindow(layout.no.x, layout.no.y, layout.no.width, layout.no.height);
    GetDlgItem(IDC_BTN_YES)
        ->MoveWindow(layout.yes.x, layout.yes.y, layout.yes.width, layout.yes.height);
    m_bConfirmScreen = 1;

    m_nTotalFiles = 0;
    m_nCopiedFiles = 0;
    m_hCopyMutex = sys::Mutex::Create(false, "MUTEX_FOR_COPY");
    SetTimer(TIMER_POLL, kPollPeriodMs);
    m_pThread = std::make_unique<CEventThread>(m_hStopEvent, RecoveryThreadProc, this);

    uint32_t flag = 0;
    ReadRecoverFlag(flag);
    if (flag != RECOVER_PENDING) {
        return true;
    }
    if (m_sources.empty() || sys::GetFileAttributes(m_sources[0]) == sys::INVALID_FILE_ATTRIBUTES) {
        WriteRecoverFlag(0);
        CMsgBox box(RecoverFailedText(sys::GetLastError()), u"Recover");
        box.DoModal();
        RebootDevice();
        return false;
    }
    m_progress->ShowWindow(win::SW_SHOW);
    m_bConfirmScreen = 0;
    GetDlgItem(IDC_BTN_NO)->ShowWindow(win::SW_HIDE);
    GetDlgItem(IDC_BTN_YES)->ShowWindow(win::SW_HIDE);
    Invalidate(true);
    m_bStartRequest = 1;
    // Cleared before the work starts: a recovery cut short by a power loss
    // is not repeated at the next start.
    WriteRecoverFlag(0);
    return true;
}

void CRecoveryDlg::OnCommand(int id, int code) {
    if (code == win::BN_CLICKED && id == IDC_BTN_YES) {
        OnYes();
        return;
    }
    if (code == win::BN_CLICKED && id == IDC_BTN_NO) {
        OnNo();
        return;
    }
    win::Dialog::OnCommand(id, code);
}

void CRecoveryDlg::OnYes() {
    if (WriteRecoverFlag(RECOVER_REQUESTED)) {
        sys::Sleep(100);
        RebootDevice();
        return;
    }
    CMsgBox box(FlagFailedText(sys::GetLastError()), u"Recover");
    box.DoModal();
    SetDisplayOrientation(win::DMDO_0);
    m_endProcess(0);
}

void CRecoveryDlg::OnNo() {
    SetDisplayOrientation(win::DMDO_0);
    m_endProcess(0);
}

uint32_t CRecoveryDlg::RecoveryThreadProc(void* argument) {
    auto* dlg = static_cast<CRecoveryDlg*>(argument);
    for (;;) {
        sys::Event stop = dlg->m_hStopEvent.Load();
        if (!stop) {
            // The dialog has not stored the event yet. Look again before
            // anything else, so that a recovery always starts at a wake of
            // the worker's 500 ms wait, never while the dialog still starts.
            sys::Sleep(0);
            continue;
        }
        if (sys::WaitForSingleObject(stop, 500) == sys::WAIT_OBJECT_0) {
            return 0;
        }
        if (dlg->m_bStartRequest != 0) {
            dlg->m_nWorkerState = 0;
            RecoverAll(*dlg, *dlg);
            dlg->m_nWorkerState = 1;
            dlg->m_bStartRequest = 0;
        }
    }
}

void CRecoveryDlg::SetProgressRange(uint32_t upper) {
    m_progress->SetRange(0, static_cast<int>(std::min<uint32_t>(upper, INT32_MAX)));
}

void CRecoveryDlg::StartRestartCountdown() {
    m_progress->ShowWindow(win::SW_HIDE);
    m_nCountdown = kRestartCountdown;
    SetTimer(TIMER_RESTART, kRestartPeriodMs);
}

void CRecoveryDlg::OnTimer(std::uintptr_t id) {
    FollowCopiedFiles();
    Invalidate(true);
    if (id == TIMER_RESTART) {
        if (m_nCountdown > 0) {
            --m_nCountdown;
            return;
        }
        KillTimer(TIMER_RESTART);
        RebootDevice();
        return;
    }
    int32_t finished = 1;
    if (m_nWorkerState.compare_exchange_strong(finished, 2) && m_bCompleted == 0) {
        m_strMessage = RecoverFailedText(g_dwLastCopyError);
        CMsgBox box(m_strMessage, u"Recover");
        box.DoModal();
        RebootDevice();
    }
    win::Dialog::OnTimer(id);
}

void CRecoveryDlg::FollowCopiedFiles() {
    if (m_bConfirmScreen == 0 && m_hCopyMutex) {
        m_progress->SetPos(static_cast<int>(std::min<uint32_t>(CopiedFiles(), INT32_MAX)));
    }
}

bool CRecoveryDlg::OnEraseBackground(win::Surface& surface) {
    const win::Rect client = surface.ClientRect();
    win::MemorySurface memory(client.Width(), client.Height());
    memory.FillRect(client, win::StockBrush::White);
    memory.SetBkMode(win::TRANSPARENT);
    memory.SetTextColor(win::RGB(0, 0, 0));
    if (m_bConfirmScreen != 0) {
        DrawConfirmScreen(memory, client);
    } else {
        DrawProgressScreen(memory, client);
    }
    surface.BitBlt(0, 0, client.Width(), client.Height(), memory, 0, 0, win::SRCCOPY);
    return true;
}

void CRecoveryDlg::DrawConfirmScreen(win::Surface& surface, const win::Rect& client) {
    const int w = client.Width();
    const int half = client.Height() / 2;
    win::Font title = BoldArial(26);
    win::Font previous = surface.SelectFont(title);
    const int titleHeight = surface.DrawText(u"Marolt Emergency Recovery",
                                             win::Rect{0, 40, w, half}, kConfirmTitleFlags);
    win::Font warning = BoldArial(18);
    surface.SelectFont(warning);
    const Placement band = WarningBand(w, client.Height(), 40 + titleHeight);
    surface.DrawText(u"All user's settings will be lost, continue?",
                     win::Rect{band.x, band.y, band.x + band.width, band.y + band.height},
                     kConfirmWarningFlags);
    surface.SelectFont(previous);
}

void CRecoveryDlg::DrawProgressScreen(win::Surface& surface, const win::Rect& client) {
    const int w = client.Width();
    const int half = client.Height() / 2;
    win::Font font = BoldArial(28);
    win::Font previous = surface.SelectFont(font);
    const uint32_t copied = CopiedFiles();
    const win::Rect text{0, 0x50, w, half};
    if (m_bCompleted != 0) {
        surface.DrawText(u"Recovery completed!", text, kCompletedFlags);
        surface.DrawText(CountdownText(m_nCountdown), win::Rect{0, 20, w, half + 30},
                         kCompletedFlags);
    } else {
        surface.DrawText(ProgressText(copied, m_nTotalFiles), text, kProgressFlags);
    }
    surface.SelectFont(previous);
}

void CRecoveryDlg::OnDestroy() {
    if (m_pThread) {
        m_pThread->Stop();
        m_pThread.reset();
    }
    KillTimer(TIMER_POLL);
    if (m_hCopyMutex && Acquire(m_hCopyMutex)) {
        m_hCopyMutex.release();
    }
    m_hCopyMutex.close();
    win::Dialog::OnDestroy();
}

bool CRecoveryApp::InitInstance() {
    CRecoveryDlg dlg;
    dlg.DoModal();
    return false;
}

} // namespace recovery
