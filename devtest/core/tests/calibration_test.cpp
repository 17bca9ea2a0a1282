// The calibration state machine against a scripted compass, scripted event
// waits and a page that records what it is asked to do, in order.

#include <devtest/core/calibration.h>
#include <devtest/core/calibration_events.h>
#include <platform/system/clock.h>
#include <platform/system/testing.h>
#include <platform/system/wait.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <deque>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace devtest {
namespace {

namespace sys = hh::sys;
using Log = std::vector<std::string>;

std::string Utf8(std::u16string_view text) {
    return std::string(text.begin(), text.end());
}

struct FakeCompass : CompassDevice {
    Log& log;
    int open = 1;
    int hallAccepted = 1;
    int reopenWorks = 1;
    int direction = 1;
    int16_t azimuth = 90;
    int16_t samples = 0;
    explicit FakeCompass(Log& l) : log(l) {}
    int Open() override {
        log.push_back("Open");
        if (reopenWorks) {
            open = 1;
        }
        return open;
    }
    int Close() override {
        log.push_back("Close");
        open = 0;
        return 0;
    }
    int IsOpen() override { return open; }
    int SetModeMeasureSng() override { return Call("MeasureSng"); }
    int SetModePowerdown() override { return Call("Powerdown"); }
    int SetModeConsciousCal_Hall() override {
        Call("Hall");
        return hallAccepted;
    }
    int SetModeConsciousCal_Side() override { return Call("Side"); }
    int GetDirection() override {
        log.push_back("GetDirection");
        return direction;
    }
    int16_t GetAzimuth() override { return azimuth; }
    int GetCurSampleCnt(int16_t& count) override {
        count = samples;
        return 1;
    }
    int Call(const char* what) {
        log.push_back(what);
        return 1;
    }
};

struct FakeEvents : CalibrationEventSource {
    Log& log;
    std::deque<uint32_t> results;
    explicit FakeEvents(Log& l) : log(l) {}
    uint32_t Wait(uint32_t timeoutMs) override {
        log.push_back("Wait " + std::to_string(timeoutMs));
        if (results.empty()) {
            return sys::WAIT_TIMEOUT;
        }
        const uint32_t r = results.front();
        results.pop_front();
        return r;
    }
    void Reset(int index) override { log.push_back("Reset " + std::to_string(index)); }
};

struct RecordingView : CalibrationView {
    Log& log;
    int progress = -1;
    explicit RecordingView(Log& l) : log(l) {}
    void SetTimer(std::uintptr_t id, uint32_t ms) override {
        log.push_back("SetTimer " + std::to_string(id) + " " + std::to_string(ms));
    }
    void KillTimer(std::uintptr_t id) override { log.push_back("KillTimer " + std::to_string(id)); }
    void SetProgress(int position) override {
        progress = position;
        log.push_back("Progress " + std::to_string(position));
    }
    void SetStatus(std::u16string_view text) override { log.push_back("Status " + Utf8(text)); }
    void ShowMessage(std::u16string_view text, std::u16string_view caption) override {
        log.push_back("Message [" + Utf8(text) + "] [" + Utf8(caption) + "]");
    }
    void EnableAdjust(bool enable) override { log.push_back(enable ? "Enable" : "Disable"); }
    void ShowAzimuth(int16_t degrees) override {
        log.push_back("Azimuth " + std::to_string(degrees));
    }
    void Trace(std::string_view text) override { log.push_back("Trace " + std::string(text)); }
};

class CalibrationTest : public ::testing::Test {
protected:
    Log log;
    FakeCompass compass{log};
    FakeEvents events{log};
    RecordingView view{log};
    Calibration cal{compass, events, view};

    Log Take() {
        Log taken;
        taken.swap(log);
        return taken;
    }
    void StartHall() {
        cal.OnAdjust();
        log.clear();
    }
};

const Log kHallStart = {
    "Status Rotating along XY plane!",
    "MeasureSng",
    "Close",
    "Open",
    "Hall",
    "KillTimer 11",
    "SetTimer 12 1000",
    "SetTimer 13 1000",
    "Disable",
    "Trace unable\r\n",
};

TEST_F(CalibrationTest, AdjustStartsTheHallPhase) {
    cal.OnAdjust();
    EXPECT_EQ(Take(), kHallStart);
    EXPECT_EQ(cal.Phase(), 1);
    EXPECT_EQ(cal.Calibrating(), 1);
    EXPECT_EQ(cal.Ticks(), 0);
}

TEST_F(CalibrationTest, RefusedHallModeIsReportedAndNothingElseChanges) {
    compass.hallAccepted = 0;
    cal.OnAdjust();
    EXPECT_EQ(Take(), (Log{"Status Rotating along XY plane!", "MeasureSng", "Close", "Open", "Hall",
                           "KillTimer 13", "Status Failed to Set Compass to Hall Adjust Mode",
                           "Message [Failed to Set Compass to Hall Adjust Mode ] [ERROR]"}));
    EXPECT_EQ(cal.Phase(), 0);
    EXPECT_EQ(cal.Calibrating(), 0);
}

TEST_F(CalibrationTest, AdjustWhileCalibratingOnlyRewritesTheStatus) {
    StartHall();
    cal.OnAdjust();
    EXPECT_EQ(Take(), (Log{"Status Rotating along XY plane!"}));
}

// Each monitor result during the Hall phase: what the page is asked to do,
// and the phase and calibrating flag afterwards.
TEST_F(CalibrationTest, MonitorActsOnEveryEvent) {
    struct Row {
        uint32_t result;
        Log steps;
        int32_t phase;
        int32_t calibrating;
    };
    const std::vector<Row> rows = {
        {CAL_EVENT_TEST, {"Wait 30", "Reset 0"}, 1, 1},
        {CAL_EVENT_HALL_PROCESSING, {"Wait 30", "Reset 1"}, 1, 1},
        {CAL_EVENT_HALL_SUCCESS,
         {"Wait 30", "Reset 2", "KillTimer 13", "Progress 50", "Status Rotating along XZ plane!",
          "Message [Hall Adjust Sucess,Start Side Adjust ] []", "SetTimer 14 1000", "Side"},
         2,
         1},
        {CAL_EVENT_SIDE_SUCCESS,
         {"Wait 30", "Reset 3", "Status Adjust Sucess!", "Message [Adjust Sucess] []",
          "KillTimer 12", "KillTimer 14", "KillTimer 13", "Progress 100", "SetTimer 11 250",
          "Enable"},
         1,
         0},
        {CAL_EVENT_UPRIGHT_SUCCESS, {"Wait 30", "Reset 4"}, 1, 0},
        {CAL_EVENT_HALL_FAILURE,
         {"Wait 30", "Reset 5", "Enable", "KillTimer 14", "KillTimer 13", "Progress 0",
          "Status Adjust Failed!", "Message [ Adjust Fail] []", "KillTimer 12", "SetTimer 11 250"},
         1,
         0},
        {CAL_EVENT_HALL_STOP, {"Wait 30", "Reset 6"}, 1, 1},
        {CAL_EVENT_ERROR, {"Wait 30", "Reset 7", "Powerdown", "Close", "Open"}, 1, 1},
        {sys::WAIT_FAILED, {"Wait 30"}, 1, 1},
    };
    for (const Row& row : rows) {
        Log l;
        FakeCompass c{l};
        FakeEvents e{l};
        RecordingView v{l};
        Calibration calibration{c, e, v};
        calibration.OnAdjust();
        l.clear();
        e.results = {row.result};
        calibration.OnMonitor();
        EXPECT_EQ(l, row.steps) << "result " << row.result;
        EXPECT_EQ(calibration.Phase(), row.phase) << "result " << row.result;
        EXPECT_EQ(calibration.Calibrating(), row.calibrating) << "result " << row.result;
    }
}

TEST_F(CalibrationTest, ErrorWithACompassThatWillNotReopenAsksForARestart) {
    StartHall();
    compass.reopenWorks = 0;
    events.results = {CAL_EVENT_ERROR};
    cal.OnMonitor();
    EXPECT_EQ(Take(), (Log{"Wait 30", "Reset 7", "Powerdown", "Close", "Open", "Powerdown",
                           "Message [Please Restart Device] [Error]"}));
    EXPECT_EQ(cal.Calibrating(), 0);
}

TEST_F(CalibrationTest, FiveHundredQuietTicksEndTheHallPhaseAndRearmIt) {
    StartHall();
    for (int i = 1; i < kCalTimeoutTicks; ++i) {
        cal.OnMonitor();
    }
    EXPECT_EQ(cal.Ticks(), kCalTimeoutTicks - 1);
    log.clear();
    cal.OnMonitor();
    EXPECT_EQ(Take(), (Log{"Wait 30", "Enable",
                           "Message [Hall Adjust Failed,Please Try again!] [Error]", "Hall"}));
    EXPECT_EQ(cal.Calibrating(), 0);
    EXPECT_EQ(cal.Ticks(), 0);
    // Timed out: quiet ticks count no more, but a late success still moves on.
    cal.OnMonitor();
    EXPECT_EQ(cal.Ticks(), 0);
    events.results = {CAL_EVENT_HALL_SUCCESS};
    cal.OnMonitor();
    EXPECT_EQ(cal.Phase(), 2);
    EXPECT_EQ(cal.Calibrating(), 1);
}

TEST_F(CalibrationTest, FiveHundredQuietTicksInTheSidePhaseRearmTheSidePhase) {
    StartHall();
    events.results = {CAL_EVENT_HALL_SUCCESS};
    cal.OnMonitor();
    log.clear();
    for (int i = 0; i < kCalTimeoutTicks; ++i) {
        cal.OnMonitor();
    }
    const Log tail(log.end() - 3, log.end());
    EXPECT_EQ(tail,
              (Log{"Enable", "Message [Side Adjust Failed,Please Try again!] [Error]", "Side"}));
}

TEST_F(CalibrationTest, QuietTicksOutsideACalibrationCountNothing) {
    cal.OnMonitor();
    EXPECT_EQ(cal.Ticks(), 0);
    EXPECT_EQ(Take(), (Log{"Wait 30"}));
}

TEST_F(CalibrationTest, AzimuthPollActsOnEveryEvent) {
    struct Row {
        uint32_t result;
        Log steps;
    };
    const std::vector<Row> rows = {
        {CAL_EVENT_TEST, {"Wait 10", "Reset 0"}},
        {CAL_EVENT_HALL_PROCESSING, {"Wait 10", "Reset 1", "GetDirection", "Azimuth 90"}},
        {CAL_EVENT_HALL_SUCCESS, {"Wait 10", "Reset 2", "Powerdown"}},
        {CAL_EVENT_SIDE_SUCCESS, {"Wait 10", "Reset 3", "Powerdown"}},
        {CAL_EVENT_UPRIGHT_SUCCESS, {"Wait 10", "Reset 4"}},
        {CAL_EVENT_HALL_FAILURE,
         {"Wait 10", "Reset 5", "Powerdown", "Close", "Open", "MeasureSng"}},
        {CAL_EVENT_HALL_STOP, {"Wait 10", "Reset 6"}},
        {CAL_EVENT_ERROR, {"Wait 10", "Reset 7"}},
        {sys::WAIT_TIMEOUT, {"Wait 10", "GetDirection", "Azimuth 90"}},
        {sys::WAIT_FAILED, {"Wait 10"}},
    };
    for (const Row& row : rows) {
        log.clear();
        events.results = {row.result};
        cal.OnAzimuthPoll();
        EXPECT_EQ(log, row.steps) << "result " << row.result;
    }
}

TEST_F(CalibrationTest, AzimuthPollWithAFailureAndNoCompassPowersItDown) {
    compass.reopenWorks = 0;
    events.results = {CAL_EVENT_HALL_FAILURE};
    cal.OnAzimuthPoll();
    EXPECT_EQ(Take(), (Log{"Wait 10", "Reset 5", "Powerdown", "Close", "Open", "Powerdown"}));
}

TEST_F(CalibrationTest, AzimuthPollDoesNothingWhileTheCompassIsClosed) {
    compass.open = 0;
    cal.OnAzimuthPoll();
    EXPECT_EQ(Take(), Log{});
    // Even with its driver back the poll does not open it.
    compass.reopenWorks = 1;
    cal.OnAzimuthPoll();
    EXPECT_EQ(Take(), Log{});
}

TEST_F(CalibrationTest, RefusedDirectionShowsNoAzimuth) {
    compass.direction = 0;
    cal.OnAzimuthPoll();
    EXPECT_EQ(Take(), (Log{"Wait 10", "GetDirection"}));
}

TEST(CalibrationProgress, BarPositionsOfBothPhases) {
    struct Row {
        int16_t cur;
        int32_t xy;
        int16_t xz;
        int hall;
        int side;
    };
    const Row rows[] = {
        {100, 200, 200, 25, 75},  {0, 200, 200, 0, 50},
        {200, 200, 200, 50, 100}, {199, 200, 200, 49, 99},
        {100, 0, 0, 0, 0},        {-10, 100, 100, -5, 45},
        {300, 200, 200, 75, 125}, {32767, 1, 1, 1638350, 1638400},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(HallProgress(r.cur, r.xy), r.hall) << r.cur << "/" << r.xy;
        EXPECT_EQ(SideProgress(r.cur, r.xz), r.side) << r.cur << "/" << r.xz;
    }
}

TEST_F(CalibrationTest, ProgressTimersFollowTheDriversCount) {
    cal.SetSampleCounts(200, 0x10000 + 200);
    EXPECT_EQ(cal.XZSampleCnt(), 200);
    compass.samples = 100;
    cal.OnHallProgress();
    EXPECT_EQ(view.progress, 25);
    cal.OnSideProgress();
    EXPECT_EQ(view.progress, 75);
    EXPECT_EQ(cal.CurSampleCnt(), 100);
    cal.SetSampleCounts(0, 0);
    cal.OnHallProgress();
    EXPECT_EQ(view.progress, 0);
}

// The real events, shared by name with whatever plays the compass driver.
class CalibrationEventsTest : public hh::sys::testing::DeviceRootTest {
protected:
    CalibrationEventsTest() : DeviceRootTest(hh::sys::testing::RootLayout::Empty) {}
};

TEST_F(CalibrationEventsTest, LowestSignalledEventWinsAndStaysUntilReset) {
    CalibrationEvents events;
    events.Create();
    sys::Event driverSide[8];
    for (int i = 0; i < 8; ++i) {
        driverSide[i] = sys::Event::Create(sys::EventReset::Manual, false, kCalEventNames[i]);
    }
    driverSide[CAL_EVENT_ERROR].set();
    driverSide[CAL_EVENT_SIDE_SUCCESS].set();
    EXPECT_EQ(events.Wait(10), static_cast<uint32_t>(CAL_EVENT_SIDE_SUCCESS));
    EXPECT_EQ(events.Wait(10), static_cast<uint32_t>(CAL_EVENT_SIDE_SUCCESS)) << "manual reset";
    events.Reset(CAL_EVENT_SIDE_SUCCESS);
    EXPECT_EQ(events.Wait(10), static_cast<uint32_t>(CAL_EVENT_ERROR));
    events.Reset(CAL_EVENT_ERROR);

    sys::TestClock clock;
    std::thread mover([&] {
        if (clock.waitForBlockedThreads(1)) {
            clock.advance(std::chrono::milliseconds(30));
        }
    });
    EXPECT_EQ(events.Wait(30), sys::WAIT_TIMEOUT);
    mover.join();
}

} // namespace
} // namespace devtest
