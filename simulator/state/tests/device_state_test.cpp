// The device state store on a temporary device root.

#include <platform/system/error.h>
#include <platform/system/testing.h>
#include <simulator/state/device_state.h>

#include <gtest/gtest.h>

#include <thread>

namespace hh::sim::state {
namespace {

using sys::testing::DeviceRootTest;

class DeviceStateTest : public DeviceRootTest {};

TEST_F(DeviceStateTest, MissingValuesReadAsTheirDefaultsAndSetsRoundTrip) {
    int64_t value = 0;
    EXPECT_TRUE(GetInt("bkl.level", 7, value));
    EXPECT_EQ(value, 7);
    std::string text;
    EXPECT_TRUE(GetText("usb.client", "Serial_Class", text));
    EXPECT_EQ(text, "Serial_Class");

    EXPECT_TRUE(SetInt("bkl.level", -42));
    EXPECT_TRUE(SetText("usb.client", "Mass_Storage_Class"));
    EXPECT_TRUE(SetInts({{"a", 1}, {"b", 2}}));
    EXPECT_EQ(IntOr("bkl.level", 0), -42);
    EXPECT_EQ(TextOr("usb.client", ""), "Mass_Storage_Class");
    EXPECT_EQ(IntOr("a", 0) + IntOr("b", 0), 3);
    // A text is not an integer and the other way round: the default comes back.
    EXPECT_EQ(IntOr("usb.client", 5), 5);
    EXPECT_EQ(TextOr("bkl.level", "x"), "x");
}

TEST_F(DeviceStateTest, OtherProcessesSeeTheSameState) {
    ASSERT_TRUE(SetInt("battery.percent", 42));
    EXPECT_EQ(sys::testing::RunInChild([] {
                  int v = static_cast<int>(IntOr("battery.percent", 0));
                  SetInt("battery.percent", v + 1);
                  return v;
              }),
              42);
    EXPECT_EQ(IntOr("battery.percent", 0), 43);
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

TEST_F(DeviceStateTest, ADamagedDatabaseIsReportedAndLeftAsItIs) {
    const std::string garbage = "this is not a database, but it is long enough to look like one...";
    sys::testing::WriteHost(StatePath(), garbage);
    // A fresh process: no connection opened before the damage.
    EXPECT_EQ(sys::testing::RunInChild([] {
                  int64_t value = 0;
                  bool read = GetInt("x", 3, value);
                  bool written = SetInt("x", 1);
                  std::vector<LogEntry> log;
                  bool logged = ReadLog(kToneLog, log);
                  return (read || written || logged || value != 3 ||
                          sys::GetLastError() != sys::ERROR_INVALID_DATA ||
                          StateErrorText().find("damaged") == std::string::npos)
                             ? 1
                             : 0;
              }),
              0);
    EXPECT_EQ(sys::testing::ReadHost(StatePath()), garbage);
}

TEST_F(DeviceStateTest, ThreadsWriteAndReadAtOnce) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 20; ++i) {
                SetInt("t" + std::to_string(t), i);
                AppendLog(kToneLog, {i, t, 0});
                IntOr("t0", 0);
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
        EXPECT_EQ(IntOr("t" + std::to_string(t), -1), 19);
    }
}

} // namespace
} // namespace hh::sim::state
