// The simulated drivers' answers to requests with wrong buffers, through the
// platform's handles: every such request fails with its error and writes
// nothing into the caller's memory.

#include <platform/system/device_io.h>
#include <platform/system/error.h>
#include <platform/system/testing.h>
#include <simulator/device/simulated_device.h>
#include <simulator/state/driver_support.h>

#include <gtest/gtest.h>

#include <array>

namespace hh::sim {
namespace {

class DriverRequestsTest : public sys::testing::DeviceRootTest {
protected:
    void SetUp() override {
        DeviceRootTest::SetUp();
        ASSERT_TRUE(RegisterSimulatedDevice([] {}));
    }
};

struct BadRequest {
    const char16_t* device;
    uint32_t code;
    uint32_t inSize;
    uint32_t outSize;
    uint32_t error;
};

TEST_F(DriverRequestsTest, ShortBuffersAndUnknownCodesFailAndWriteNothing) {
    const BadRequest cases[] = {
        {u"BKL1:", 0x00220004, 3, 0, sys::ERROR_INVALID_PARAMETER},
        {u"BKL1:", 0x00220008, 0, 3, sys::ERROR_INSUFFICIENT_BUFFER},
        {u"BKL1:", 0x00000005, 4, 0, sys::ERROR_INVALID_PARAMETER},
        {u"BKL1:", 0x12345678, 0, 0, sys::ERROR_NOT_SUPPORTED},
        {u"PWR1:", 3, 2, 0, sys::ERROR_INVALID_PARAMETER},
        {u"PWR1:", 5, 0, 3, sys::ERROR_INSUFFICIENT_BUFFER},
        {u"PWR1:", 6, 0, 1, sys::ERROR_INSUFFICIENT_BUFFER},
        {u"PWR1:", 10, 0, 15, sys::ERROR_INSUFFICIENT_BUFFER},
        {u"UFN1:", 0x0022000C, 0, 755, sys::ERROR_INSUFFICIENT_BUFFER},
        {u"UFN1:", 0x00220010, 255, 0, sys::ERROR_INVALID_PARAMETER},
        {u"ANT1:", 1000, 3, 0, sys::ERROR_INVALID_PARAMETER},
        {u"ECD1:", 6000, 3, 0, sys::ERROR_INVALID_PARAMETER},
        {u"ECD1:", 6005, 0, 5, sys::ERROR_INSUFFICIENT_BUFFER},
        {u"ECD1:", 6007, 47, 20, sys::ERROR_INVALID_PARAMETER},
        {u"ECD1:", 6007, 48, 19, sys::ERROR_INSUFFICIENT_BUFFER},
        {u"ECD1:", 6011, 0, 4003, sys::ERROR_INSUFFICIENT_BUFFER},
        {u"ECD1:", 5999, 0, 0, sys::ERROR_NOT_SUPPORTED},
        {u"SMB1:", 0x01012F8C, 0, 5, sys::ERROR_INSUFFICIENT_BUFFER},
        {u"PSA1:", 2000, 0, 3, sys::ERROR_INSUFFICIENT_BUFFER},
        {u"PSA1:", 2004, 3, 0, sys::ERROR_INVALID_PARAMETER},
    };
    for (const BadRequest& c : cases) {
        SCOPED_TRACE(std::to_string(c.code));
        sys::HANDLE h =
            sys::CreateFileW(c.device, 0xC0000000u, 3, nullptr, sys::OPEN_EXISTING, 0, 0);
        ASSERT_NE(h, sys::INVALID_HANDLE_VALUE);
        std::array<uint8_t, 4100> in{};
        std::array<uint8_t, 4100> out;
        out.fill(0xAA);
        uint32_t returned = 99;
        EXPECT_FALSE(sys::DeviceIoControl(h, c.code, in.data(), c.inSize, out.data(), c.outSize,
                                          &returned, nullptr));
        EXPECT_EQ(sys::GetLastError(), c.error);
        EXPECT_EQ(returned, 0u);
        for (uint8_t b : out) {
            ASSERT_EQ(b, 0xAA);
        }
        sys::CloseHandle(h);
    }
}

TEST_F(DriverRequestsTest, ASwitchedOffDriverCannotBeOpened) {
    for (const std::string& name : SwitchableDrivers()) {
        if (name == "KERNEL") {
            continue;
        }
        std::u16string device(name.begin(), name.end());
        device += u':';
        ASSERT_TRUE(SetDriverAvailable(name, false));
        EXPECT_EQ(sys::CreateFileW(device.c_str(), 0xC0000000u, 3, nullptr, 3, 0, 0),
                  sys::INVALID_HANDLE_VALUE)
            << name;
        EXPECT_EQ(sys::GetLastError(), sys::ERROR_FILE_NOT_FOUND);
        ASSERT_TRUE(SetDriverAvailable(name, true));
        sys::HANDLE h = sys::CreateFileW(device.c_str(), 0xC0000000u, 3, nullptr, 3, 0, 0);
        EXPECT_NE(h, sys::INVALID_HANDLE_VALUE) << name;
        sys::CloseHandle(h);
    }
}

} // namespace
} // namespace hh::sim
