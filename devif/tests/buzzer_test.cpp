// The buzzer through libHalvix.so, on the test clock: the tone log of the
// simulated "BKL1:" records each request at the device tick it came.

#include "halvix_fixture.h"

#include <platform/system/clock.h>
#include <platform/system/thread.h>
#include <simulator/backlight/backlight_driver.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <thread>

namespace halvix_test {
namespace {

using Ms = sys::Millis;

class BuzzerTest : public HalvixTest {
protected:
    void SetUp() override {
        HalvixTest::SetUp();
        clock.emplace(0);
        BuzzerStop();
        sim::ClearToneLog();
    }
    void TearDown() override {
        BuzzerStop();
        WaitForIdle();
        EXPECT_TRUE(SequenceEnded());
        clock.reset();
        HalvixTest::TearDown();
    }

    // (tick, level) of every tone request so far.
    static std::vector<std::pair<int64_t, uint32_t>> Tones() {
        std::vector<sim::ToneRequest> log;
        sim::ReadToneLog(log);
        std::vector<std::pair<int64_t, uint32_t>> tones;
        for (const auto& t : log) {
            tones.emplace_back(t.atMs, t.level);
        }
        return tones;
    }

    // Starts a sequence once the previous beep thread has ended: a started
    // sequence is a thread blocked in its first pause.
    bool Start(uint32_t level, uint32_t beep, uint32_t count, uint32_t pause) {
        EXPECT_TRUE(SequenceEnded());
        BuzzerBeep(level, 3, beep, count, pause);
        return clock->waitForBlockedThreads(1, Ms(5000));
    }

    // Waits (real time, bounded) until no beep thread runs.
    static bool SequenceEnded() {
        return sys::testing::WaitUntil(
            [] { return sys::WaitForOtherThreads(0) == sys::WAIT_OBJECT_0; });
    }

    // Runs the clock until no beep thread waits any more.
    void WaitForIdle() {
        for (int i = 0; i < 1000 && clock->blockedThreads() > 0; ++i) {
            clock->advanceInSteps(Ms(100), Ms(10));
        }
    }

    // Advances to `at` in steps that let the beep thread reach each wait.
    void RunTo(int64_t at) {
        if (at > clock->nowMs()) {
            clock->advanceInSteps(Ms(at - clock->nowMs()), Ms(10));
        }
    }

    std::optional<sys::TestClock> clock;
};

TEST_F(BuzzerTest, FiveBeepsStartAfterThePauseAndEndSilentAfterFifteenHundredMs) {
    ASSERT_TRUE(Start(5, 100, 5, 200));
    RunTo(1600);
    std::vector<std::pair<int64_t, uint32_t>> expected;
    for (int i = 0; i < 5; ++i) {
        expected.emplace_back(200 + i * 300, 5);
        expected.emplace_back(300 + i * 300, 0);
    }
    EXPECT_EQ(Tones(), expected);
}

TEST_F(BuzzerTest, LevelZeroOnlySilencesAndCountZeroPlaysNothing) {
    BuzzerBeep(0, 9, 100, 5, 200);
    EXPECT_EQ(clock->blockedThreads(), 0u);
    EXPECT_EQ(Tones(), (std::vector<std::pair<int64_t, uint32_t>>{{0, 0}}));
    sim::ClearToneLog();
    BuzzerBeep(3, 0, 100, 0, 200);
    // The empty sequence ends by itself; the next one starts.
    ASSERT_TRUE(Start(4, 100, 1, 100));
    RunTo(300);
    EXPECT_EQ(Tones(), (std::vector<std::pair<int64_t, uint32_t>>{{100, 4}, {200, 0}}));
}

TEST_F(BuzzerTest, ABeepWhileASequenceRunsIsIgnored) {
    ASSERT_TRUE(Start(5, 100, 2, 200));
    BuzzerBeep(9, 1, 10, 50, 10);
    RunTo(700);
    EXPECT_EQ(Tones(),
              (std::vector<std::pair<int64_t, uint32_t>>{{200, 5}, {300, 0}, {500, 5}, {600, 0}}));
}

TEST_F(BuzzerTest, TwoBeepsInARowStartOneSequence) {
    // Without the busy test and the start as one step, the second call finds
    // the first thread not yet running and starts a second sequence.
    BuzzerBeep(5, 3, 100, 2, 200);
    BuzzerBeep(5, 3, 100, 2, 200);
    ASSERT_TRUE(clock->waitForBlockedThreads(1, Ms(2000)));
    RunTo(700);
    EXPECT_EQ(Tones().size(), 4u);
}

TEST_F(BuzzerTest, AStopWhileIdleOnlySilences) {
    BuzzerStop();
    EXPECT_EQ(Tones(), (std::vector<std::pair<int64_t, uint32_t>>{{0, 0}}));
    ASSERT_TRUE(Start(5, 100, 1, 100));
    RunTo(300);
    EXPECT_EQ(Tones().size(), 3u); // the earlier stop did not cut the sequence short
}

TEST_F(BuzzerTest, AStopInTheThirdPauseEndsAfterTwoBeepsAndANewSequenceStarts) {
    ASSERT_TRUE(Start(5, 100, 5, 200));
    RunTo(700); // in the third pause (600 to 800)
    BuzzerStop();
    ASSERT_TRUE(Start(7, 100, 1, 100));
    int64_t restart = clock->nowMs();
    RunTo(restart + 300);
    EXPECT_EQ(Tones(), (std::vector<std::pair<int64_t, uint32_t>>{{200, 5},
                                                                  {300, 0},
                                                                  {500, 5},
                                                                  {600, 0},
                                                                  {700, 0},
                                                                  {restart + 100, 7},
                                                                  {restart + 200, 0}}));
}

TEST_F(BuzzerTest, AStopDuringAToneSilencesItAtOnce) {
    ASSERT_TRUE(Start(5, 1000, 3, 200));
    RunTo(250);
    BuzzerStop();
    WaitForIdle();
    std::vector<std::pair<int64_t, uint32_t>> tones = Tones();
    ASSERT_FALSE(tones.empty());
    EXPECT_EQ(tones.back().second, 0u);
    EXPECT_EQ(tones.front(), (std::pair<int64_t, uint32_t>{200, 5}));
    EXPECT_FALSE(sim::ReadBacklightState().value().sounding);
}

TEST_F(BuzzerTest, EverySequenceEndsSilentWhateverItsPauseAndHowItEnds) {
    struct Case {
        uint32_t beep;
        uint32_t count;
        uint32_t pause;
        int64_t stopAt; // -1: runs to its end
    };
    const Case cases[] = {
        {0, 20, 0, -1},   {100, 3, 0, -1},  {0, 3, 100, -1},    {100, 3, 200, -1},  {100, 3, 0, 50},
        {100, 3, 0, 150}, {0, 30, 100, 50}, {100, 3, 200, 250}, {100, 3, 200, 550},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "beep " << c.beep << " count " << c.count << " pause "
                                          << c.pause << " stop at " << c.stopAt);
        sim::ClearToneLog();
        const int64_t start = clock->nowMs();
        if (c.beep + c.pause == 0) {
            BuzzerBeep(5, 3, c.beep, c.count, c.pause); // never waits: runs to its end at once
        } else {
            ASSERT_TRUE(Start(5, c.beep, c.count, c.pause));
        }
        if (c.stopAt >= 0) {
            RunTo(start + c.stopAt);
            BuzzerStop();
        }
        WaitForIdle();
        ASSERT_TRUE(SequenceEnded());
        std::vector<std::pair<int64_t, uint32_t>> tones = Tones();
        ASSERT_FALSE(tones.empty());
        EXPECT_EQ(tones.back().second, 0u);
        EXPECT_FALSE(sim::ReadBacklightState().value().sounding);
    }
}

// Runs in a process of its own, which ends while its tone sounds.
TEST(BuzzerChild, ExitDuringATone) {
    HH_CHILD_ONLY();
    ASSERT_TRUE(sim::RegisterSimulatedDevice([] {}));
    BuzzerBeep(5, 3, 60000, 3, 0);
    ASSERT_TRUE(sys::testing::WaitUntil([] {
        std::vector<sim::ToneRequest> log;
        sim::ReadToneLog(log);
        return !log.empty();
    }));
}

TEST_F(BuzzerTest, AProcessThatExitsDuringASequenceEndsItSilentAndDoesNotCrash) {
    clock.reset(); // the child runs on the real clock
    ASSERT_TRUE(sys::testing::RunChild("BuzzerChild.ExitDuringATone"));
    std::vector<sim::ToneRequest> log;
    ASSERT_TRUE(sim::ReadToneLog(log));
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log.front().level, 5u);
    EXPECT_EQ(log.back().level, 0u);
    EXPECT_FALSE(sim::ReadBacklightState().value().sounding);
    clock.emplace(0);
}

TEST_F(BuzzerTest, AChildMadeByForkDuringASequenceExitsWithoutWaitingForIt) {
    ASSERT_TRUE(Start(5, 100, 3, 200));
    // The child has the sequence's bookkeeping but not its thread; its exit
    // must not wait for a thread that is not there.
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(::open("/dev/null", O_WRONLY), STDERR_FILENO);
        std::exit(0);
    }
    ASSERT_GT(child, 0);
    int status = -1;
    const bool ended = sys::testing::WaitUntil(
        [&] { return ::waitpid(child, &status, WNOHANG) == child; }, std::chrono::seconds(10));
    if (!ended) {
        ::kill(child, SIGKILL);
        ::waitpid(child, &status, 0);
    }
    EXPECT_TRUE(ended);
#if !defined(__SANITIZE_ADDRESS__)
    // (The leak check at a sanitized child's exit reports the memory of the
    // parent's beep thread, which the child does not have.)
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
#endif
}

// A "BKL" driver that holds one chosen request of the beep thread until the
// test lets it go, and otherwise passes every request to the simulated one.
class GateDriver : public sys::StreamDriver {
public:
    // Holds the request with this level that comes from another thread than
    // the test's (the beep thread), the first time it comes.
    explicit GateDriver(uint32_t heldLevel) : m_heldLevel(heldLevel) {}

    std::unique_ptr<sys::StreamDevice> open(const sys::OpenRequest& request) override {
        return std::make_unique<Device>(*this, m_inner.open(request));
    }

    bool waitHeld() {
        std::unique_lock lock(m_mutex);
        return m_cv.wait_for(lock, std::chrono::seconds(5), [this] { return m_held; });
    }
    // Lets the held request go on once a silence from the test thread arrived,
    // or after `limit` real time when none comes.
    void releaseAfterSilence(std::chrono::milliseconds limit) {
        std::unique_lock lock(m_mutex);
        m_cv.wait_for(lock, limit, [this] { return m_silenceSeen; });
        m_release = true;
        m_cv.notify_all();
    }
    void setTestThread(std::thread::id id) { m_test = id; }

private:
    struct Device : sys::StreamDevice {
        Device(GateDriver& d, std::unique_ptr<sys::StreamDevice> inner)
            : driver(d), inner(std::move(inner)) {}
        bool ioControl(uint32_t code, std::span<const std::byte> in, std::span<std::byte> out,
                       uint32_t* returned) override {
            uint32_t level = 0xFFFFFFFF;
            if (code == 5 && in.size() >= 4) {
                std::memcpy(&level, in.data(), 4);
            }
            driver.gate(level);
            return inner->ioControl(code, in, out, returned);
        }
        GateDriver& driver;
        std::unique_ptr<sys::StreamDevice> inner;
    };

    void gate(uint32_t level) {
        std::unique_lock lock(m_mutex);
        bool fromTest = std::this_thread::get_id() == m_test;
        if (fromTest && level == 0) {
            m_silenceSeen = true;
            m_cv.notify_all();
            return;
        }
        if (!fromTest && level == m_heldLevel && !m_held) {
            m_held = true;
            m_cv.notify_all();
            m_cv.wait(lock, [this] { return m_release; });
        }
    }

    sim::BacklightDriver m_inner;
    uint32_t m_heldLevel;
    std::thread::id m_test;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_held = false;
    bool m_release = false;
    bool m_silenceSeen = false;
};

TEST_F(BuzzerTest, AStopBetweenAWaitAndItsToneStillLeavesTheBuzzerSilent) {
    auto gate = std::make_shared<GateDriver>(5);
    sys::RegisterStreamDriver("BKL", gate);
    ASSERT_TRUE(Start(5, 100, 3, 200));
    clock->advance(Ms(200)); // the pause ends; the tone request is held
    ASSERT_TRUE(gate->waitHeld());
    std::thread stopper([&gate] {
        gate->setTestThread(std::this_thread::get_id());
        BuzzerStop();
    });
    // Without the fix the stop's silence comes first and the tone after it.
    gate->releaseAfterSilence(std::chrono::milliseconds(300));
    stopper.join();
    WaitForIdle();
    std::vector<std::pair<int64_t, uint32_t>> tones = Tones();
    ASSERT_FALSE(tones.empty());
    EXPECT_EQ(tones.back().second, 0u);
    EXPECT_FALSE(sim::ReadBacklightState().value().sounding);
}

TEST_F(BuzzerTest, AStopThatFindsTheSequenceEndingDoesNotCutTheNextShort) {
    auto gate = std::make_shared<GateDriver>(0);
    gate->setTestThread(std::this_thread::get_id());
    sys::RegisterStreamDriver("BKL", gate);
    ASSERT_TRUE(Start(5, 100, 1, 100));
    clock->advanceInSteps(Ms(100), Ms(10)); // the tone sounds
    clock->advance(Ms(100));                // the tone ends; the thread's last silence is held
    ASSERT_TRUE(gate->waitHeld());
    BuzzerStop(); // finds the sequence still busy and signals it
    gate->releaseAfterSilence(std::chrono::milliseconds(0));
    // Once the old thread has ended, one call starts the next sequence, which
    // plays in full.
    ASSERT_TRUE(SequenceEnded());
    BuzzerBeep(6, 3, 100, 2, 100);
    ASSERT_TRUE(clock->waitForBlockedThreads(1, Ms(2000)));
    int64_t start = clock->nowMs();
    RunTo(start + 500);
    std::vector<std::pair<int64_t, uint32_t>> tones = Tones();
    int sixes = 0;
    for (const auto& t : tones) {
        sixes += t.second == 6 ? 1 : 0;
    }
    EXPECT_EQ(sixes, 2);
}

// Runs in a process of its own (a fresh process has no thread stacks cached
// that a new thread could reuse despite the address-space limit).
TEST(BuzzerChild, ThreadStartFailure) {
    if (!sys::testing::IsChildProcess()) {
        GTEST_SKIP() << "runs as the child of AThreadThatCannotStartLeavesTheBuzzerIdle";
    }
    sys::testing::TempDeviceRoot device;
    ASSERT_TRUE(sim::RegisterSimulatedDevice([] {}));
    // Warm up everything the calls need before the limit: the state database,
    // the driver, the event.
    BuzzerStop();
    rlimit old{};
    getrlimit(RLIMIT_AS, &old);
    unsigned long pages = 0;
    FILE* statm = std::fopen("/proc/self/statm", "r");
    ASSERT_NE(statm, nullptr);
    ASSERT_EQ(std::fscanf(statm, "%lu", &pages), 1);
    std::fclose(statm);
    // Room for small allocations, none for a thread's stack.
    rlimit tight = old;
    tight.rlim_cur = pages * 4096 + (2u << 20);
    ASSERT_EQ(setrlimit(RLIMIT_AS, &tight), 0);
    BuzzerBeep(5, 3, 10, 1, 10);
    ASSERT_EQ(setrlimit(RLIMIT_AS, &old), 0);
    // The failed start left the buzzer idle: the next sequence plays.
    BuzzerBeep(6, 3, 10, 1, 10);
    bool played = sys::testing::WaitUntil([] {
        std::vector<sim::ToneRequest> log;
        sim::ReadToneLog(log);
        return std::any_of(log.begin(), log.end(),
                           [](const sim::ToneRequest& t) { return t.level == 6; });
    });
    EXPECT_TRUE(played);
}

TEST_F(BuzzerTest, AThreadThatCannotStartLeavesTheBuzzerIdle) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the address-space limit that stops thread creation conflicts with the "
                    "sanitizer's shadow memory";
#endif
    EXPECT_TRUE(sys::testing::RunChild("BuzzerChild.ThreadStartFailure"));
}

} // namespace
} // namespace halvix_test
