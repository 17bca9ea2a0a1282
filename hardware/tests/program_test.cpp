// The programs on the Linux backend, as a technician runs them: devctl call
// and devctl probe on a handheld, V5520Demo on a machine without any of the
// hardware, and a backend name that is none.

#include "testbed.h"

#include <platform/system/testing.h>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdlib>
#include <sstream>

namespace hh::hw::testing {
namespace {

using sys::testing::Captured;
using sys::testing::RunProgram;

class LinuxProgramTest : public sys::testing::DeviceRootTest {
protected:
    explicit LinuxProgramTest(sys::testing::RootLayout layout = sys::testing::RootLayout::Volumes)
        : DeviceRootTest(layout) {}
    void SetUp() override {
        DeviceRootTest::SetUp();
        ::setenv("HANDHELD_DEVICE", "linux", 1);
    }
    void TearDown() override {
        ::unsetenv("HANDHELD_DEVICE");
        ::unsetenv("HANDHELD_HARDWARE_WRITES");
        DeviceRootTest::TearDown();
    }
    static Captured Call(const std::vector<std::string>& args) {
        std::vector<std::string> words{"call"};
        words.insert(words.end(), args.begin(), args.end());
        return RunProgram(DEVCTL_PATH, words);
    }
};

// A machine where nothing of the suite ran yet: devctl call makes the device
// root as a program's first start does.
class LinuxProgramOnANewMachineTest : public LinuxProgramTest {
protected:
    LinuxProgramOnANewMachineTest() : LinuxProgramTest(sys::testing::RootLayout::Empty) {}
};

TEST_F(LinuxProgramOnANewMachineTest, DevctlCallsEveryExportOnTheHandheldsHardware) {
    Testbed handheld(MachineKind::Handheld);
    const std::pair<std::vector<std::string>, std::string> calls[] = {
        {{"GetBatteryStatus"}, "57\n"},
        {{"IsPowerAC"}, "0\n"},
        {{"GetUSBAdaptStus"}, "1\n"},
        {{"GetBackLightLevel"}, "37\n"},
        {{"GSensorTst::GetPosition"}, "Open: 1\n1\n0 -12 980\n"},
        {{"GetCardID", "32"}, "GetCID Error:0\r\n1\n035344534430324780A1B2C3D40105C1\n"},
        {{"CCompass::GetDirection"}, "Open: 1\n1\nazimuth: 45\n"},
        {{"SensorParamTst::GetCurPressure"}, "Open: 1\n1\n95460\n"},
    };
    for (const auto& [args, out] : calls) {
        Captured call = Call(args);
        EXPECT_EQ(call.exitCode, 0) << args[0] << ": " << call.err;
        EXPECT_EQ(call.out, out) << args[0];
    }

    Captured refused = Call({"SetBackLightLevel", "80"});
    EXPECT_EQ(refused.out, "1\n");
    EXPECT_EQ(refused.err, "the backlight level was left as it is: the device library changes "
                           "this machine's hardware only with HANDHELD_HARDWARE_WRITES=1\n");
    EXPECT_EQ(handheld.read(kHandheldBrightness), "370");
    ::setenv("HANDHELD_HARDWARE_WRITES", "1", 1);
    Captured allowed = Call({"SetBackLightLevel", "80"});
    EXPECT_EQ(allowed.out, "1\n");
    EXPECT_EQ(allowed.err, "");
    EXPECT_EQ(handheld.read(kHandheldBrightness), "800");
    EXPECT_EQ(Call({"GetBackLightLevel"}).out, "80\n");
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

TEST_F(LinuxProgramTest, ProbeNamesEverySourceOfTheHandheld) {
    Testbed handheld(MachineKind::Handheld);
    Captured probe = RunProgram(DEVCTL_PATH, {"probe"});
    ASSERT_EQ(probe.exitCode, 0) << probe.err;
    std::vector<std::string> lines = Lines(probe.out);
    ASSERT_EQ(lines.size(), 17u) << probe.out;
    // The operating system's line is the host's own.
    EXPECT_EQ(lines[14].rfind("os: ", 0), 0u);
    lines.erase(lines.begin() + 14);
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "backlight: /sys/class/backlight/backlight (max 1000)",
                         "buzzer: /dev/input/event3 (pwm-beeper)",
                         "battery: /sys/class/power_supply/battery (57 %, Discharging)",
                         "mains: /sys/class/power_supply/ac (offline)",
                         "usb supply: /sys/class/power_supply/usb (online)",
                         "storage card: /sys/bus/mmc/devices/mmc0:aaaa (SD, cid "
                         "035344534430324780a1b2c3d40105c1)",
                         "usb function: /sys/kernel/config/usb_gadget/g1 (configfs gadget)",
                         "bluetooth: /sys/class/rfkill/rfkill0 (off)",
                         "compass: /sys/bus/iio/devices/iio:device1 (ak8975, heading from "
                         "in_magn_x and in_magn_y, no calibration)",
                         "g-sensor: /sys/bus/iio/devices/iio:device0 (lis3dh)",
                         "barometer: /sys/bus/iio/devices/iio:device2 (bmp280)",
                         "identifier: /etc/machine-id (hashed with the application's key)",
                         "oem: Vekta V5520 handheld (/sys/firmware/devicetree/base/model)",
                         "platform: Vekta V5520 handheld (/sys/firmware/devicetree/base/model)",
                         "power: none (no login manager on the system bus)",
                         "hardware changes: refused (HANDHELD_HARDWARE_WRITES=1 allows them)",
                     }));
}

TEST_F(LinuxProgramTest, ProbeSaysNoneForHardwareTheMachineLacks) {
    Testbed bare(MachineKind::Bare);
    Captured probe = RunProgram(DEVCTL_PATH, {"probe"});
    ASSERT_EQ(probe.exitCode, 0) << probe.err;
    for (const char* line :
         {"backlight: none", "buzzer: none", "battery: none", "mains: none", "usb supply: none",
          "storage card: none", "usb function: none", "bluetooth: none", "compass: none",
          "g-sensor: none", "barometer: none", "oem: none", "platform: none"}) {
        EXPECT_NE(probe.out.find(std::string(line) + "\n"), std::string::npos) << line;
    }
}

// Starts a program with its standard output and error in files.
pid_t StartWithOutputIn(const std::string& path, const std::filesystem::path& out,
                        const std::filesystem::path& err) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
    pid_t pid = 0;
    const int rc = ::posix_spawn(&pid, path.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : 0;
}

TEST_F(LinuxProgramTest, V5520DemoRunsOnAMachineWithoutTheHardware) {
    Testbed bare(MachineKind::Bare);
    sys::testing::RuntimeDir runtime(base_ / "runtime");
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::setenv("HANDHELD_SCREEN", "480x272", 1);
    const std::filesystem::path out = base_ / "out.txt";
    const std::filesystem::path err = base_ / "err.txt";
    const pid_t demo = StartWithOutputIn(V5520DEMO_PATH, out, err);
    ASSERT_NE(demo, 0);
    // The information page asks for the card when the program starts; the
    // machine has none.
    const bool shown = sys::testing::WaitUntil(
        [&] {
            return sys::testing::ReadHost(out).find("GetCID Error:21\r\n") != std::string::npos;
        },
        std::chrono::seconds(60));
    ::kill(demo, SIGTERM);
    int status = 0;
    ::waitpid(demo, &status, 0);
    EXPECT_TRUE(shown) << sys::testing::ReadHost(out) << sys::testing::ReadHost(err);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM)
        << "it ended before it was told to: " << sys::testing::ReadHost(err);
    const std::string said = sys::testing::ReadHost(err);
    EXPECT_EQ(said.find("Sanitizer"), std::string::npos) << said;
    EXPECT_EQ(said.find("runtime error"), std::string::npos) << said;
}

TEST_F(LinuxProgramTest, ABackendNameThatIsNoneIsOneLineAndExitCode1) {
    ::setenv("HANDHELD_DEVICE", "hardware", 1);
    const std::string why =
        "HANDHELD_DEVICE is \"hardware\", which names no device backend (simulated or linux)\n";
    Captured call = Call({"GetBatteryStatus"});
    EXPECT_EQ(call.exitCode, 1);
    EXPECT_EQ(call.err, "devctl: " + why);
    EXPECT_EQ(call.out, "");
    Captured demo = RunProgram(V5520DEMO_PATH);
    EXPECT_EQ(demo.exitCode, 1);
    EXPECT_EQ(demo.err, "V5520Demo: " + why);
}

} // namespace
} // namespace hh::hw::testing
