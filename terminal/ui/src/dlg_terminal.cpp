// The terminal window: start-up, layout, panels, toggles, the send procedure
// and auto-send. The port link is in port_link.cpp, capture in capture.cpp.

#include "terminal/ui/dlg_terminal.h"

#include "dlg_terminal_internal.h"

#include <common/show_task_bar.h>
#include <platform/system/clock.h>
#include <platform/system/code_page.h>
#include <platform/system/error.h>
#include <platform/system/event.h>
#include <platform/system/trace.h>
#include <platform/window/message_box.h>
#include <platform/window/screen.h>
#include <platform/window/ui_thread.h>
#include <terminal/core/layout.h>
#include <terminal/core/settings.h>
#include <terminal/page/shared_state.h>

#include <cstdarg>
#include <string>

namespace terminal {

using namespace hh::win;

std::shared_ptr<hh::sys::SerialPort> g_hComm;
hh::sys::Thread g_hReadThread;
hh::sys::Thread g_hAutoSendThread;
std::atomic<int32_t> g_bHexView{0};
std::atomic<uint8_t> g_bHexSend{0};
std::atomic<int32_t> g_bAppendEnd{0};
std::atomic<int32_t> g_bAppendEsc{0};
std::atomic<int32_t> g_bAppendCrLf{0};

namespace {

/// The settings panel, switched with the send panel by EX.
constexpr std::initializer_list<int> kSettingsPanel = {
    IDC_LABEL_COM,      IDC_LABEL_BAUD,   IDC_LABEL_PARITY, IDC_LABEL_BYTESIZE,
    IDC_LABEL_STOPBITS, IDC_COMBO_COM,    IDC_COMBO_BAUD,   IDC_COMBO_BYTESIZE,
    IDC_COMBO_STOPBITS, IDC_COMBO_PARITY, IDC_CHK_LOGALL,   IDC_CHK_HEX,
};
constexpr std::initializer_list<int> kSendPanel = {
    IDC_CHK_AUTO,       IDC_EDIT_PERIOD,  IDC_EDIT_SEND,    IDC_BTN_SEND,
    IDC_LABEL_MS,       IDC_CHK_END,      IDC_CHK_ESC,      IDC_CHK_CRLF,
    IDC_BTN_CLEAR_SEND, IDC_COMBO_PRESET, IDC_BTN_SEND_HEX,
};
/// Hidden at start-up: the send panel without the ending boxes, "C" and send_Hex.
constexpr std::initializer_list<int> kHiddenAtStart = {
    IDC_CHK_AUTO, IDC_EDIT_PERIOD, IDC_EDIT_SEND, IDC_BTN_SEND, IDC_LABEL_MS, IDC_COMBO_PRESET,
};

/// Fills a list by inserting each entry at its own position, so that the order
/// holds although the list carries the sorted style.
void FillList(Dialog& dialog, int id, const SettingsList& list) {
    auto* combo = dialog.Item<ComboBox>(id);
    if (!combo) {
        return;
    }
    for (int i = 0; i < list.count; ++i) {
        combo->InsertString(i, list.entries[i]);
    }
    combo->SetCurSel(list.initialSelection);
}

int32_t Checked(const Dialog& dialog, int id) {
    return dialog.IsDlgButtonChecked(id) == BST_CHECKED ? 1 : 0;
}

} // namespace

std::u16string FormatMessage(const char16_t* format, ...) {
    va_list args;
    va_start(args, format);
    const std::string text = hh::sys::FormatWideV(format, args);
    va_end(args);
    return hh::sys::Utf8ToUtf16(text);
}

CDlgTerminal::CDlgTerminal()
    : Dialog(TerminalTemplate()), m_hIcon(hh::win::LoadIcon(IDR_MAINFRAME)),
      m_anchor(std::make_shared<Anchor>()), m_pageNmea(WriteRaw) {}

CDlgTerminal::~CDlgTerminal() = default;

bool CDlgTerminal::OnDialog(const std::shared_ptr<Anchor>& anchor,
                            const std::function<void(CDlgTerminal&)>& fn) {
    bool alive = false;
    RunOnUiThread([&] {
        if (anchor->dialog) {
            alive = true;
            fn(*anchor->dialog);
        }
    });
    return alive;
}

bool CDlgTerminal::OnInitDialog() {
    m_anchor->dialog = this;
    SetIcon(m_hIcon, hh::win::ICON_BIG);
    SetIcon(m_hIcon, hh::win::ICON_SMALL);
    FillSettingsLists();
    ReadSettings();
    ShowTaskBar(*this, SW_HIDE, 0);

    SetWindowText(kTerminalTitle);
    SetDlgItemText(IDC_EDIT_PERIOD, u"1000");

    g_hDrawPillarEvent =
        hh::sys::Event::Create(hh::sys::EventReset::Automatic, false, "EVENT_DRAW_PILLAR");
    if (!g_hDrawPillarEvent) {
        MessageBox(this, u"create eventend failed", u"err", MB_OK);
        EndDialog(IDCANCEL);
        return false;
    }

    if (auto* tab = Item<TabControl>(IDC_TAB)) {
        tab->InsertItem(0, u"Com Info");
        tab->InsertItem(1, u"NMEA");
        m_pageNmea.Create(tab);
    }
    LayOutControls();

    GetDlgItem(IDC_EDIT_RECEIVE)->ShowWindow(SW_SHOW);
    m_pageNmea.ShowWindow(SW_HIDE);
    ShowControls(kHiddenAtStart, false);

    if (auto* presets = Item<ComboBox>(IDC_COMBO_PRESET)) {
        presets->AddString(u"AT+CGDCONT=1,\"IP\",\"CMNET\"");
        presets->AddString(u"+++");
    }
    return true;
}

void CDlgTerminal::FillSettingsLists() {
    FillList(*this, IDC_COMBO_COM, kComList);
    FillList(*this, IDC_COMBO_BAUD, kBaudList);
    FillList(*this, IDC_COMBO_BYTESIZE, kByteSizeList);
    FillList(*this, IDC_COMBO_STOPBITS, kStopBitsList);
    FillList(*this, IDC_COMBO_PARITY, kParityList);
}

void CDlgTerminal::ReadSettings() {
    // Only a selected entry names a port or a rate: text typed into the COM
    // field, which leaves no selection, keeps the last selected port.
    if (auto* com = Item<ComboBox>(IDC_COMBO_COM); com && com->GetCurSel() != CB_ERR) {
        m_strPort = com->GetLBText(com->GetCurSel());
    }
    if (auto* baud = Item<ComboBox>(IDC_COMBO_BAUD); baud && baud->GetCurSel() != CB_ERR) {
        m_strBaud = baud->GetLBText(baud->GetCurSel());
    }
    auto position = [this](int id) {
        auto* combo = Item<ComboBox>(id);
        return combo ? combo->GetCurSel() : CB_ERR;
    };
    m_byByteSize = ByteSizeFromPosition(position(IDC_COMBO_BYTESIZE));
    m_byStopBits = StopBitsFromPosition(position(IDC_COMBO_STOPBITS));
    m_byParity = ParityFromPosition(position(IDC_COMBO_PARITY));
}

void CDlgTerminal::LayOutControls() {
    const Rect client = GetClientRect();
    for (const ControlRect& r :
         ComputeTerminalLayout(client.Width(), client.Height(), GetSystemMetrics(SM_CXSCREEN))) {
        if (r.id == kLayoutNmeaPage) {
            m_pageNmea.MoveWindow(r.x, r.y, r.width, r.height);
        } else if (Control* control = GetDlgItem(r.id)) {
            control->MoveWindow(r.x, r.y, r.width, r.height);
        }
    }
}

void CDlgTerminal::ShowControls(std::initializer_list<int> ids, bool show) {
    for (int id : ids) {
        if (Control* control = GetDlgItem(id)) {
            control->ShowWindow(show ? SW_SHOW : SW_HIDE);
        }
    }
}

void CDlgTerminal::OnCommand(int id, int code) {
    const bool clicked = code == BN_CLICKED;
    const bool selected = code == CBN_SELCHANGE;
    switch (id) {
    case IDC_BTN_OPEN:
        if (clicked) {
            OnOpenClose();
        }
        return;
    case IDC_COMBO_COM:
    case IDC_COMBO_BAUD:
    case IDC_COMBO_BYTESIZE:
    case IDC_COMBO_STOPBITS:
    case IDC_COMBO_PARITY:
        if (selected) {
            ReadSettings();
        }
        return;
    case IDC_BTN_CLEAR:
        SetDlgItemText(IDC_EDIT_RECEIVE, u"");
        return;
    case IDC_BTN_CLEAR_SEND:
        SetDlgItemText(IDC_EDIT_SEND, u"");
        return;
    case IDC_BTN_KEYBOARD:
        SipShowIM(m_bKeyboard == 0 ? SIPF_ON : SIPF_OFF);
        m_bKeyboard = !m_bKeyboard;
        return;
    case IDC_BTN_TASKBAR:
        if (m_bTaskBar == 0) {
            ShowTaskBar(*this, SW_SHOW, -kTaskBarHeight);
        } else {
            ShowTaskBar(*this, SW_HIDE, 0);
        }
        m_bTaskBar = !m_bTaskBar;
        return;
    case IDC_BTN_EX:
        OnPanelSwitch();
        return;
    case IDC_CHK_HEX:
        g_bHexView = Checked(*this, IDC_CHK_HEX);
        return;
    case IDC_CHK_END:
        g_bAppendEnd = Checked(*this, IDC_CHK_END);
        return;
    case IDC_CHK_ESC:
        g_bAppendEsc = Checked(*this, IDC_CHK_ESC);
        return;
    case IDC_CHK_CRLF:
        g_bAppendCrLf = Checked(*this, IDC_CHK_CRLF);
        return;
    case IDC_CHK_LOGALL:
        m_nLogMode = Checked(*this, IDC_CHK_LOGALL);
        return;
    case IDC_BTN_SAVE:
        SaveDisplay();
        return;
    case IDC_COMBO_PRESET:
        if (auto* presets = Item<ComboBox>(IDC_COMBO_PRESET);
            selected && presets && presets->GetCurSel() != CB_ERR) {
            SetDlgItemText(IDC_EDIT_SEND, presets->GetLBText(presets->GetCurSel()));
        }
        return;
    case IDC_BTN_SEND:
        g_bHexSend = 0;
        SendProcedure();
        return;
    case IDC_BTN_SEND_HEX:
        g_bHexSend = 1;
        SendProcedure();
        return;
    case IDC_CHK_AUTO:
        if (Checked(*this, IDC_CHK_AUTO)) {
            g_bHexSend = 0;
            SendProcedure();
        }
        return;
    default:
        Dialog::OnCommand(id, code);
    }
}

LRESULT CDlgTerminal::OnNotify(const Notification& notification) {
    if (notification.idFrom == IDC_TAB && notification.code == TCN_SELCHANGE) {
        OnTabChanged();
    }
    return 0;
}

void CDlgTerminal::OnTabChanged() {
    auto* tab = Item<TabControl>(IDC_TAB);
    const int focus = tab ? tab->GetCurFocus() : 0;
    if (focus == 0) {
        GetDlgItem(IDC_EDIT_RECEIVE)->ShowWindow(SW_SHOW);
        m_pageNmea.ShowWindow(SW_HIDE);
    } else if (focus == 1) {
        GetDlgItem(IDC_EDIT_RECEIVE)->ShowWindow(SW_HIDE);
        m_pageNmea.ShowWindow(SW_SHOW);
    }
}

void CDlgTerminal::OnPanelSwitch() {
    ShowControls(kSettingsPanel, m_bSendPanel != 0);
    ShowControls(kSendPanel, m_bSendPanel == 0);
    m_bSendPanel = !m_bSendPanel;
}

void CDlgTerminal::OnTimer(std::uintptr_t id) {
    if (id == TIMER_AUTOSEND) {
        WritePort(m_strAutoText);
    } else if (id == TIMER_OPENBUTTON) {
        KillTimer(TIMER_OPENBUTTON);
        GetDlgItem(IDC_BTN_OPEN)->EnableWindow(true);
    }
}

void CDlgTerminal::SendProcedure() {
    const std::u16string text = GetDlgItemText(IDC_EDIT_SEND);
    if (text.empty()) {
        GetDlgItem(IDC_EDIT_SEND)->SetFocus();
        return;
    }
    if (!Checked(*this, IDC_CHK_AUTO)) {
        WritePort(text);
        return;
    }
    if (g_hAutoSendThread) {
        // The earlier thread is left to end by itself once Auto is cleared.
        g_hAutoSendThread.close();
        hh::sys::Sleep(500);
    }
    std::shared_ptr<Anchor> anchor = m_anchor;
    g_hAutoSendThread = hh::sys::Thread::Start([anchor] { return AutoSendThreadProc(anchor); });
    if (!g_hAutoSendThread) {
        MessageBox(this, FormatMessage(u"create auto thread failed :%d",
                                       static_cast<int>(hh::sys::GetLastError())));
    }
}

uint32_t CDlgTerminal::AutoSendThreadProc(const std::shared_ptr<Anchor>& anchor) {
    const bool started = OnDialog(anchor, [](CDlgTerminal& dlg) {
        dlg.m_strAutoText = dlg.GetDlgItemText(IDC_EDIT_SEND);
        const long period = dlg.GetDlgItemInt(IDC_EDIT_PERIOD, nullptr, true);
        dlg.SetTimer(TIMER_AUTOSEND, static_cast<uint32_t>(period));
        dlg.GetDlgItem(IDC_EDIT_PERIOD)->EnableWindow(false);
    });
    if (!started) {
        return 1;
    }
    bool ticked = true;
    while (ticked) {
        hh::sys::Sleep(1000);
        if (!OnDialog(anchor, [&](CDlgTerminal& dlg) { ticked = Checked(dlg, IDC_CHK_AUTO); })) {
            return 1;
        }
    }
    OnDialog(anchor, [](CDlgTerminal& dlg) {
        dlg.KillTimer(TIMER_AUTOSEND);
        dlg.m_strAutoText.clear();
        dlg.GetDlgItem(IDC_EDIT_PERIOD)->EnableWindow(true);
    });
    return 1;
}

void CDlgTerminal::OnDestroy() {
    ClosePort();
    ShowTaskBar(*this, SW_SHOW, -kTaskBarHeight);
    if (g_hAutoSendThread) {
        g_hAutoSendThread.close();
    }
    // From here on the worker threads find the dialog gone.
    m_anchor->dialog = nullptr;
}

} // namespace terminal
