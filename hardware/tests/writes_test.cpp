// Changes of the machine through the library: made only with
// HANDHELD_HARDWARE_WRITES=1, refused with ERROR_ACCESS_DENIED and one line
// on standard error otherwise, and refused by the machine without permission.

#include "testbed.h"

#include <devif/halvix.h>
#include <platform/protocol/device_protocol.h>
#include <platform/system/error.h>
#include <platform/system/stream_device.h>
#include <platform/system/testing.h>
#include <platform/system/thread.h>

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <hardware/conversions.h>
#include <hardware/linux_device.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

namespace hh::hw::testing {
namespace {

class LinuxWritesTest : public sys::testing::DeviceRootTest {
protected:
    void SetUp() override {
        DeviceRootTest::SetUp();
        testbed_.emplace(MachineKind::Handheld);
        RegisterLinuxDevice();
        ::setenv("HANDHELD_HARDWARE_WRITES", "1", 1);
    }
    void TearDown() override {
        ::unsetenv("HANDHELD_HARDWARE_WRITES");
        testbed_.reset();
        DeviceRootTest::TearDown();
    }
    std::optional<Testbed> testbed_;
};

TEST_F(LinuxWritesTest, TheBacklightTakesTheLevelAndGivesItBack) {
    ASSERT_EQ(SetBackLightLevel(80), 1);
    EXPECT_EQ(testbed_->read(kHandheldBrightness), "800");
    EXPECT_EQ(GetBackLightLevel(), 80u);
    EXPECT_EQ(ScreenOnOff(0), 1);
    EXPECT_EQ(testbed_->read(kHandheldScreen), "4");
    EXPECT_EQ(ScreenOnOff(1), 1);
    EXPECT_EQ(testbed_->read(kHandheldScreen), "0");
}

TEST_F(LinuxWritesTest, TheRadioIsSwitchedAndGetBTPowerFollowsIt) {
    ASSERT_EQ(SetBTPower(1), 1);
    EXPECT_EQ(testbed_->read(kHandheldRadio), "0");
    EXPECT_EQ(GetBTPower(), 1u);
    ASSERT_EQ(SetBTPower(0), 1);
    EXPECT_EQ(testbed_->read(kHandheldRadio), "1");
    EXPECT_EQ(GetBTPower(), 0u);
    // A radio switched elsewhere is found at the next program start.
    testbed_->write(kHandheldRadio, "0");
    RegisterLinuxDevice();
    EXPECT_EQ(GetBTPower(), 1u);
}

TEST_F(LinuxWritesTest, TheGadgetIsRelinkedWhileUnboundAndBoundAgain) {
    const std::string udc = std::string(kHandheldGadget) + "/UDC";
    EXPECT_EQ(GetUSBMode(), 0);
    ASSERT_EQ(SetUSBMode(1), 1);
    EXPECT_EQ(testbed_->linkedFunctions(), std::vector<std::string>{"mass_storage.usb0"});
    EXPECT_EQ(testbed_->read(udc), "musb-hdrc.0");
    EXPECT_EQ(GetUSBMode(), 1);
    ASSERT_EQ(SetUSBMode(0), 1);
    EXPECT_EQ(testbed_->linkedFunctions(), std::vector<std::string>{"acm.usb0"});
    EXPECT_EQ(GetUSBMode(), 0);
    // An unbound gadget stays unbound.
    testbed_->write(udc, "");
    ASSERT_EQ(SetUSBMode(1), 1);
    EXPECT_EQ(testbed_->read(udc), "");
    EXPECT_EQ(testbed_->linkedFunctions(), std::vector<std::string>{"mass_storage.usb0"});
}

TEST_F(LinuxWritesTest, TheBuzzerPlaysTheScaleAndStops) {
    SpeakerBeepInternal(5, 12);
    SpeakerBeepInternal(0, 0);
    EXPECT_EQ(testbed_->tones(), (std::vector<int>{ToneFrequency(12), 0}));
    EXPECT_EQ(ToneFrequency(12), 523);
    // Two beeps without pauses: the library's thread sounds and silences each.
    BuzzerBeep(3, 0, 0, 2, 0);
    ASSERT_EQ(sys::WaitForOtherThreads(10000), sys::WAIT_OBJECT_0);
    EXPECT_EQ(testbed_->tones(), (std::vector<int>{262, 0, 262, 0}));
}

// Runs body with standard error going to a file; returns what was written there.
std::string StderrOf(const std::function<void()>& body) {
    char path[] = "/tmp/hh-stderr-XXXXXX";
    const int file = ::mkstemp(path);
    const int saved = ::dup(STDERR_FILENO);
    std::fflush(stderr);
    ::dup2(file, STDERR_FILENO);
    body();
    std::fflush(stderr);
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    ::close(file);
    std::string text = sys::testing::ReadHost(path);
    ::unlink(path);
    return text;
}

TEST_F(LinuxWritesTest, WithoutTheOptInNothingChangesAndOneLineSaysHowToAllowIt) {
    ::unsetenv("HANDHELD_HARDWARE_WRITES");
    sys::testing::Captured child = sys::testing::CaptureInChild([&] {
        const std::string said = StderrOf([] {
            SetBackLightLevel(80);
            ScreenOnOff(0);
            SetBTPower(1);
            SetUSBMode(1);
            SpeakerBeepInternal(5, 12);
            SpeakerBeepInternal(0, 0);
        });
        std::printf("%s", said.c_str());
        return 0;
    });
    EXPECT_EQ(child.out, "the backlight level was left as it is: the device library changes "
                         "this machine's hardware only with HANDHELD_HARDWARE_WRITES=1\n");
    EXPECT_EQ(testbed_->read(kHandheldBrightness), "370");
    EXPECT_EQ(testbed_->read(kHandheldScreen), "0");
    EXPECT_EQ(testbed_->read(kHandheldRadio), "1");
    EXPECT_EQ(testbed_->linkedFunctions(), std::vector<std::string>{"acm.usb0"});
    // Silence needs no permission: it can only end a tone.
    EXPECT_EQ(testbed_->tones(), std::vector<int>{0});
    for (const char* value : {"0", "yes", "true", ""}) {
        ::setenv("HANDHELD_HARDWARE_WRITES", value, 1);
        SetBackLightLevel(80);
        EXPECT_EQ(testbed_->read(kHandheldBrightness), "370") << value;
    }
}

// Body in a child without the privilege to write the backlight: as nobody
// when the tests run as root (whom file modes do not stop), else with the
// attribute made read-only.
int WithoutWritePermission(Testbed& testbed, const std::function<int()>& body) {
    std::filesystem::permissions(testbed.host("/"), std::filesystem::perms::owner_all |
                                                        std::filesystem::perms::group_read |
                                                        std::filesystem::perms::group_exec |
                                                        std::filesystem::perms::others_read |
                                                        std::filesystem::perms::others_exec);
    std::filesystem::permissions(std::filesystem::canonical(testbed.host(kHandheldBrightness)),
                                 std::filesystem::perms::owner_read |
                                     std::filesystem::perms::group_read |
                                     std::filesystem::perms::others_read);
    return sys::testing::RunInChild([&] {
        if (::geteuid() == 0 &&
            (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)) {
            return 90;
        }
        return body();
    });
}

TEST_F(LinuxWritesTest, AWriteTheMachineRefusesIsAccessDenied) {
    const int result = WithoutWritePermission(*testbed_, [] {
        auto device =
            sys::OpenStreamDevice(protocol::kBacklightDevice,
                                  sys::GENERIC_READ | sys::GENERIC_WRITE, 3, sys::OPEN_ALWAYS, 0);
        if (!device) {
            return 91;
        }
        uint32_t level = 80;
        uint32_t got = 0;
        if (device->ioControl(protocol::IOCTL_BKL_SET_LEVEL, std::as_bytes(std::span(&level, 1)),
                              {}, nullptr)) {
            return 92;
        }
        if (sys::GetLastError() != sys::ERROR_ACCESS_DENIED) {
            return 93;
        }
        // Reading needs no permission of its own.
        return device->ioControl(protocol::IOCTL_BKL_GET_LEVEL, {},
                                 std::as_writable_bytes(std::span(&got, 1)), nullptr) &&
                       got == 37
                   ? 0
                   : 94;
    });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(testbed_->read(kHandheldBrightness), "370");
}

} // namespace
} // namespace hh::hw::testing
