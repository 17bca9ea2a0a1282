// The GSensor page: the accelerometer's X, Y and Z.

#include <devtest/core/sensor_text.h>
#include <devtest/pages/dlg_g_sensor.h>
#include <devtest/pages/ids.h>
#include <devtest/pages/templates.h>
#include <platform/system/trace.h>

namespace devtest {

namespace win = hh::win;

CDlgG_Sensor::CDlgG_Sensor() : win::Dialog(GSensorPageTemplate()) {}

CDlgG_Sensor::~CDlgG_Sensor() {
    delete m_pGSensor;
}

bool CDlgG_Sensor::OnInitDialog() {
    win::Dialog::OnInitDialog();
    m_pGSensor = new GSensorTst;
    if (m_pGSensor->Open()) {
        hh::sys::TracePrintf("open gsensor \r\n");
    }
    SetTimer(TIMER_GSENSOR, kGSensorMs);
    return true;
}

void CDlgG_Sensor::OnTimer(std::uintptr_t id) {
    // A closed sensor stays closed, as on the Sensor page.
    if (id != TIMER_GSENSOR || !m_pGSensor) {
        return;
    }
    _XYZ_POSITION position{};
    if (m_pGSensor->GetPosition(position)) {
        SetDlgItemText(IDC_STATIC_POSITION, PositionText(position.X, position.Y, position.Z));
        if (win::Control* text = GetDlgItem(IDC_STATIC_POSITION)) {
            text->Invalidate(false);
        }
    }
}

void CDlgG_Sensor::OnDestroy() {
    if (m_pGSensor) {
        m_pGSensor->Close();
        delete m_pGSensor;
        m_pGSensor = nullptr;
    }
}

} // namespace devtest
