// The notification window: a hidden full-screen popup that the device's
// notification component raises with a code and answers through
// "EVENT_OVL_SELECTION".

#include <devif/halvix.h>
#include <devtest/core/page_tables.h>
#include <devtest/pages/dlg_key.h>
#include <devtest/pages/dlg_notification.h>
#include <devtest/pages/ids.h>
#include <devtest/pages/templates.h>
#include <platform/system/event.h>
#include <platform/window/screen.h>
#include <platform/window/ui_thread.h>

#include <string>

namespace devtest {

namespace win = hh::win;
namespace sys = hh::sys;

CDlgNotification::CDlgNotification(CDlgKey& keyPage)
    : win::Dialog(NotificationTemplate()), m_keyPage(keyPage) {}

bool CDlgNotification::OnInitDialog() {
    win::Dialog::OnInitDialog();
    MoveWindow(0, 0, win::GetSystemMetrics(win::SM_CXSCREEN),
               win::GetSystemMetrics(win::SM_CYSCREEN), true);
    m_rcClient = GetClientRect();
    return true;
}

void CDlgNotification::OnPaint(win::Surface& surface) {
    surface.SetTextColor(win::RGB(100, 100, 100));
    surface.DrawText(m_strText, m_rcClient, win::DT_CENTER | win::DT_VCENTER);
}

void CDlgNotification::ShowEvent(uint32_t code) {
    if (!win::IsUiThread()) {
        // The window's text and visibility change only on the UI thread.
        PostMessage(WM_SHOW_EVENT, code, 0);
        return;
    }
    for (int id : {IDC_BTN_NOTIFY_SHUTDOWN, IDC_BTN_NOTIFY_CANCEL, IDC_BTN_NOTIFY_MASSSTORAGE,
                   IDC_BTN_NOTIFY_CHARGING}) {
        if (win::Control* button = GetDlgItem(id)) {
            button->ShowWindow(win::SW_HIDE);
        }
    }
    const NotificationAction action = NotificationFor(code);
    if (action.window == NotificationAction::Window::Hide) {
        ShowWindow(win::SW_HIDE);
        return;
    }
    if (action.window == NotificationAction::Window::Unchanged) {
        return;
    }
    m_strText = std::u16string(*action.text);
    // A window already shown draws the new text at once.
    Invalidate(true);
    ShowWindow(win::SW_SHOW);
    if (action.buttons == NotificationAction::Buttons::ShutdownCancel) {
        GetDlgItem(IDC_BTN_NOTIFY_SHUTDOWN)->ShowWindow(win::SW_SHOW);
        GetDlgItem(IDC_BTN_NOTIFY_CANCEL)->ShowWindow(win::SW_SHOW);
    } else if (action.buttons == NotificationAction::Buttons::MassStorageCharging) {
        win::Control* massStorage = GetDlgItem(IDC_BTN_NOTIFY_MASSSTORAGE);
        massStorage->ShowWindow(win::SW_SHOW);
        GetDlgItem(IDC_BTN_NOTIFY_CHARGING)->ShowWindow(win::SW_SHOW);
        massStorage->EnableWindow(true);
        if (UpdateDriveIcon() == 0) {
            massStorage->EnableWindow(false);
        }
    }
}

win::LRESULT CDlgNotification::OnMessage(uint32_t message, win::WPARAM wParam, win::LPARAM) {
    if (message == WM_SHOW_EVENT) {
        ShowEvent(static_cast<uint32_t>(wParam));
    }
    return 0;
}

void CDlgNotification::OnCommand(int id, int code) {
    if (code != win::BN_CLICKED) {
        return;
    }
    switch (id) {
    case IDC_BTN_NOTIFY_SHUTDOWN:
        ShutDown();
        break;
    case IDC_BTN_NOTIFY_CANCEL:
        ShowWindow(win::SW_HIDE);
        m_keyPage.SetFocus();
        m_keyPage.SetActiveWindow();
        break;
    case IDC_BTN_NOTIFY_MASSSTORAGE:
        Answer(SELECTION_MASSSTORAGE);
        break;
    case IDC_BTN_NOTIFY_CHARGING:
        Answer(SELECTION_CHARGING);
        break;
    default:
        break;
    }
}

void CDlgNotification::Answer(uint32_t selection) {
    ShowWindow(win::SW_HIDE);
    sys::Event answer = sys::Event::Create(sys::EventReset::Automatic, false, kSelectionEventName);
    sys::SetEventData(answer, selection);
    sys::EventModify(answer, sys::EVENT_SET);
    answer.close();
}

} // namespace devtest
