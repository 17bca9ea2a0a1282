#pragma once
// The Sensor page's compass calibration: a Hall phase (the device turned in
// its XY plane) and a Side phase (XZ plane), driven by the page's timers and
// by the compass driver's eight named calibration events.
//
// The calibration talks to three parties through small interfaces: the
// compass (the library's CCompass and sample counts), the calibration events
// and the page (its timers, progress bar, status line, Adjust button and
// message boxes). A message box is modal: the steps behind it run only once it
// is closed, and the page's timers keep firing meanwhile, so every handler
// here may be entered again from inside ShowMessage.

#include <array>
#include <cstdint>
#include <string_view>

namespace devtest {

inline constexpr std::uintptr_t TIMER_SENSOR_READ = 10;
inline constexpr std::uintptr_t TIMER_AZIMUTH = 11;
inline constexpr std::uintptr_t TIMER_CAL_MONITOR = 12;
inline constexpr std::uintptr_t TIMER_HALL_PROGRESS = 13;
inline constexpr std::uintptr_t TIMER_SIDE_PROGRESS = 14;
inline constexpr uint32_t kSensorReadMs = 250;
inline constexpr uint32_t kAzimuthMs = 250;
inline constexpr uint32_t kCalMonitorMs = 1000;
inline constexpr uint32_t kProgressMs = 1000;
/// Monitor ticks without an event after which a phase is given up.
inline constexpr int32_t kCalTimeoutTicks = 500;
/// How long the azimuth poll and the monitor wait for an event.
inline constexpr uint32_t kAzimuthWaitMs = 10;
inline constexpr uint32_t kMonitorWaitMs = 30;

/// The calibration events; the index is what a wait on all eight returns.
enum CalEvent : int {
    CAL_EVENT_TEST = 0,
    CAL_EVENT_HALL_PROCESSING = 1,
    CAL_EVENT_HALL_SUCCESS = 2,
    CAL_EVENT_SIDE_SUCCESS = 3,
    CAL_EVENT_UPRIGHT_SUCCESS = 4,
    CAL_EVENT_HALL_FAILURE = 5,
    CAL_EVENT_HALL_STOP = 6,
    CAL_EVENT_ERROR = 7,
};
inline constexpr std::array<std::u16string_view, 8> kCalEventNames = {
    u"AKSPEC_EVENT_TEST",
    u"AKSPEC_EVENT_HALL_CAL_PROCESSING",
    u"AKSPEC_EVENT_HALL_CAL_SUCCESS",
    u"AKSPEC_EVENT_SIDE_CAL_SUCCESS",
    u"AKSPEC_EVENT_UPRIGHT_CAL_SUCCESS",
    u"AKSPEC_EVENT_HALL_CAL_FAILURE",
    u"AKSPEC_EVENT_HALL_CAL_STOP",
    u"AKSPEC_EVENT_ERROR",
};

/// The compass object and the library's sample count, as the calibration uses them.
class CompassDevice {
public:
    virtual ~CompassDevice() = default;
    virtual int Open() = 0;
    virtual int Close() = 0;
    virtual int IsOpen() = 0;
    virtual int SetModeMeasureSng() = 0;
    virtual int SetModePowerdown() = 0;
    virtual int SetModeConsciousCal_Hall() = 0;
    virtual int SetModeConsciousCal_Side() = 0;
    virtual int GetDirection() = 0;
    virtual int16_t GetAzimuth() = 0;
    /// GetCurSampleCnt: the count the running calibration has reached.
    virtual int GetCurSampleCnt(int16_t& count) = 0;
};

/// The eight calibration events.
class CalibrationEventSource {
public:
    virtual ~CalibrationEventSource() = default;
    /// Waits for any of them: the index of the lowest one signalled, or WAIT_TIMEOUT.
    virtual uint32_t Wait(uint32_t timeoutMs) = 0;
    virtual void Reset(int index) = 0;
};

/// What the calibration does on the page.
class CalibrationView {
public:
    virtual ~CalibrationView() = default;
    virtual void SetTimer(std::uintptr_t id, uint32_t periodMs) = 0;
    virtual void KillTimer(std::uintptr_t id) = 0;
    virtual void SetProgress(int position) = 0;
    virtual void SetStatus(std::u16string_view text) = 0;
    /// A modal box with the OK button, no owner, topmost with the exclamation icon.
    virtual void ShowMessage(std::u16string_view text, std::u16string_view caption) = 0;
    virtual void EnableAdjust(bool enable) = 0;
    virtual void ShowAzimuth(int16_t degrees) = 0;
    /// A diagnostic line on the standard output.
    virtual void Trace(std::string_view text) = 0;
};

/// The Hall phase's bar position: cur / xy * 50, truncated; 0 when the count is 0.
int HallProgress(int16_t cur, int32_t xySampleCnt);
/// The Side phase's bar position: (cur / xz + 1) * 50, truncated; 0 when the count is 0.
int SideProgress(int16_t cur, int16_t xzSampleCnt);

class Calibration {
public:
    Calibration(CompassDevice& compass, CalibrationEventSource& events, CalibrationView& view);

    /// The sample counts of both phases (the Side count keeps its low 16 bits).
    void SetSampleCounts(uint32_t xy, uint32_t xz);

    /// The Adjust button: starts the Hall phase.
    void OnAdjust();
    /// Timer 11: acts on an event, or shows the azimuth.
    void OnAzimuthPoll();
    /// Timer 12: acts on an event, or counts a tick without one.
    void OnMonitor();
    /// Timers 13 and 14: the progress of the phase.
    void OnHallProgress();
    void OnSideProgress();

    int32_t Phase() const { return m_nCalPhase; }
    int32_t Calibrating() const { return m_bCalibrating; }
    int32_t Ticks() const { return m_nCalTicks; }
    int32_t XYSampleCnt() const { return m_nXYSampleCnt; }
    int16_t XZSampleCnt() const { return m_nXZSampleCnt; }
    int16_t CurSampleCnt() const { return m_nCurSampleCnt; }

private:
    void ShowAzimuth();

    CompassDevice& m_compass;
    CalibrationEventSource& m_events;
    CalibrationView& m_view;
    int32_t m_nCalPhase = 0;
    int32_t m_bCalibrating = 0;
    int32_t m_nCalTicks = 0;
    int32_t m_nXYSampleCnt = 0;
    int16_t m_nXZSampleCnt = 0;
    int16_t m_nCurSampleCnt = 0;
};

} // namespace devtest
