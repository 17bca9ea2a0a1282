#include <platform/system/clock.h>
#include <platform/system/device_root.h>
#include <platform/system/testing.h>

#include <gtest/gtest.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

namespace hh::sys {
namespace {

using namespace std::chrono_literals;
using testing::DeviceRootTest;
using testing::WaitUntil;

int64_t MonotonicNowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void WriteBoot(const std::string& text) {
    std::filesystem::create_directories(DeviceStateDir());
    std::ofstream(DeviceStateDir() / "boot") << text;
}

// A boot instant `agoMs` in the past, or as far back as the host clock allows.
int64_t BootAgo(int64_t agoMs) {
    const int64_t now = MonotonicNowMs();
    const int64_t boot = std::max<int64_t>(now - agoMs, 0);
    WriteBoot(std::to_string(boot));
    return now - boot;
}

std::string ReadText(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

using DeviceClock = DeviceRootTest;

TEST_F(DeviceClock, StartsANewBootWhenTheStoredOneIsUnusable) {
    const std::string future = std::to_string(MonotonicNowMs() + 86400000);
    const std::string cases[] = {"", "garbage", "12x", "-5", future};
    for (const auto& stored : cases) {
        if (stored.empty()) {
            std::filesystem::remove(DeviceStateDir() / "boot");
        } else {
            WriteBoot(stored);
        }
        EXPECT_LT(GetTickCount(), 1000u) << "stored: '" << stored << "'";
        const std::string rewritten = ReadText(DeviceStateDir() / "boot");
        EXPECT_NE(rewritten, stored);
        EXPECT_NEAR(std::atoll(rewritten.c_str()), MonotonicNowMs(), 1000) << rewritten;
    }
}

TEST_F(DeviceClock, CountsFromTheStoredBootAndRestarts) {
    const auto ago = static_cast<uint32_t>(BootAgo(123456));
    ASSERT_GT(ago, 1000u);
    EXPECT_GE(GetTickCount(), ago);
    EXPECT_LT(GetTickCount(), ago + 5000u);
    RestartDeviceClock();
    EXPECT_LT(GetTickCount(), 1000u);
    EXPECT_LT(DeviceUptimeMs(), 1000);
}

TEST_F(DeviceClock, TickCountIsSharedByTheProcessesOfOneRoot) {
    BootAgo(500000);
    const uint32_t before = GetTickCount();
    const auto out = root_ / "child-ticks";
    ASSERT_TRUE(testing::RunChild("SyncChild.ReportTickCount", {{"HH_CHILD_OUT", out.string()}}));
    const uint32_t after = GetTickCount();
    const auto childTicks = static_cast<uint32_t>(std::atoll(ReadText(out).c_str()));
    EXPECT_GE(childTicks, before);
    EXPECT_LE(childTicks, after);

    // A restart made by another process is seen here.
    ASSERT_TRUE(testing::RunChild("SyncChild.RestartClock"));
    EXPECT_LT(GetTickCount(), 5000u);
}

TEST_F(DeviceClock, RootsKeepTheirOwnBoot) {
    const auto ago = static_cast<uint32_t>(BootAgo(900000));
    ASSERT_GT(ago, 1000u);
    EXPECT_GE(GetTickCount(), ago);
    {
        testing::TempDeviceRoot other(testing::RootLayout::Empty);
        ASSERT_TRUE(other.ok());
        EXPECT_LT(GetTickCount(), 1000u);
    }
    EXPECT_GE(GetTickCount(), ago);
}

TEST(SyncChild, ReportTickCount) {
    HH_CHILD_ONLY();
    std::ofstream(std::getenv("HH_CHILD_OUT")) << GetTickCount();
}

TEST(SyncChild, RestartClock) {
    HH_CHILD_ONLY();
    RestartDeviceClock();
}

TEST(VirtualClock, KeepsThe32BitWrap) {
    TestClock clock((int64_t{1} << 32) + 7);
    EXPECT_EQ(GetTickCount(), 7u);
    EXPECT_EQ(DeviceUptimeMs(), (int64_t{1} << 32) + 7);
    clock.advance(10ms);
    EXPECT_EQ(GetTickCount(), 17u);
    RestartDeviceClock();
    EXPECT_EQ(GetTickCount(), 0u);
    EXPECT_EQ(clock.nowMs(), (int64_t{1} << 32) + 17);
}

TEST(VirtualClock, SleepersWakeExactlyWhenDue) {
    TestClock clock;
    std::atomic<int> shortDone{0}, longDone{0};
    std::thread shortSleeper([&] {
        Sleep(100);
        shortDone = 1;
    });
    std::thread longSleeper([&] {
        Sleep(300ms);
        longDone = 1;
    });
    ASSERT_TRUE(clock.waitForBlockedThreads(2));
    clock.advance(99ms);
    EXPECT_EQ(clock.blockedThreads(), 2u);
    clock.advance(1ms);
    EXPECT_TRUE(WaitUntil([&] { return shortDone == 1; }));
    EXPECT_EQ(clock.blockedThreads(), 1u);
    EXPECT_EQ(longDone, 0);
    clock.advance(200ms);
    EXPECT_TRUE(WaitUntil([&] { return longDone == 1; }));
    shortSleeper.join();
    longSleeper.join();
    EXPECT_EQ(clock.blockedThreads(), 0u);
}

TEST(VirtualClock, AdvanceInStepsLetsEachSleeperRunBetweenSteps) {
    TestClock clock;
    std::atomic<int> rounds{0};
    std::thread loop([&] {
        for (int i = 0; i < 10; ++i) {
            Sleep(100);
            ++rounds;
        }
    });
    ASSERT_TRUE(clock.waitForBlockedThreads(1));
    clock.advanceInSteps(1000ms, 100ms);
    EXPECT_EQ(rounds, 10);
    loop.join();
}

TEST(VirtualClock, ObserversSeeEveryAdvanceUntilRemoved) {
    TestClock clock(1000);
    std::vector<int64_t> seen;
    const int id = AddClockObserver([&](int64_t now) { seen.push_back(now); });
    clock.advance(5ms);
    clock.advance(10ms);
    RemoveClockObserver(id);
    clock.advance(10ms);
    EXPECT_EQ(seen, (std::vector<int64_t>{1005, 1015}));
    EXPECT_TRUE(IsTestClockInstalled());
}

TEST(VirtualClock, RemovingTheClockReleasesItsSleepers) {
    std::atomic<bool> done{false};
    std::thread sleeper;
    {
        TestClock clock;
        sleeper = std::thread([&] {
            Sleep(1000000);
            done = true;
        });
        ASSERT_TRUE(clock.waitForBlockedThreads(1));
    }
    EXPECT_FALSE(IsTestClockInstalled());
    EXPECT_TRUE(WaitUntil([&] { return done.load(); }));
    sleeper.join();
}

} // namespace
} // namespace hh::sys
