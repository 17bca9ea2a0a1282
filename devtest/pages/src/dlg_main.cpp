// The main dialog, its pages in tab order and the notification watcher.

#include <devtest/core/page_tables.h>
#include <devtest/pages/dlg_main.h>
#include <devtest/pages/ids.h>
#include <devtest/pages/templates.h>

#include <array>
#include <string>

namespace devtest {

namespace win = hh::win;
namespace sys = hh::sys;

namespace {

constexpr std::array<std::u16string_view, 9> kTabTexts = {
    u"System", u"SPK", u"BKL", u"DevInfo", u"Sensor", u"KEY", u"USB", u"Switch", u"GSensor",
};
constexpr int kKeyTab = 5;

} // namespace

CDlgMain::CDlgMain()
    : win::Dialog(MainDialogTemplate()), m_hIcon(win::LoadIcon(IDR_MAINFRAME)),
      m_dlgNotification(m_dlgKey) {}

CDlgMain::~CDlgMain() {
    StopWatcher();
}

win::Dialog& CDlgMain::PageAt(int index) {
    win::Dialog* pages[] = {&m_dlgSystem, &m_dlgVol, &m_dlgBkl,    &m_dlgInfo,   &m_dlgSensor,
                            &m_dlgKey,    &m_dlgUSB, &m_dlgSwitch, &m_dlgGSensor};
    return *pages[index];
}

bool CDlgMain::OnInitDialog() {
    win::Dialog::OnInitDialog();
    SetIcon(m_hIcon, win::ICON_BIG);
    SetIcon(m_hIcon, win::ICON_SMALL);
    auto* tab = Item<win::TabControl>(IDC_TAB);
    // The device screen gives the main dialog the whole work area; the tab
    // control spans it, so that its strip holds the nine tabs side by side.
    const win::Rect client = GetClientRect();
    tab->MoveWindow(0, 0, client.Width(), client.Height(), false);
    for (std::size_t i = 0; i < kTabTexts.size(); ++i) {
        tab->InsertItem(static_cast<int>(i), kTabTexts[i]);
    }
    // Created in template order: 129, 130, 131, 132, 136, 137, 138, 139, 141.
    win::Dialog* const pages[] = {&m_dlgVol, &m_dlgBkl, &m_dlgInfo,   &m_dlgSystem, &m_dlgSensor,
                                  &m_dlgKey, &m_dlgUSB, &m_dlgSwitch, &m_dlgGSensor};
    for (win::Dialog* page : pages) {
        page->Create(tab);
    }
    m_dlgNotification.Create(nullptr);
    ShowPage(0);
    m_hWatcherStop = sys::Event::Create(sys::EventReset::Manual, false);
    m_hWatcherReady = sys::Event::Create(sys::EventReset::Manual, false);
    m_hWatcher = sys::Thread::Start(NotifyWatchThread, this);
    // The dialog starts once the watcher holds "EVENT_OVL_TARVEN": a code
    // signalled from then on reaches the window.
    if (m_hWatcher) {
        sys::WaitForMultipleObjects({&m_hWatcherReady, &m_hWatcher}, sys::INFINITE);
    }
    return true;
}

void CDlgMain::ShowPage(int index) {
    if (index >= 0 && index < static_cast<int>(kTabTexts.size())) {
        for (int i = 0; i < static_cast<int>(kTabTexts.size()); ++i) {
            PageAt(i).ShowWindow(i == index ? win::SW_SHOW : win::SW_HIDE);
        }
        if (index == kKeyTab) {
            m_dlgKey.SetFocus();
            m_dlgKey.SetActiveWindow();
        }
    }
    if (auto* tab = Item<win::TabControl>(IDC_TAB)) {
        tab->SetCurFocus(index);
    }
}

win::LRESULT CDlgMain::OnNotify(const win::Notification& notification) {
    if (notification.idFrom == IDC_TAB && notification.code == win::TCN_SELCHANGE) {
        auto* tab = Item<win::TabControl>(IDC_TAB);
        ShowPage(tab->GetCurFocus());
        return 0;
    }
    return win::Dialog::OnNotify(notification);
}

uint32_t CDlgMain::NotifyWatchThread(void* argument) {
    auto* dlg = static_cast<CDlgMain*>(argument);
    sys::Event notify = sys::Event::Create(sys::EventReset::Automatic, false, kNotifyEventName);
    sys::SetEvent(dlg->m_hWatcherReady);
    for (;;) {
        const uint32_t woke =
            sys::WaitForMultipleObjects({&dlg->m_hWatcherStop, &notify}, sys::INFINITE);
        if (woke == sys::WAIT_OBJECT_0) {
            return 0;
        }
        if (woke == sys::WAIT_OBJECT_0 + 1) {
            dlg->m_dlgNotification.ShowEvent(sys::GetEventData(notify));
        }
    }
}

bool CDlgMain::WatcherRunning() const {
    return m_hWatcher && sys::WaitForSingleObject(m_hWatcher, 0) == sys::WAIT_TIMEOUT;
}

void CDlgMain::StopWatcher() {
    if (!m_hWatcher) {
        return;
    }
    // The watcher ends before the windows go, so a late signal finds no
    // window to call.
    sys::SetEvent(m_hWatcherStop);
    sys::WaitForSingleObject(m_hWatcher, sys::INFINITE);
    m_hWatcher.close();
}

void CDlgMain::OnDestroy() {
    StopWatcher();
    win::Dialog::OnDestroy();
}

} // namespace devtest
