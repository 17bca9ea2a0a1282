#include <platform/system/clock.h>
#include <platform/system/device_root.h>
#include <platform/system/error.h>
#include <platform/system/testing.h>
#include <simulator/power/power_driver.h>

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace hh::sim {
namespace {

class PowerTest : public sys::testing::DeviceRootTest {
protected:
    PowerTest() : DeviceRootTest(sys::testing::RootLayout::Empty) {}
    void SetUp() override {
        DeviceRootTest::SetUp();
        RegisterSimulatedPower([this] { ++m_programEnds; });
    }
    void TearDown() override {
        sys::UnregisterStreamDriver("PWR");
        sys::RegisterKernelServices(nullptr);
        DeviceRootTest::TearDown();
    }

    static std::unique_ptr<sys::StreamDevice> OpenPower() {
        return sys::OpenStreamDevice(u"PWR1:", 0xC0000000u, 3, sys::OPEN_ALWAYS, 0);
    }
    static bool Write(uint32_t value) {
        auto device = OpenPower();
        return device && device->ioControl(IOCTL_POWER_WRITE_RECOVER_FLAG,
                                           std::as_bytes(std::span(&value, 1)), {}, nullptr);
    }
    static uint32_t Read() {
        auto device = OpenPower();
        uint32_t value = 0xDEAD;
        uint32_t returned = 0;
        EXPECT_TRUE(device &&
                    device->ioControl(IOCTL_POWER_READ_RECOVER_FLAG, {},
                                      std::as_writable_bytes(std::span(&value, 1)), &returned));
        EXPECT_EQ(returned, 4u);
        return value;
    }
    static bool Restart() { return sys::KernelIoControl(IOCTL_HAL_REBOOT, {}, {}, nullptr); }

    int m_programEnds = 0;
};

TEST_F(PowerTest, FlagReadsZeroUntilStored) {
    EXPECT_EQ(Read(), 0u);
}

TEST_F(PowerTest, RestartTurnsOnlyARequestIntoPending) {
    struct Case {
        uint32_t stored;
        uint32_t afterRestart;
    };
    for (Case c : {Case{100, 101}, Case{101, 101}, Case{0, 0}, Case{99, 99}, Case{7, 7}}) {
        ASSERT_TRUE(Write(c.stored));
        EXPECT_TRUE(Restart());
        EXPECT_EQ(Read(), c.afterRestart) << "stored " << c.stored;
    }
    EXPECT_EQ(m_programEnds, 5);
}

TEST_F(PowerTest, RestartStartsTheTickCountAgain) {
    sys::TestClock clock;
    clock.advance(sys::Millis(5000));
    EXPECT_EQ(sys::GetTickCount(), 5000u);
    ASSERT_TRUE(Restart());
    EXPECT_EQ(sys::GetTickCount(), 0u);
    clock.advance(sys::Millis(20));
    EXPECT_EQ(sys::GetTickCount(), 20u);
}

TEST_F(PowerTest, FlagIsKeptInTheDeviceStateFolder) {
    ASSERT_TRUE(Write(100));
    std::ifstream in(sys::DeviceStateDir() / "recover_flag");
    std::string text;
    std::getline(in, text);
    EXPECT_EQ(text, "100");
    int entries = 0;
    for (const auto& entry : std::filesystem::directory_iterator(sys::DeviceStateDir())) {
        EXPECT_EQ(entry.path().filename().string().rfind(".recover_flag", 0), std::string::npos)
            << "no temporary file is left behind";
        ++entries;
    }
    EXPECT_GE(entries, 1);
}

TEST_F(PowerTest, BadRequestsFailWithTheirErrors) {
    auto device = OpenPower();
    ASSERT_TRUE(device);
    uint16_t small = 1;
    uint32_t value = 1;
    struct Case {
        uint32_t code;
        std::span<const std::byte> in;
        std::span<std::byte> out;
        uint32_t error;
    } cases[] = {
        {IOCTL_POWER_WRITE_RECOVER_FLAG,
         std::as_bytes(std::span(&small, 1)),
         {},
         sys::ERROR_INVALID_PARAMETER},
        {IOCTL_POWER_READ_RECOVER_FLAG,
         {},
         std::as_writable_bytes(std::span(&small, 1)),
         sys::ERROR_INSUFFICIENT_BUFFER},
        {IOCTL_POWER_PREPARE_RESTART, {}, {}, sys::ERROR_INVALID_PARAMETER},
        {8, {}, {}, sys::ERROR_NOT_SUPPORTED},
        {0x1234, std::as_bytes(std::span(&value, 1)), {}, sys::ERROR_NOT_SUPPORTED},
    };
    for (const Case& c : cases) {
        sys::SetLastError(0);
        EXPECT_FALSE(device->ioControl(c.code, c.in, c.out, nullptr)) << c.code;
        EXPECT_EQ(sys::GetLastError(), c.error) << c.code;
    }
    EXPECT_TRUE(device->ioControl(IOCTL_POWER_PREPARE_RESTART, std::as_bytes(std::span(&value, 1)),
                                  {}, nullptr));
    EXPECT_FALSE(sys::OpenStreamDevice(u"PWR2:", 0xC0000000u, 3, sys::OPEN_ALWAYS, 0));
    EXPECT_FALSE(sys::KernelIoControl(0x01010054, {}, {}, nullptr));
    EXPECT_EQ(sys::GetLastError(), sys::ERROR_NOT_SUPPORTED);
    EXPECT_EQ(m_programEnds, 0);
}

TEST_F(PowerTest, DamagedFlagFileFailsTheRead) {
    const std::filesystem::path flag = sys::DeviceStateDir() / "recover_flag";
    struct Case {
        std::string content;
        uint32_t error;
    };
    const Case cases[] = {
        {"garbage", sys::ERROR_INVALID_DATA},     {"5\ngarbage", sys::ERROR_INVALID_DATA},
        {"5\n\n", sys::ERROR_INVALID_DATA},       {"", sys::ERROR_INVALID_DATA},
        {" 5", sys::ERROR_INVALID_DATA},          {"-1", sys::ERROR_INVALID_DATA},
        {"4294967296", sys::ERROR_INVALID_DATA},  {std::string(33, '1'), sys::ERROR_INVALID_DATA},
        {"(a folder)", sys::ERROR_ACCESS_DENIED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.content);
        ASSERT_TRUE(Write(5));
        if (c.content == "(a folder)") {
            std::filesystem::remove(flag);
            std::filesystem::create_directory(flag);
        } else {
            std::ofstream(flag, std::ios::trunc) << c.content;
        }
        auto device = OpenPower();
        uint32_t value = 0;
        EXPECT_FALSE(device->ioControl(IOCTL_POWER_READ_RECOVER_FLAG, {},
                                       std::as_writable_bytes(std::span(&value, 1)), nullptr));
        EXPECT_EQ(sys::GetLastError(), c.error);
        std::filesystem::remove(flag);
    }
    std::ofstream(flag) << "garbage";
    EXPECT_TRUE(Write(0)) << "a new value replaces the damaged one";
    EXPECT_EQ(Read(), 0u);
}

// The restart ends the program that asked for it; a child process stands for
// that program, with the default program end.
TEST_F(PowerTest, RestartEndsTheCallingProgramAfterFlushingItsOutput) {
    const sys::testing::Captured child = sys::testing::CaptureInChild([] {
        RegisterSimulatedPower();
        if (!Write(100)) {
            return 3;
        }
        std::printf("before restart\n");
        Restart();
        std::printf("after restart\n");
        return 4;
    });
    EXPECT_EQ(child.exitCode, 0);
    EXPECT_EQ(child.out, "before restart\n");
    EXPECT_EQ(Read(), 101u) << "the flag survives the restart of another program";
}

} // namespace
} // namespace hh::sim
