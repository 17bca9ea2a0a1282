// The device's stored state through the real devctl binary and programs:
// setters of several processes at once, a damaged store, a full disk.

#include <platform/system/testing.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

namespace {

namespace testing = hh::sys::testing;
using testing::Captured;

Captured Devctl(const std::vector<std::string>& args) {
    return testing::RunProgram(DEVCTL_PATH, args);
}

// Starts every command at once and waits for all of them.
std::vector<Captured> AtOnce(const std::vector<std::vector<std::string>>& commands) {
    std::vector<testing::Program> started;
    for (const auto& args : commands) {
        started.push_back(testing::Program::Start(DEVCTL_PATH, args));
    }
    std::vector<Captured> results;
    for (auto& program : started) {
        results.push_back(program.finish());
    }
    return results;
}

// One line on standard error, and nothing else said.
bool OneLine(const Captured& r) {
    return !r.err.empty() && r.err.find('\n') == r.err.size() - 1;
}

class StateTest : public testing::DeviceRootTest {
protected:
    std::filesystem::path store() const { return root_ / ".device" / "device.db"; }
};

TEST_F(StateTest, SettersOfSeveralProcessesAtOnceKeepEveryChange) {
    const struct {
        std::vector<std::string> reset;
        std::vector<std::vector<std::string>> changes;
        std::vector<std::string> show;
        std::string shown;
    } cases[] = {
        {{"battery", "set", "50", "--discharging", "--no-ac", "--present"},
         {{"battery", "set", "--charging"},
          {"battery", "set", "--ac"},
          {"battery", "set", "--absent"},
          {"battery", "set", "77"}},
         {"battery"},
         "percent: 77\ncharging: yes\nac: yes\nbattery: absent\n"},
        {{"baro", "altitude", "1"},
         {{"baro", "altitude", "5"}, {"baro", "pressure", "6"}, {"baro", "temperature", "7"}},
         {"baro"},
         "altitude: 5 m\npressure: 6 (1/100 mb)\ntemperature: 7 (1/10 C)\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.show[0]);
        ASSERT_EQ(Devctl({"baro", "pressure", "1"}).exitCode, 0);
        ASSERT_EQ(Devctl({"baro", "temperature", "1"}).exitCode, 0);
        for (int round = 0; round < 8; ++round) {
            ASSERT_EQ(Devctl(c.reset).exitCode, 0);
            for (const Captured& r : AtOnce(c.changes)) {
                EXPECT_EQ(r.exitCode, 0) << r.err;
            }
            EXPECT_EQ(Devctl(c.show).out, c.shown) << "round " << round;
        }
    }
}

// A store damaged on one page: every verb and every program that reads or
// writes the device's state says so in one line and ends with 1; none shows
// the defaults, and the file stays as it was for inspection.
TEST_F(StateTest, ADamagedStoreIsReportedByEveryReaderWriterAndProgram) {
    ASSERT_EQ(Devctl({"battery", "set", "57"}).exitCode, 0);
    ASSERT_EQ(Devctl({"backlight", "level", "30"}).exitCode, 0);
    std::string bytes = testing::ReadHost(store());
    ASSERT_GE(bytes.size(), 8192u);
    for (size_t i = 4096; i < 8192; ++i) {
        bytes[i] = static_cast<char>((i * 2654435761u) >> 24);
    }
    testing::WriteHost(store(), bytes);
    // The page's copy in the log would stand in for it.
    std::filesystem::remove(store().string() + "-wal");
    std::filesystem::remove(store().string() + "-shm");

    const std::vector<std::vector<std::string>> verbs = {
        {"battery"},
        {"battery", "set", "40"},
        {"backlight"},
        {"backlight", "level", "9"},
        {"baro"},
        {"accel"},
        {"compass"},
        {"usb"},
        {"card"},
        {"uuid"},
        {"osinfo"},
        {"driver"},
        {"driver", "off", "bkl1"},
        {"power", "state"},
        {"power", "requests"},
        {"buzzer", "log"},
        {"call", "GetBackLightLevel"},
        {"call", "GetBatteryStatus"},
    };
    for (const auto& args : verbs) {
        SCOPED_TRACE(args[0] + (args.size() > 1 ? " " + args[1] : ""));
        const Captured r = Devctl(args);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_TRUE(r.err.starts_with("devctl: device state damaged: ")) << r.err;
        EXPECT_TRUE(OneLine(r)) << r.err;
    }
    for (const auto& [program, path] :
         {std::pair{"VARDI", VARDI_PATH}, std::pair{"Restel", RESTEL_PATH},
          std::pair{"V5520Demo", V5520DEMO_PATH}}) {
        SCOPED_TRACE(program);
        const Captured r = testing::RunProgram(path);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_TRUE(r.err.starts_with(std::string(program) + ": device state damaged: ")) << r.err;
        EXPECT_TRUE(OneLine(r)) << r.err;
    }
    EXPECT_EQ(testing::ReadHost(store()), bytes);
}

// Every write on a full disk names it in one line and changes nothing; a
// restart happens wholly or not at all.
TEST_F(StateTest, EveryWriteOnAFullDiskNamesItAndChangesNothing) {
    const int result = testing::RunOnSmallDisk(root_, 512 * 1024, [this] {
        const std::vector<std::vector<std::string>> setUp = {
            {"reg", "set", "HKLM\\init\\App", "startup_cnt", "1"},
            {"battery", "set", "50"},
            {"restart"},
            {"power", "flag", "100"},
        };
        for (const auto& args : setUp) {
            if (Devctl(args).exitCode != 0) {
                return 2;
            }
        }
        const std::string boot = testing::ReadHost(root_ / ".device" / "boot");
        testing::FillDisk(root_);
        const std::vector<std::vector<std::string>> writes = {
            {"reg", "set", "HKLM\\init\\App", "startup_cnt", "2"},
            {"reg", "set", "HKCU\\ControlPanel\\BackLight", "Name", "--string",
             std::string(8000, 'n')},
            {"battery", "set", "30"},
            {"baro", "altitude", "9"},
            {"uuid", "set", "00112233445566778899AABBCCDDEEFF"},
            {"osinfo", "oem", std::string(100, 'o')},
            {"power", "flag", "7"},
            {"restart"},
        };
        int failures = 0;
        for (const auto& args : writes) {
            const Captured r = Devctl(args);
            if (r.exitCode != 1 || !OneLine(r) ||
                r.err.find("the disk is full (ERROR_DISK_FULL, 112)") == std::string::npos) {
                std::fprintf(stderr, "%s: exit %d, %s", args[0].c_str(), r.exitCode, r.err.c_str());
                ++failures;
            }
        }
        const bool unchanged =
            Devctl({"reg", "get", "HKLM\\init\\App", "startup_cnt"}).out == "1\n" &&
            Devctl({"battery"}).out.starts_with("percent: 50\n") &&
            Devctl({"power", "flag"}).out == "100\n" &&
            testing::ReadHost(root_ / ".device" / "boot") == boot;
        return failures == 0 && unchanged ? 0 : 1;
    });
    if (result == testing::kCannotMount) {
        GTEST_SKIP() << "mounting a small file system needs root";
    }
    EXPECT_EQ(result, 0);
}

} // namespace
