#include <devtest/core/calibration.h>
#include <platform/system/wait.h>

namespace devtest {

namespace sys = hh::sys;

int HallProgress(int16_t cur, int32_t xySampleCnt) {
    // A count of 0 (its registry value missing) gives no ratio: the bar stays at 0.
    if (xySampleCnt == 0) {
        return 0;
    }
    return static_cast<int>(static_cast<float>(cur) / static_cast<float>(xySampleCnt) * 50.0f);
}

int SideProgress(int16_t cur, int16_t xzSampleCnt) {
    if (xzSampleCnt == 0) {
        return 0;
    }
    return static_cast<int>((static_cast<float>(cur) / static_cast<float>(xzSampleCnt) + 1.0f) *
                            50.0f);
}

Calibration::Calibration(CompassDevice& compass, CalibrationEventSource& events,
                         CalibrationView& view)
    : m_compass(compass), m_events(events), m_view(view) {}

void Calibration::SetSampleCounts(uint32_t xy, uint32_t xz) {
    m_nXYSampleCnt = static_cast<int32_t>(xy);
    m_nXZSampleCnt = static_cast<int16_t>(xz & 0xFFFF);
}

void Calibration::OnAdjust() {
    m_view.SetStatus(u"Rotating along XY plane!");
    if (m_bCalibrating != 0) {
        return;
    }
    m_compass.SetModeMeasureSng();
    m_compass.Close();
    m_compass.Open();
    if (m_compass.SetModeConsciousCal_Hall() != 0) {
        m_view.KillTimer(TIMER_AZIMUTH);
        m_view.SetTimer(TIMER_CAL_MONITOR, kCalMonitorMs);
        m_view.SetTimer(TIMER_HALL_PROGRESS, kProgressMs);
        m_nCalTicks = 0;
        m_nCalPhase = 1;
        m_bCalibrating = 1;
        m_view.EnableAdjust(false);
        m_view.Trace("unable\r\n");
        return;
    }
    m_view.KillTimer(TIMER_HALL_PROGRESS);
    m_view.SetStatus(u"Failed to Set Compass to Hall Adjust Mode");
    m_view.ShowMessage(u"Failed to Set Compass to Hall Adjust Mode ", u"ERROR");
}

void Calibration::ShowAzimuth() {
    if (m_compass.GetDirection() != 0) {
        m_view.ShowAzimuth(m_compass.GetAzimuth());
    }
}

void Calibration::OnAzimuthPoll() {
    // A compass that could not be opened is left closed: the poll neither
    // waits on the events nor asks for the direction.
    if (m_compass.IsOpen() == 0) {
        return;
    }
    const uint32_t result = m_events.Wait(kAzimuthWaitMs);
    switch (result) {
    case CAL_EVENT_TEST:
    case CAL_EVENT_UPRIGHT_SUCCESS:
        m_events.Reset(static_cast<int>(result));
        break;
    case CAL_EVENT_HALL_PROCESSING:
        m_events.Reset(CAL_EVENT_HALL_PROCESSING);
        ShowAzimuth();
        break;
    case CAL_EVENT_HALL_SUCCESS:
    case CAL_EVENT_SIDE_SUCCESS:
        m_events.Reset(static_cast<int>(result));
        m_compass.SetModePowerdown();
        break;
    case CAL_EVENT_HALL_FAILURE:
        m_events.Reset(CAL_EVENT_HALL_FAILURE);
        m_compass.SetModePowerdown();
        m_compass.Close();
        m_compass.Open();
        if (m_compass.IsOpen() != 0) {
            m_compass.SetModeMeasureSng();
        } else {
            m_compass.SetModePowerdown();
        }
        break;
    case CAL_EVENT_HALL_STOP:
    case CAL_EVENT_ERROR:
        // Left signalled, either would keep every later poll from reaching
        // its time-out, and the azimuth would stop.
        m_events.Reset(static_cast<int>(result));
        break;
    case sys::WAIT_TIMEOUT:
        ShowAzimuth();
        break;
    default:
        break;
    }
}

void Calibration::OnMonitor() {
    const uint32_t result = m_events.Wait(kMonitorWaitMs);
    switch (result) {
    case CAL_EVENT_TEST:
    case CAL_EVENT_HALL_PROCESSING:
    case CAL_EVENT_HALL_STOP:
        m_events.Reset(static_cast<int>(result));
        break;
    case CAL_EVENT_HALL_SUCCESS:
        m_events.Reset(CAL_EVENT_HALL_SUCCESS);
        m_nCalPhase = 2;
        m_bCalibrating = 1;
        m_nCalTicks = 0;
        m_view.KillTimer(TIMER_HALL_PROGRESS);
        m_view.SetProgress(50);
        m_view.SetStatus(u"Rotating along XZ plane!");
        m_view.ShowMessage(u"Hall Adjust Sucess,Start Side Adjust ", u"");
        m_view.SetTimer(TIMER_SIDE_PROGRESS, kProgressMs);
        m_compass.SetModeConsciousCal_Side();
        break;
    case CAL_EVENT_SIDE_SUCCESS:
        m_events.Reset(CAL_EVENT_SIDE_SUCCESS);
        m_view.SetStatus(u"Adjust Sucess!");
        m_view.ShowMessage(u"Adjust Sucess", u"");
        m_bCalibrating = 0;
        m_view.KillTimer(TIMER_CAL_MONITOR);
        m_view.KillTimer(TIMER_SIDE_PROGRESS);
        m_view.KillTimer(TIMER_HALL_PROGRESS);
        m_view.SetProgress(100);
        m_view.SetTimer(TIMER_AZIMUTH, kAzimuthMs);
        m_view.EnableAdjust(true);
        break;
    case CAL_EVENT_UPRIGHT_SUCCESS:
        m_events.Reset(CAL_EVENT_UPRIGHT_SUCCESS);
        m_bCalibrating = 0;
        break;
    case CAL_EVENT_HALL_FAILURE:
        m_events.Reset(CAL_EVENT_HALL_FAILURE);
        m_view.EnableAdjust(true);
        m_view.KillTimer(TIMER_SIDE_PROGRESS);
        m_view.KillTimer(TIMER_HALL_PROGRESS);
        m_view.SetProgress(0);
        m_view.SetStatus(u"Adjust Failed!");
        m_view.ShowMessage(u" Adjust Fail", u"");
        m_bCalibrating = 0;
        m_view.KillTimer(TIMER_CAL_MONITOR);
        m_view.SetTimer(TIMER_AZIMUTH, kAzimuthMs);
        break;
    case CAL_EVENT_ERROR:
        m_events.Reset(CAL_EVENT_ERROR);
        m_compass.SetModePowerdown();
        m_compass.Close();
        m_compass.Open();
        if (m_compass.IsOpen() != 0) {
            break;
        }
        m_compass.SetModePowerdown();
        m_view.ShowMessage(u"Please Restart Device", u"Error");
        m_bCalibrating = 0;
        break;
    case sys::WAIT_TIMEOUT:
        if (m_bCalibrating == 0) {
            break;
        }
        if (++m_nCalTicks < kCalTimeoutTicks) {
            break;
        }
        m_view.EnableAdjust(true);
        m_bCalibrating = 0;
        if (m_nCalPhase == 1) {
            m_view.ShowMessage(u"Hall Adjust Failed,Please Try again!", u"Error");
            m_compass.SetModeConsciousCal_Hall();
        } else if (m_nCalPhase == 2) {
            m_view.ShowMessage(u"Side Adjust Failed,Please Try again!", u"Error");
            m_compass.SetModeConsciousCal_Side();
        }
        m_nCalTicks = 0;
        break;
    default:
        break;
    }
}

void Calibration::OnHallProgress() {
    m_compass.GetCurSampleCnt(m_nCurSampleCnt);
    m_view.SetProgress(HallProgress(m_nCurSampleCnt, m_nXYSampleCnt));
}

void Calibration::OnSideProgress() {
    m_compass.GetCurSampleCnt(m_nCurSampleCnt);
    m_view.SetProgress(SideProgress(m_nCurSampleCnt, m_nXZSampleCnt));
}

} // namespace devtest
