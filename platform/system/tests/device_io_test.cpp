// Handles of stream devices: the table behind CreateFileW, DeviceIoControl,
// CloseHandle and DuplicateHandle.

#include <platform/system/device_io.h>
#include <platform/system/error.h>
#include <platform/system/stream_device.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

namespace hh::sys {
namespace {

// Echoes its input and counts the open instances.
struct EchoDriver : StreamDriver {
    std::atomic<int> instances{0};
    std::mutex mutex;
    OpenRequest last;

    struct Device : StreamDevice {
        explicit Device(EchoDriver& d) : driver(d) { ++driver.instances; }
        ~Device() override { --driver.instances; }
        bool ioControl(uint32_t code, std::span<const std::byte> in, std::span<std::byte> out,
                       uint32_t* bytesReturned) override {
            if (code != 1) {
                SetLastError(ERROR_NOT_SUPPORTED);
                return false;
            }
            size_t n = std::min(in.size(), out.size());
            std::memcpy(out.data(), in.data(), n);
            *bytesReturned = static_cast<uint32_t>(n + 100); // more than fits: capped
            return true;
        }
        EchoDriver& driver;
    };

    std::unique_ptr<StreamDevice> open(const OpenRequest& request) override {
        std::lock_guard lock(mutex);
        last = request;
        return std::make_unique<Device>(*this);
    }
};

class DeviceIoTest : public ::testing::Test {
protected:
    void SetUp() override { RegisterStreamDriver("ECO", driver); }
    void TearDown() override { UnregisterStreamDriver("ECO"); }
    std::shared_ptr<EchoDriver> driver = std::make_shared<EchoDriver>();
};

TEST_F(DeviceIoTest, OpensSendsAndClosesWithTheOpenParameters) {
    HANDLE h = CreateFileW(u"eco1:", 0xC0000000u, 3, nullptr, OPEN_ALWAYS, 4, 0);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(driver->last.prefix, "ECO");
    EXPECT_EQ(driver->last.index, 1u);
    EXPECT_EQ(driver->last.access, 0xC0000000u);
    EXPECT_EQ(driver->last.shareMode, 3u);
    EXPECT_EQ(driver->last.disposition, OPEN_ALWAYS);
    EXPECT_EQ(driver->last.flags, 4u);

    uint32_t in = 0x12345678, out = 0, returned = 7;
    EXPECT_TRUE(DeviceIoControl(h, 1, &in, 4, &out, 4, &returned, nullptr));
    EXPECT_EQ(out, in);
    EXPECT_EQ(returned, 4u);
    EXPECT_FALSE(DeviceIoControl(h, 2, nullptr, 0, nullptr, 0, &returned, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
    EXPECT_EQ(returned, 0u);

    EXPECT_TRUE(CloseHandle(h));
    EXPECT_EQ(driver->instances, 0);
    EXPECT_FALSE(CloseHandle(h));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(DeviceIoControl(h, 1, &in, 4, &out, 4, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(DeviceIoTest, FailuresGiveTheInvalidHandle) {
    struct Case {
        const char16_t* name;
        uint32_t error;
    } cases[] = {{u"XYZ1:", ERROR_FILE_NOT_FOUND}, {u"\\nowhere\\file.txt", 0}};
    for (const Case& c : cases) {
        SetLastError(0);
        EXPECT_EQ(CreateFileW(c.name, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, 0),
                  INVALID_HANDLE_VALUE);
        EXPECT_NE(GetLastError(), 0u);
        if (c.error) {
            EXPECT_EQ(GetLastError(), c.error);
        }
    }
    EXPECT_EQ(CreateFileW(nullptr, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, 0),
              INVALID_HANDLE_VALUE);
    EXPECT_FALSE(CloseHandle(INVALID_HANDLE_VALUE));
    uint32_t x = 0;
    EXPECT_FALSE(DeviceIoControl(INVALID_HANDLE_VALUE, 1, &x, 4, &x, 4, nullptr, nullptr));
}

TEST_F(DeviceIoTest, ADuplicateKeepsTheDeviceOpenUntilTheLastHandleCloses) {
    HANDLE h = CreateFileW(u"ECO1:", 0, 0, nullptr, OPEN_EXISTING, 0, 0);
    HANDLE copy = INVALID_HANDLE_VALUE;
    ASSERT_TRUE(DuplicateHandle(h, &copy));
    EXPECT_NE(copy, h);
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_EQ(driver->instances, 1);
    uint32_t in = 5, out = 0;
    EXPECT_TRUE(DeviceIoControl(copy, 1, &in, 4, &out, 4, nullptr, nullptr));
    EXPECT_EQ(out, 5u);
    EXPECT_TRUE(CloseHandle(copy));
    EXPECT_EQ(driver->instances, 0);
    EXPECT_FALSE(DuplicateHandle(h, &copy));
}

TEST_F(DeviceIoTest, AClosedNumberIsNotHandedOutAgainAtOnce) {
    HANDLE first = CreateFileW(u"ECO1:", 0, 0, nullptr, OPEN_EXISTING, 0, 0);
    CloseHandle(first);
    HANDLE second = CreateFileW(u"ECO1:", 0, 0, nullptr, OPEN_EXISTING, 0, 0);
    EXPECT_NE(first, second);
    CloseHandle(second);
}

TEST_F(DeviceIoTest, ManyThreadsOpenRequestAndClose) {
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < 16; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                HANDLE h = CreateFileW(u"ECO1:", 0, 0, nullptr, OPEN_EXISTING, 0, 0);
                uint32_t in = static_cast<uint32_t>(t * 1000 + i), out = 0;
                if (!DeviceIoControl(h, 1, &in, 4, &out, 4, nullptr, nullptr) || out != in ||
                    !CloseHandle(h)) {
                    ++failures;
                }
            }
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(driver->instances, 0);
}

} // namespace
} // namespace hh::sys
