// Restart, power-off and suspend through the login manager: python-dbusmock's
// logind on a system bus of the test's own (a private dbus-daemon), never
// the machine's.

#include "../src/logind.h"

#include <devif/halvix.h>
#include <platform/protocol/device_protocol.h>
#include <platform/system/error.h>
#include <platform/system/recover_flag.h>
#include <platform/system/stream_device.h>
#include <platform/system/testing.h>

#include <gtest/gtest.h>
#include <hardware/linux_device.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace hh::hw::testing {
namespace {

using sys::testing::ReadHost;
using sys::testing::WaitUntil;

// A private system bus with a mock login manager on it, for the whole suite.
class LoginManagerTest : public sys::testing::DeviceRootTest {
protected:
    static void SetUpTestSuite() {
        // Nothing of this program may reach the machine's own bus.
        ::setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/system_bus_socket", 1);
        char folder[] = "/tmp/hh-logind-XXXXXX";
        if (!::mkdtemp(folder)) {
            return;
        }
        s_folder = folder;
        const std::filesystem::path socket = s_folder / "system_bus_socket";
        std::ofstream(s_folder / "bus.conf")
            << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration "
               "1.0//EN\" \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
               "<busconfig><type>system</type><listen>unix:path="
            << socket.string()
            << "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
               "<allow send_destination=\"*\"/><allow receive_sender=\"*\"/>"
               "<allow own=\"*\"/></policy></busconfig>\n";
        s_log = s_folder / "logind.log";
        s_address = "unix:path=" + socket.string();
        s_bus = Spawn({"dbus-daemon", "--config-file=" + (s_folder / "bus.conf").string(),
                       "--nofork", "--nopidfile"});
        WaitUntil([&] { return std::filesystem::exists(socket); });
        ::setenv("DBUS_SYSTEM_BUS_ADDRESS", s_address.c_str(), 1);
        s_mock = Spawn(
            {"/usr/bin/python3", "-m", "dbusmock", "--template", "logind", "-l", s_log.string()});
        WaitUntil([] { return LoginManagerOwner().has_value(); }, std::chrono::seconds(30));
    }

    static void TearDownTestSuite() {
        for (pid_t pid : {s_mock, s_bus}) {
            if (pid > 0) {
                ::kill(pid, SIGTERM);
                ::waitpid(pid, nullptr, 0);
            }
        }
        std::error_code ec;
        std::filesystem::remove_all(s_folder, ec);
    }

    void SetUp() override {
        DeviceRootTest::SetUp();
        ASSERT_TRUE(LoginManagerOwner().has_value()) << "the mock login manager did not start";
        ::setenv("DBUS_SYSTEM_BUS_ADDRESS", s_address.c_str(), 1);
        ::setenv("HANDHELD_HARDWARE_WRITES", "1", 1);
        RegisterLinuxDevice();
        ReplaceReboot("");
    }

    void TearDown() override {
        ::unsetenv("HANDHELD_HARDWARE_WRITES");
        ::setenv("DBUS_SYSTEM_BUS_ADDRESS", s_address.c_str(), 1);
        DeviceRootTest::TearDown();
    }

    // Starts a program that ends with this one, even when a test aborts.
    static pid_t Spawn(std::vector<std::string> words) {
        std::vector<char*> argv;
        for (std::string& word : words) {
            argv.push_back(word.data());
        }
        argv.push_back(nullptr);
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            ::execvp(argv[0], argv.data());
            ::_exit(127);
        }
        return pid > 0 ? pid : 0;
    }

    // The calls the mock has seen since the suite began, without their times.
    static std::vector<std::string> Calls() {
        std::vector<std::string> calls;
        std::istringstream log(ReadHost(s_log));
        for (std::string line; std::getline(log, line);) {
            calls.push_back(line.substr(line.find(' ') + 1));
        }
        return calls;
    }

    // Gives the mock's Reboot a body of Python ("" answers at once).
    static void ReplaceReboot(const std::string& body) {
        sd_bus* bus = nullptr;
        ASSERT_GE(sd_bus_open_system(&bus), 0);
        sd_bus_error error = SD_BUS_ERROR_NULL;
        const int result =
            sd_bus_call_method(bus, "org.freedesktop.login1", "/org/freedesktop/login1",
                               "org.freedesktop.DBus.Mock", "AddMethod", &error, nullptr, "sssss",
                               "org.freedesktop.login1.Manager", "Reboot", "b", "", body.c_str());
        EXPECT_GE(result, 0) << (error.message ? error.message : "");
        sd_bus_error_free(&error);
        sd_bus_flush_close_unref(bus);
    }

    static uint32_t RecoverFlag() { return sys::ReadStoredRecoverFlag().value_or(0xDEAD); }

    static inline std::filesystem::path s_folder;
    static inline std::filesystem::path s_log;
    static inline std::string s_address;
    static inline pid_t s_bus = 0;
    static inline pid_t s_mock = 0;
};

TEST_F(LoginManagerTest, RestartSuspendAndPowerOffAreAskedWithoutInteraction) {
    const std::size_t before = Calls().size();
    EXPECT_EQ(Reboot(), 1);
    EXPECT_EQ(ShutDown(), 0);
    EXPECT_EQ(sys::SetSystemPowerState(nullptr, sys::POWER_STATE_OFF, 0), sys::ERROR_SUCCESS);
    std::vector<std::string> calls = Calls();
    calls.erase(calls.begin(), calls.begin() + static_cast<std::ptrdiff_t>(before));
    EXPECT_EQ(calls, (std::vector<std::string>{"Reboot False", "Suspend False", "PowerOff False"}));
}

TEST_F(LoginManagerTest, WithoutTheOptInTheLoginManagerIsNotAsked) {
    ::unsetenv("HANDHELD_HARDWARE_WRITES");
    const std::size_t before = Calls().size();
    EXPECT_EQ(Reboot(), 0);
    EXPECT_EQ(ShutDown(), static_cast<int>(sys::ERROR_ACCESS_DENIED));
    EXPECT_EQ(sys::SetSystemPowerState(nullptr, sys::POWER_STATE_OFF, 0), sys::ERROR_ACCESS_DENIED);
    EXPECT_EQ(Calls().size(), before);
}

TEST_F(LoginManagerTest, TheRestartTurnsAPendingRecoveryAndARefusedOneLeavesIt) {
    ASSERT_TRUE(sys::StoreRecoverFlag(protocol::kRecoverRequested));
    ReplaceReboot("raise dbus.exceptions.DBusException('refused', "
                  "name='org.freedesktop.DBus.Error.AccessDenied')");
    EXPECT_FALSE(sys::KernelIoControl(protocol::IOCTL_HAL_REBOOT, {}, {}, nullptr));
    EXPECT_EQ(sys::GetLastError(), sys::ERROR_ACCESS_DENIED);
    EXPECT_EQ(RecoverFlag(), protocol::kRecoverRequested);

    ReplaceReboot("");
    EXPECT_TRUE(sys::KernelIoControl(protocol::IOCTL_HAL_REBOOT, {}, {}, nullptr));
    EXPECT_EQ(RecoverFlag(), protocol::kRecoverPending);
}

TEST_F(LoginManagerTest, AMachineWithoutALoginManagerHasNoPowerService) {
    ASSERT_TRUE(sys::StoreRecoverFlag(protocol::kRecoverRequested));
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/system_bus_socket", 1);
    EXPECT_EQ(sys::SetSystemPowerState(nullptr, sys::POWER_STATE_SUSPEND, 0),
              sys::ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(sys::KernelIoControl(protocol::IOCTL_HAL_REBOOT, {}, {}, nullptr));
    EXPECT_EQ(sys::GetLastError(), sys::ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RecoverFlag(), protocol::kRecoverRequested);
}

} // namespace
} // namespace hh::hw::testing
