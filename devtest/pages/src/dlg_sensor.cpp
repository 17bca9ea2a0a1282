// The Sensor page: barometric sensor, compass and calibration.

#include <devtest/core/sensor_text.h>
#include <devtest/pages/dlg_sensor.h>
#include <devtest/pages/ids.h>
#include <devtest/pages/templates.h>
#include <platform/system/trace.h>
#include <platform/window/message_box.h>

#include <string>

namespace devtest {

namespace win = hh::win;

CDlgSensor::CDlgSensor()
    : win::Dialog(SensorPageTemplate()), m_cal(m_compass, m_hCalEvents, *this) {}

CDlgSensor::~CDlgSensor() {
    delete m_pSensor;
    delete m_pCompass;
}

bool CDlgSensor::OnInitDialog() {
    win::Dialog::OnInitDialog();
    struct Placement {
        int id;
        int x, y, w, h;
    };
    const Placement placements[] = {
        {IDC_STATIC_LABELS, 15, 20, 80, 120},     {IDC_STATIC_ALTITUDE, 95, 20, 60, 32},
        {IDC_STATIC_TEMPERATURE, 95, 52, 60, 32}, {IDC_STATIC_PRESSURE, 95, 84, 60, 32},
        {IDC_STATIC_AZIMUTH, 95, 116, 60, 20},
    };
    for (const Placement& p : placements) {
        if (win::Control* control = GetDlgItem(p.id)) {
            control->MoveWindow(p.x, p.y, p.w, p.h, true);
        }
    }
    SetDlgItemText(IDC_STATIC_LABELS, kSensorLabels);

    m_pSensor = new SensorParamTst;
    m_pSensor->Open();
    win::Dialog::SetTimer(TIMER_SENSOR_READ, kSensorReadMs);

    m_pCompass = new CCompass;
    m_compass.compass = m_pCompass;
    m_pCompass->Open();
    m_hCalEvents.Create();
    win::Dialog::SetTimer(TIMER_AZIMUTH, kAzimuthMs);

    // The counts are read once: the device holds them from its making.
    m_cal.SetSampleCounts(GetAdjustXYSampleCnt(), GetAdjustXZSampleCnt());
    return true;
}

void CDlgSensor::OnDestroy() {
    if (m_pSensor) {
        m_pSensor->Close();
        delete m_pSensor;
        m_pSensor = nullptr;
    }
    if (m_pCompass) {
        m_pCompass->Close();
        m_compass.compass = nullptr;
        delete m_pCompass;
        m_pCompass = nullptr;
    }
    m_hCalEvents.Close();
}

void CDlgSensor::OnCommand(int id, int code) {
    if (id == IDC_BTN_ADJUST && code == win::BN_CLICKED) {
        m_cal.OnAdjust();
    }
}

void CDlgSensor::OnTimer(std::uintptr_t id) {
    switch (id) {
    case TIMER_SENSOR_READ:
        ReadSensor();
        break;
    case TIMER_AZIMUTH:
        m_cal.OnAzimuthPoll();
        break;
    case TIMER_CAL_MONITOR:
        m_cal.OnMonitor();
        break;
    case TIMER_HALL_PROGRESS:
        m_cal.OnHallProgress();
        break;
    case TIMER_SIDE_PROGRESS:
        m_cal.OnSideProgress();
        break;
    default:
        break;
    }
}

void CDlgSensor::ReadSensor() {
    // A sensor that could not be opened, or that a refused reading closed,
    // stays closed: its readings fail and the values shown stay.
    if (!m_pSensor) {
        return;
    }
    int altitude = 0;
    if (m_pSensor->GetCurAltitude(altitude)) {
        ShowValue(IDC_STATIC_ALTITUDE, AltitudeText(altitude));
    }
    int temperature = 0;
    if (m_pSensor->GetTemperature(temperature)) {
        ShowValue(IDC_STATIC_TEMPERATURE, TemperatureText(temperature));
    }
    int pressure = 0;
    if (m_pSensor->GetCurPressure(pressure)) {
        ShowValue(IDC_STATIC_PRESSURE, PressureText(pressure));
    }
}

void CDlgSensor::ShowValue(int id, const std::u16string& text) {
    if (win::Control* control = GetDlgItem(id)) {
        control->SetWindowText(text);
        control->Invalidate(false);
    }
}

void CDlgSensor::SetTimer(std::uintptr_t id, uint32_t periodMs) {
    win::Dialog::SetTimer(id, periodMs);
}

void CDlgSensor::KillTimer(std::uintptr_t id) {
    win::Dialog::KillTimer(id);
}

void CDlgSensor::SetProgress(int position) {
    if (auto* bar = Item<win::ProgressBar>(IDC_PROGRESS_CAL)) {
        bar->SetPos(position);
    }
}

void CDlgSensor::SetStatus(std::u16string_view text) {
    SetDlgItemText(IDC_STATIC_CAL_STATUS, text);
}

void CDlgSensor::ShowMessage(std::u16string_view text, std::u16string_view caption) {
    win::MessageBox(nullptr, text, caption, win::MB_TOPMOST | win::MB_ICONEXCLAMATION | win::MB_OK);
}

void CDlgSensor::EnableAdjust(bool enable) {
    if (win::Control* button = GetDlgItem(IDC_BTN_ADJUST)) {
        button->EnableWindow(enable);
    }
}

void CDlgSensor::ShowAzimuth(int16_t degrees) {
    ShowValue(IDC_STATIC_AZIMUTH, AzimuthText(degrees));
}

void CDlgSensor::Trace(std::string_view text) {
    hh::sys::TracePrintf("%.*s", static_cast<int>(text.size()), text.data());
}

} // namespace devtest
