// The device state store on a temporary device root.

#include <platform/system/device_root.h>
#include <platform/system/error.h>
#include <platform/system/testing.h>
#include <simulator/state/device_state.h>

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>

#include <thread>

namespace hh::sim::state {
namespace {

using sys::testing::DeviceRootTest;

class DeviceStateTest : public DeviceRootTest {};

int64_t Int(std::string_view name, int64_t defaultValue) {
    int64_t value = 0;
    EXPECT_TRUE(GetInt(name, defaultValue, value)) << StateErrorText();
    return value;
}

std::string Text(std::string_view name, std::string_view defaultValue) {
    std::string value;
    EXPECT_TRUE(GetText(name, defaultValue, value)) << StateErrorText();
    return value;
}

TEST_F(DeviceStateTest, MissingValuesReadAsTheirDefaultsWithoutMakingAStore) {
    EXPECT_EQ(Int("bkl.level", 7), 7);
    EXPECT_EQ(Text("usb.client", "Serial_Class"), "Serial_Class");
    std::vector<LogEntry> log;
    EXPECT_TRUE(ReadLog(kToneLog, log));
    EXPECT_TRUE(Check());
    EXPECT_FALSE(sys::testing::ExistsHost(StatePath()));

    EXPECT_TRUE(SetInt("bkl.level", -42));
    EXPECT_TRUE(SetText("usb.client", "Mass_Storage_Class"));
    EXPECT_TRUE(SetInts({{"a", 1}, {"b", 2}}));
    EXPECT_EQ(Int("bkl.level", 0), -42);
    EXPECT_EQ(Text("usb.client", ""), "Mass_Storage_Class");
    EXPECT_EQ(Int("a", 0) + Int("b", 0), 3);
    // A text is not an integer and the other way round: the default comes back.
    EXPECT_EQ(Int("usb.client", 5), 5);
    EXPECT_EQ(Text("bkl.level", "x"), "x");
}

// Processes that change different values at the same moment, and processes
// that each add to one counter inside a transaction: nothing is lost.
TEST_F(DeviceStateTest, ConcurrentProcessesLoseNoChange) {
    constexpr int kProcesses = 6;
    constexpr int kRounds = 15;
    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; ++p) {
        std::fflush(nullptr);
        const pid_t pid = ::fork();
        if (pid == 0) {
            for (int i = 0; i < kRounds; ++i) {
                const bool added = Transact([] {
                    int64_t count = 0;
                    return GetInt("count", 0, count) && SetInt("count", count + 1);
                });
                if (!added || !SetInt("own." + std::to_string(p), i + 1)) {
                    ::_exit(1);
                }
            }
            ::_exit(0);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        EXPECT_EQ(sys::testing::WaitChild(pid), 0);
    }
    EXPECT_EQ(Int("count", 0), kProcesses * kRounds);
    for (int p = 0; p < kProcesses; ++p) {
        EXPECT_EQ(Int("own." + std::to_string(p), 0), kRounds);
    }
}

TEST_F(DeviceStateTest, ATransactionThatFailsKeepsNoneOfItsChanges) {
    ASSERT_TRUE(SetInt("x", 1));
    EXPECT_FALSE(Transact([] {
        SetInt("x", 2);
        sys::SetLastError(sys::ERROR_INVALID_PARAMETER);
        return false;
    }));
    EXPECT_EQ(sys::GetLastError(), sys::ERROR_INVALID_PARAMETER);
    EXPECT_EQ(Int("x", 0), 1);
}

TEST_F(DeviceStateTest, LogsKeepOrderAndTheirLimit) {
    for (int i = 0; i < kLogLimit + 5; ++i) {
        ASSERT_TRUE(AppendLog(kToneLog, {i, i % 11, 3}));
    }
    ASSERT_TRUE(AppendLog(kPowerLog, {9, 3, 1}));
    std::vector<LogEntry> tones;
    ASSERT_TRUE(ReadLog(kToneLog, tones));
    ASSERT_EQ(tones.size(), static_cast<size_t>(kLogLimit));
    EXPECT_EQ(tones.front(), (LogEntry{5, 5, 3}));
    EXPECT_EQ(tones.back(), (LogEntry{kLogLimit + 4, (kLogLimit + 4) % 11, 3}));
    ASSERT_TRUE(ClearLog(kToneLog));
    ASSERT_TRUE(ReadLog(kToneLog, tones));
    EXPECT_TRUE(tones.empty());
    std::vector<LogEntry> power;
    ASSERT_TRUE(ReadLog(kPowerLog, power));
    EXPECT_EQ(power, (std::vector<LogEntry>{{9, 3, 1}}));
}

// Every reader and writer of a store that is damaged or not ours fails with
// one line, and the file stays as it was.
TEST_F(DeviceStateTest, AStoreDamagedOrNotOursIsReportedByEveryCallAndLeftAsItIs) {
    // A store of ours with a value and a log, to damage in several ways.
    auto ours = [this] {
        sys::testing::RunInChild([] {
            return SetInt("battery.percent", 57) && AppendLog(kToneLog, {1, 2, 3}) ? 0 : 1;
        });
        return sys::testing::ReadHost(StatePath());
    };
    auto withSql = [&](const char* sql) {
        ours();
        sqlite3* db = nullptr;
        sqlite3_open(StatePath().c_str(), &db);
        sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
        sqlite3_close(db);
        return sys::testing::ReadHost(StatePath());
    };
    auto pageTwoOverwritten = [&] {
        std::string bytes = ours();
        for (size_t i = 4096; i < 8192 && i < bytes.size(); ++i) {
            bytes[i] = static_cast<char>((i * 7919) >> 3);
        }
        return bytes;
    };
    const struct {
        const char* name;
        std::function<std::string()> make;
    } cases[] = {
        {"text", [] { return std::string("this is not a database, but a note of some length\n"); }},
        {"page 2 overwritten", pageTwoOverwritten},
        {"another program's tables", [&] { return withSql("CREATE TABLE notes(x);"); }},
        {"another layout", [&] { return withSql("PRAGMA user_version=7;"); }},
        {"another application", [&] { return withSql("PRAGMA application_id=1234;"); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string bytes = c.make();
        sys::testing::WriteHost(StatePath(), bytes);
        std::filesystem::remove(StatePath() + "-wal");
        std::filesystem::remove(StatePath() + "-shm");
        // A fresh process: no connection opened before the damage.
        EXPECT_EQ(sys::testing::RunInChild([] {
                      int64_t value = 0;
                      std::vector<LogEntry> log;
                      const bool any = Check() || GetInt("battery.percent", 87, value) ||
                                       SetInt("x", 1) || ReadLog(kToneLog, log) ||
                                       AppendLog(kToneLog, {1, 1, 1}) ||
                                       Transact([] { return true; });
                      const std::string text = StateErrorText();
                      return (any || sys::GetLastError() != sys::ERROR_FILE_CORRUPT ||
                              !text.starts_with("device state damaged: ") ||
                              text.find('\n') != std::string::npos)
                                 ? 1
                                 : 0;
                  }),
                  0);
        EXPECT_EQ(sys::testing::ReadHost(StatePath()), bytes);
    }
}

TEST_F(DeviceStateTest, AFullDiskFailsAWriteWithDiskFullAndKeepsTheOldValue) {
    const int result = sys::testing::RunOnSmallDisk(root_, 256 * 1024, [] {
        if (!SetInt("battery.percent", 57)) {
            return 2;
        }
        sys::testing::FillDisk(sys::DeviceRootDir());
        const bool written = SetInt("battery.percent", 30);
        const uint32_t error = sys::GetLastError();
        const std::string text = StateErrorText();
        int64_t value = 0;
        return !written && error == sys::ERROR_DISK_FULL &&
                       text.find("the disk is full (ERROR_DISK_FULL, 112)") != std::string::npos &&
                       GetInt("battery.percent", 0, value) && value == 57
                   ? 0
                   : 1;
    });
    if (result == sys::testing::kCannotMount) {
        GTEST_SKIP() << "mounting a small file system needs root";
    }
    EXPECT_EQ(result, 0);
}

TEST_F(DeviceStateTest, ThreadsWriteAndReadAtOnce) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 20; ++i) {
                int64_t ignored = 0;
                SetInt("t" + std::to_string(t), i);
                AppendLog(kToneLog, {i, t, 0});
                GetInt("t0", 0, ignored);
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    std::vector<LogEntry> tones;
    ASSERT_TRUE(ReadLog(kToneLog, tones));
    EXPECT_EQ(tones.size(), 160u);
    for (int t = 0; t < 8; ++t) {
        EXPECT_EQ(Int("t" + std::to_string(t), -1), 19);
    }
}

} // namespace
} // namespace hh::sim::state
