#pragma once

#include <devtest/pages/dlg_bkl.h>
#include <devtest/pages/dlg_g_sensor.h>
#include <devtest/pages/dlg_info.h>
#include <devtest/pages/dlg_key.h>
#include <devtest/pages/dlg_notification.h>
#include <devtest/pages/dlg_sensor.h>
#include <devtest/pages/dlg_switch.h>
#include <devtest/pages/dlg_system.h>
#include <devtest/pages/dlg_usb.h>
#include <devtest/pages/dlg_vol.h>
#include <platform/system/event.h>
#include <platform/system/thread.h>
#include <platform/window/dialog.h>

#include <cstdint>

namespace devtest {

/// The main dialog: the tab control, the pages in tab order and the
/// notification window.
class CDlgMain : public hh::win::Dialog {
public:
    CDlgMain();
    ~CDlgMain() override;

    /// Shows the page of tab index (0 to 8) and hides the others; the KEY
    /// page also gets the focus. Any index moves the tab control's focus.
    void ShowPage(int index);
    /// The notification watcher's loop (argument: the main dialog).
    static uint32_t NotifyWatchThread(void* dialog);

    hh::win::Dialog& PageAt(int index);
    CDlgNotification& Notification() { return m_dlgNotification; }
    CDlgSensor& SensorPage() { return m_dlgSensor; }
    /// True while the watcher runs.
    bool WatcherRunning() const;

protected:
    bool OnInitDialog() override;
    hh::win::LRESULT OnNotify(const hh::win::Notification& notification) override;
    void OnDestroy() override;

private:
    void StopWatcher();

    hh::win::HICON m_hIcon = nullptr;
    CDlgVol m_dlgVol;
    CDlgBkl m_dlgBkl;
    CDlgInfo m_dlgInfo;
    CDlgSystem m_dlgSystem;
    CDlgSensor m_dlgSensor;
    CDlgKey m_dlgKey;
    CDlgUSB m_dlgUSB;
    CDlgSwitch m_dlgSwitch;
    CDlgNotification m_dlgNotification;
    CDlgG_Sensor m_dlgGSensor;
    hh::sys::Thread m_hWatcher;
    hh::sys::Event m_hWatcherStop;
    hh::sys::Event m_hWatcherReady;
};

} // namespace devtest
