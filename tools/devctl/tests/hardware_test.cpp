// The hardware verbs through the real devctl binary on a temporary device root.

#include <platform/system/testing.h>
#include <simulator/state/device_state.h>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <string>
#include <vector>

extern char** environ;

namespace {

using hh::sys::testing::Captured;

Captured Devctl(const std::vector<std::string>& args) {
    return hh::sys::testing::RunProgram(DEVCTL_PATH, args);
}

class HardwareVerbsTest : public hh::sys::testing::DeviceRootTest {};

struct RoundTrip {
    std::vector<std::string> set;
    std::vector<std::string> get;
    std::string shown;
};

TEST_F(HardwareVerbsTest, EverySetterRoundTripsThroughItsGetter) {
    const RoundTrip cases[] = {
        {{"battery", "set", "42", "--ac"},
         {"battery"},
         "percent: 42\ncharging: no\nac: yes\nbattery: present\n"},
        {{"battery", "set", "--charging", "--no-ac", "--absent"},
         {"battery"},
         "percent: 42\ncharging: yes\nac: no\nbattery: absent\n"},
        {{"backlight", "level", "77"}, {"backlight"}, "level: 77\nscreen: on\n"},
        {{"backlight", "screen", "off"}, {"backlight"}, "level: 77\nscreen: off\n"},
        {{"bt", "on"}, {"bt"}, "on\n"},
        {{"bt", "off"}, {"bt"}, "off\n"},
        {{"usb", "client", "mass-storage"}, {"usb"}, "client: Mass_Storage_Class\nadapter: 0\n"},
        {{"usb", "adapter", "3"}, {"usb"}, "client: Mass_Storage_Class\nadapter: 3\n"},
        {{"card", "cid", "00112233445566778899AABBCCDDEEFF"},
         {"card"},
         "card: present\ncid: 00112233445566778899AABBCCDDEEFF\n"},
        {{"card", "remove"}, {"card"}, "card: removed\ncid: 00112233445566778899AABBCCDDEEFF\n"},
        {{"card", "insert"}, {"card"}, "card: present\ncid: 00112233445566778899AABBCCDDEEFF\n"},
        {{"accel", "-12", "3", "980"}, {"accel"}, "-12 3 980\n"},
        {{"baro", "altitude", "800"},
         {"baro"},
         "altitude: 800 m\npressure: 95460 (1/100 mb)\ntemperature: 245 (1/10 C)\n"},
        {{"baro", "temperature", "-63"},
         {"baro"},
         "altitude: 800 m\npressure: 95460 (1/100 mb)\ntemperature: -63 (1/10 C)\n"},
        {{"compass", "azimuth", "270"},
         {"compass"},
         "azimuth: 270\nnext: success\nrate: 50\ncalibration: none idle 0/0\n"},
        {{"compass", "next", "stuck"},
         {"compass"},
         "azimuth: 270\nnext: stuck\nrate: 50\ncalibration: none idle 0/0\n"},
        {{"compass", "rate", "200"},
         {"compass"},
         "azimuth: 270\nnext: stuck\nrate: 200\ncalibration: none idle 0/0\n"},
        {{"driver", "off", "ECD1:"}, {"call", "CCompass::Open"}, "Open: 0\n0\n"},
        {{"driver", "on", "ecd1"},
         {"call", "CCompass::GetDirection"},
         "Open: 1\n1\nazimuth: 270\n"},
        {{"uuid", "set", "01-02-03-04-05-06-07-08-09-0A-0B-0C-0D-0E-0F-10"},
         {"uuid"},
         "0102030405060708090A0B0C0D0E0F10\n"},
        {{"osinfo", "os", "A&B"}, {"call", "GetOSVersion"}, "1\nA\nB\n"},
        // A character beyond the first plane comes back whole from the library's UTF-16.
        {{"osinfo", "oem", "A\xF0\x9F\x98\x80"}, {"call", "GetOemInfo"}, "1\nA\xF0\x9F\x98\x80\n"},
        {{"power", "suspend"}, {"power", "state"}, "suspended\n"},
        {{"power", "wake"}, {"power", "state"}, "awake\n"},
    };
    for (const RoundTrip& c : cases) {
        SCOPED_TRACE(c.set[0] + " " + c.set[1]);
        Captured set = Devctl(c.set);
        EXPECT_EQ(set.exitCode, 0) << set.err;
        Captured get = Devctl(c.get);
        EXPECT_EQ(get.exitCode, 0) << get.err;
        EXPECT_EQ(get.out, c.shown);
    }
}

TEST_F(HardwareVerbsTest, ExportsCalledFromTheShellShowTheDrivers) {
    struct {
        std::vector<std::string> args;
        std::string out;
    } cases[] = {
        {{"battery", "set", "42", "--discharging"}, ""},
        {{"call", "GetBatteryStatus"}, "42\n"},
        {{"battery", "set", "--charging"}, ""},
        {{"call", "GetBatteryStatus"}, "-1\n"},
        {{"driver", "off", "bkl1"}, ""},
        {{"call", "GetBackLightLevel"}, "0\n"},
        {{"call", "ScreenOnOff", "1"}, "0\n"},
        {{"driver", "on", "bkl1"}, ""},
        {{"call", "SetBackLightLevel", "12"}, "1\n"},
        {{"call", "GetBackLightLevel"}, "12\n"},
        {{"call", "GetDeviceUUID", "15"}, "0\n"},
        {{"call", "SetUSBMode", "1"}, "1\n"},
        {{"call", "GetUSBMode"}, "1\n"},
        {{"call", "GSensorTst::GetPosition"}, "Open: 1\n1\n0 0 980\n"},
        {{"call", "SensorParamTst::SetCurPressure", "90000"}, "Open: 1\n1\n"},
        {{"call", "SensorParamTst::GetCurPressure"}, "Open: 1\n1\n90000\n"},
        {{"call", "GetCardID", "15"}, "0\n"},
        {{"call", "ShutDown"}, "0\n"},
    };
    for (const auto& c : cases) {
        Captured r = Devctl(c.args);
        EXPECT_EQ(r.exitCode, 0) << c.args[0] << " " << c.args[1] << ": " << r.err;
        if (c.args[0] == "call") {
            EXPECT_EQ(r.out, c.out) << c.args[1];
        }
    }
    EXPECT_EQ(Devctl({"power", "state"}).out, "suspended\n");
    EXPECT_NE(Devctl({"power", "requests"}).out.find("shutdown request 0x3 value 1"),
              std::string::npos);
}

TEST_F(HardwareVerbsTest, ABeepSequenceFromTheShellIsLoggedWithItsTimes) {
    Captured call = Devctl({"call", "BuzzerBeep", "5", "10", "100", "2", "20"});
    ASSERT_EQ(call.exitCode, 0) << call.err;
    Captured log = Devctl({"buzzer", "log"});
    ASSERT_EQ(log.exitCode, 0);
    // Four lines: tone, silence, tone, silence.
    EXPECT_EQ(std::count(log.out.begin(), log.out.end(), '\n'), 4) << log.out;
    EXPECT_NE(log.out.find("level 5 scale 10\n"), std::string::npos);
    EXPECT_NE(log.out.find("level 0 scale 0 (silence)\n"), std::string::npos);
}

TEST_F(HardwareVerbsTest, BadInputGetsOneLineAndANonZeroExit) {
    const std::vector<std::vector<std::string>> cases = {
        {"battery", "set", "101"},
        {"battery", "set", "--charging", "--discharging"},
        {"backlight", "level", "-1"},
        {"backlight", "screen", "dim"},
        {"bt", "maybe"},
        {"usb", "client", "modem"},
        {"card", "cid", "0011"},
        {"accel", "1", "2"},
        {"accel", "1", "2", "40000"},
        {"baro", "pressure", "x"},
        {"compass", "next", "later"},
        {"compass", "rate", "0"},
        {"driver", "off", "xyz1"},
        {"uuid", "set", "zz"},
        {"call", "NoSuchExport"},
        {"call", "BuzzerBeep", "1"},
        {"call", "Nobody::Open"},
        {"gps", "serve", "--replay", "/nonexistent.log"},
        {"gps", "serve", "--replay", "/tmp"},
        {"gps", "serve", "--replay", "/dev/zero"},
    };
    for (const auto& args : cases) {
        Captured r = Devctl(args);
        std::string what = args[0] + " " + args[1];
        EXPECT_NE(r.exitCode, 0) << what;
        EXPECT_TRUE(r.out.empty()) << what << ": " << r.out;
        ASSERT_FALSE(r.err.empty()) << what;
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << what << ": " << r.err;
    }
    for (const char* verb : {"battery", "backlight", "usb", "compass", "buzzer", "driver"}) {
        Captured help = Devctl({verb, "--help"});
        EXPECT_EQ(help.exitCode, 0) << verb;
        EXPECT_NE(help.out.find("Usage"), std::string::npos) << verb;
    }
}

TEST_F(HardwareVerbsTest, ADamagedStateDatabaseIsReportedInOneLine) {
    const std::string garbage(4096, 'x');
    hh::sys::testing::WriteHost(root_ / ".device" / "device.db", garbage);
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"battery"},
                                               {"battery", "set", "5"},
                                               {"buzzer", "log"},
                                               {"driver", "off", "bkl1"},
                                               {"call", "GetBatteryStatus"}}) {
        Captured r = Devctl(args);
        EXPECT_EQ(r.exitCode, 1) << args[0];
        EXPECT_NE(r.err.find("damaged"), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
    }
    EXPECT_EQ(hh::sys::testing::ReadHost(root_ / ".device" / "device.db"), garbage);
}

TEST_F(HardwareVerbsTest, GpsServePrintsAPseudoTerminalThatCarriesNmea) {
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addclose(&actions, out[1]);
    std::string path = DEVCTL_PATH;
    std::vector<char*> argv = {path.data(), const_cast<char*>("gps"), const_cast<char*>("serve"),
                               nullptr};
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    std::string line;
    char c = 0;
    pollfd p{out[0], POLLIN, 0};
    while (poll(&p, 1, 5000) > 0 && read(out[0], &c, 1) == 1 && c != '\n') {
        line += c;
    }
    ASSERT_EQ(line.rfind("/dev/pts/", 0), 0u) << line;
    int pty = open(line.c_str(), O_RDONLY | O_NOCTTY);
    ASSERT_GE(pty, 0);
    termios raw{};
    tcgetattr(pty, &raw);
    cfmakeraw(&raw);
    tcsetattr(pty, TCSANOW, &raw);
    std::string nmea;
    pollfd q{pty, POLLIN, 0};
    while (nmea.find("$GPRMC") == std::string::npos && poll(&q, 1, 3000) > 0) {
        char buffer[512];
        ssize_t n = read(pty, buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        nmea.append(buffer, static_cast<size_t>(n));
    }
    close(pty);
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    close(out[0]);
    EXPECT_NE(nmea.find("$GPGGA"), std::string::npos) << nmea;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

} // namespace
