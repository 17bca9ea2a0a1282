// devctl notify and devctl key against this test process playing the
// programs on the device screen.

#include <platform/system/event.h>
#include <platform/system/testing.h>
#include <platform/system/wait.h>
#include <simulator/keypad/keypad.h>

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <mutex>
#include <string>
#include <vector>

namespace {

namespace sys = hh::sys;

struct Outcome {
    int exitCode = -1;
    std::string output;
};

Outcome Devctl(const std::string& args) {
    Outcome run;
    FILE* pipe = ::popen(("'" DEVCTL_PATH "' " + args + " 2>&1").c_str(), "r");
    if (pipe == nullptr) {
        return run;
    }
    char buffer[256];
    while (size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) {
        run.output.append(buffer, n);
    }
    const int status = ::pclose(pipe);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

class NotifyKeyTest : public hh::sys::testing::DeviceRootTest {
protected:
    NotifyKeyTest() : DeviceRootTest(hh::sys::testing::RootLayout::Empty) {}
};

TEST_F(NotifyKeyTest, NotifySetsTheDataWordAndSignals) {
    sys::Event watched = sys::Event::Create(sys::EventReset::Automatic, false, "EVENT_OVL_TARVEN");
    Outcome run = Devctl("notify 300");
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(run.output, "notified 300\n");
    EXPECT_EQ(sys::WaitForSingleObject(watched, 0), sys::WAIT_OBJECT_0);
    EXPECT_EQ(sys::GetEventData(watched), 300u);
    run = Devctl("notify 0x64");
    EXPECT_EQ(run.output, "notified 100\n");
    EXPECT_EQ(sys::GetEventData(watched), 100u);
}

TEST_F(NotifyKeyTest, NotifyWaitsForTheAnswerAndPrintsIt) {
    sys::Event watched = sys::Event::Create(sys::EventReset::Automatic, false, "EVENT_OVL_TARVEN");
    auto pending =
        std::async(std::launch::async, [] { return Devctl("notify 300 --wait-answer 20"); });
    ASSERT_EQ(sys::WaitForSingleObject(watched, 10000), sys::WAIT_OBJECT_0);
    EXPECT_EQ(sys::GetEventData(watched), 300u);
    // The window's "charging" button, as the test application answers.
    sys::Event answer =
        sys::Event::Create(sys::EventReset::Automatic, false, "EVENT_OVL_SELECTION");
    sys::SetEventData(answer, 2);
    sys::EventModify(answer, sys::EVENT_SET);
    answer.close();
    Outcome run = pending.get();
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(run.output, "notified 300\nanswer 2 (charging)\n");
}

TEST_F(NotifyKeyTest, NotifyFailuresAreOneLineAndNonZero) {
    struct Row {
        std::string args;
        bool watcher;
        int exitCode;
        std::string output;
    };
    const std::vector<Row> rows = {
        {"notify 300", false, 1,
         "devctl: no program waits on \"EVENT_OVL_TARVEN\" (is V5520Demo running?)\n"},
        {"notify 3o0", true, 1, "devctl: \"3o0\" is not a 32-bit code\n"},
        {"notify 4294967296", true, 1, "devctl: \"4294967296\" is not a 32-bit code\n"},
        {"notify 300 --wait-answer 0", true, 1,
         "notified 300\ndevctl: no answer came within 0 s\n"},
        {"notify 300 --wait-answer 100000", true, 1,
         "devctl: SECONDS must lie between 0 and 86400, not 100000\n"},
    };
    for (const Row& row : rows) {
        sys::Event watched;
        if (row.watcher) {
            watched = sys::Event::Create(sys::EventReset::Automatic, false, "EVENT_OVL_TARVEN");
        }
        Outcome run = Devctl(row.args);
        EXPECT_EQ(run.exitCode, row.exitCode) << row.args;
        EXPECT_EQ(run.output, row.output) << row.args;
    }
}

TEST_F(NotifyKeyTest, KeysReachTheProgramHoldingTheKeypad) {
    std::mutex lock;
    std::vector<std::pair<int, bool>> keys;
    hh::sim::KeypadReceiver receiver([&](int vk, bool pressed) {
        std::lock_guard guard(lock);
        keys.emplace_back(vk, pressed);
    });
    struct Row {
        std::string args;
        int exitCode;
        std::string output;
    };
    const std::vector<Row> rows = {
        {"key back press", 0, "back pressed (0xC1)\n"},
        {"key back release", 0, "back released (0xC1)\n"},
        {"key ok press", 0, "ok pressed (0xC4)\n"},
        {"key home press", 1, "devctl: \"home\" is not a key (back, up, down or ok)\n"},
        {"key up hold", 1, "devctl: \"hold\" is neither press nor release\n"},
    };
    for (const Row& row : rows) {
        Outcome run = Devctl(row.args);
        EXPECT_EQ(run.exitCode, row.exitCode) << row.args;
        EXPECT_EQ(run.output, row.output) << row.args;
    }
    std::lock_guard guard(lock);
    EXPECT_EQ(keys, (std::vector<std::pair<int, bool>>{{0xC1, true}, {0xC1, false}, {0xC4, true}}));
}

TEST_F(NotifyKeyTest, KeyWithoutAProgramSaysSo) {
    Outcome run = Devctl("key down press");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.output, "devctl: no program on the device screen takes keys (is one running?)\n");
}

} // namespace
