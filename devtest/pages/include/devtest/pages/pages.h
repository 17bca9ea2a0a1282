#pragma once
// V5520Demo's windows: the main dialog with its tab control and nine test
// pages, the hidden full-screen notification window, the notification
// watcher thread and the application object. The pages call the device
// interface library (libHalvix.so) and nothing else of the device; what they
// compute and show comes from devtest_core.
//
// Threads. Everything runs on the UI thread except the watcher, which waits
// on "EVENT_OVL_TARVEN" and hands each code to the notification window by a
// posted private message. The main dialog ends the watcher before its windows
// are destroyed.

#include <devif/halvix.h>
#include <devtest/core/calibration.h>
#include <devtest/core/calibration_events.h>
#include <devtest/pages/ids.h>
#include <platform/system/event.h>
#include <platform/system/thread.h>
#include <platform/window/dialog.h>

#include <cstdint>
#include <memory>
#include <string>

namespace devtest {

hh::win::DialogTemplate MainDialogTemplate();
hh::win::DialogTemplate SystemPageTemplate();
hh::win::DialogTemplate InfoPageTemplate();
hh::win::DialogTemplate UsbPageTemplate();
hh::win::DialogTemplate SwitchPageTemplate();
hh::win::DialogTemplate NotificationTemplate();
hh::win::DialogTemplate SensorPageTemplate();
hh::win::DialogTemplate GSensorPageTemplate();
hh::win::DialogTemplate BklPageTemplate();
hh::win::DialogTemplate VolPageTemplate();
hh::win::DialogTemplate KeyPageTemplate();

inline constexpr std::uintptr_t TIMER_BATTERY = 1;
inline constexpr uint32_t kBatteryMs = 1000;
inline constexpr std::uintptr_t TIMER_GSENSOR = 10;
inline constexpr uint32_t kGSensorMs = 500;

/// "System": shut down, restart, restore the registry, the battery line.
class CDlgSystem : public hh::win::Dialog {
public:
    CDlgSystem();

protected:
    bool OnInitDialog() override;
    void OnCommand(int id, int code) override;
    void OnTimer(std::uintptr_t id) override;
};

/// "DevInfo": identifier, OEM, platform, OS version and card identifier.
class CDlgInfo : public hh::win::Dialog {
public:
    CDlgInfo();
    /// Collects the four items and the card's identifier and shows the text.
    void Refresh();

protected:
    bool OnInitDialog() override;
};

/// "USB": mass storage or serial synchronisation.
class CDlgUSB : public hh::win::Dialog {
public:
    CDlgUSB();
    /// Checks the button of the mode the library reports.
    void Refresh();

protected:
    bool OnInitDialog() override;
    void OnCommand(int id, int code) override;
};

/// "Switch": Bluetooth power.
class CDlgSwitch : public hh::win::Dialog {
public:
    CDlgSwitch();
    /// Reads the Bluetooth state again and names it on the button.
    void Refresh();
    uint32_t BTState() const { return m_nBTState; }

protected:
    bool OnInitDialog() override;
    void OnCommand(int id, int code) override;

private:
    uint32_t m_nBTState = 0;
};

/// "KEY": which hardware key is held.
class CDlgKey : public hh::win::Dialog {
public:
    CDlgKey();

protected:
    bool PreTranslateMessage(const hh::win::KeyMessage& key) override;
};

/// The full-screen notification window (template 140, a hidden popup).
class CDlgNotification : public hh::win::Dialog {
public:
    /// keyPage is the page that gets the focus when "cancel" closes the window.
    explicit CDlgNotification(CDlgKey& keyPage);

    /// Acts on a notification code. From another thread the code is posted
    /// to the UI thread (WM_SHOW_EVENT) and handled there, in order.
    void ShowEvent(uint32_t code);
    const std::u16string& Text() const { return m_strText; }

protected:
    bool OnInitDialog() override;
    void OnCommand(int id, int code) override;
    void OnPaint(hh::win::Surface& surface) override;
    hh::win::LRESULT OnMessage(uint32_t message, hh::win::WPARAM wParam,
                               hh::win::LPARAM lParam) override;

private:
    void Answer(uint32_t selection);

    CDlgKey& m_keyPage;
    std::u16string m_strText;
    hh::win::Rect m_rcClient;
};

/// The compass and the library's sample count as the calibration uses them.
class CompassOfPage : public CompassDevice {
public:
    CCompass* compass = nullptr;
    int Open() override;
    int Close() override;
    int IsOpen() override;
    int SetModeMeasureSng() override;
    int SetModePowerdown() override;
    int SetModeConsciousCal_Hall() override;
    int SetModeConsciousCal_Side() override;
    int GetDirection() override;
    int16_t GetAzimuth() override;
    int GetCurSampleCnt(int16_t& count) override;
};

/// "Sensor": altitude, temperature, pressure, azimuth and the calibration.
class CDlgSensor : public hh::win::Dialog, private CalibrationView {
public:
    CDlgSensor();
    ~CDlgSensor() override;
    const Calibration& Cal() const { return m_cal; }

protected:
    bool OnInitDialog() override;
    void OnCommand(int id, int code) override;
    void OnTimer(std::uintptr_t id) override;
    void OnDestroy() override;

private:
    void ReadSensor();
    void ShowValue(int id, const std::u16string& text);
    // CalibrationView.
    void SetTimer(std::uintptr_t id, uint32_t periodMs) override;
    void KillTimer(std::uintptr_t id) override;
    void SetProgress(int position) override;
    void SetStatus(std::u16string_view text) override;
    void ShowMessage(std::u16string_view text, std::u16string_view caption) override;
    void EnableAdjust(bool enable) override;
    void ShowAzimuth(int16_t degrees) override;
    void Trace(std::string_view text) override;

    SensorParamTst* m_pSensor = nullptr;
    CCompass* m_pCompass = nullptr;
    CalibrationEvents m_hCalEvents;
    CompassOfPage m_compass;
    Calibration m_cal;
};

/// "GSensor": the accelerometer's X, Y and Z.
class CDlgG_Sensor : public hh::win::Dialog {
public:
    CDlgG_Sensor();
    ~CDlgG_Sensor() override;

protected:
    bool OnInitDialog() override;
    void OnTimer(std::uintptr_t id) override;
    void OnDestroy() override;

private:
    GSensorTst* m_pGSensor = nullptr;
};

/// "BKL": backlight level, sleep time, the two-second screen-off test.
class CDlgBkl : public hh::win::Dialog {
public:
    CDlgBkl();

protected:
    bool OnInitDialog() override;
    void OnCommand(int id, int code) override;
    hh::win::LRESULT OnNotify(const hh::win::Notification& notification) override;
};

/// "SPK": buzzer sequences.
class CDlgVol : public hh::win::Dialog {
public:
    CDlgVol();

protected:
    bool OnInitDialog() override;
    void OnCommand(int id, int code) override;
    hh::win::LRESULT OnNotify(const hh::win::Notification& notification) override;
};

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

/// The application object: runs the main dialog and returns false.
class CTestApp {
public:
    bool InitInstance();
};

} // namespace devtest
