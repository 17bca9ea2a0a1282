#pragma once
// The library's tests: a temporary device root with the whole simulated
// device registered, and a scripted driver that records what the library
// sends, registered in place of a simulated one through the platform.

#include <devif/halvix.h>
#include <platform/system/error.h>
#include <platform/system/stream_device.h>
#include <platform/system/testing.h>
#include <simulator/compass/compass_driver.h>
#include <simulator/device/simulated_device.h>
#include <simulator/state/driver_support.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <mutex>
#include <vector>

namespace halvix_test {

using namespace hh;

/// One request as the driver saw it.
struct Seen {
    uint32_t code = 0;
    std::vector<uint8_t> in;
    size_t outSize = 0;
};

/// A driver whose answers the test writes; it records every open and request.
class ScriptedDriver : public sys::StreamDriver {
public:
    using Answer = std::function<bool(uint32_t code, std::span<const std::byte> in,
                                      std::span<std::byte> out, uint32_t* returned)>;

    explicit ScriptedDriver(Answer answer = {}) : m_answer(std::move(answer)) {}

    std::unique_ptr<sys::StreamDevice> open(const sys::OpenRequest& request) override {
        std::lock_guard lock(m_mutex);
        ++opens;
        lastOpen = request;
        if (refuseOpen) {
            sys::SetLastError(sys::ERROR_FILE_NOT_FOUND);
            return nullptr;
        }
        return std::make_unique<Device>(*this);
    }

    std::vector<Seen> seen() {
        std::lock_guard lock(m_mutex);
        return m_seen;
    }

    std::atomic<int> opens{0};
    std::atomic<int> live{0};
    bool refuseOpen = false;
    sys::OpenRequest lastOpen;

private:
    struct Device : sys::StreamDevice {
        explicit Device(ScriptedDriver& d) : driver(d) { ++driver.live; }
        ~Device() override { --driver.live; }
        bool ioControl(uint32_t code, std::span<const std::byte> in, std::span<std::byte> out,
                       uint32_t* returned) override {
            {
                std::lock_guard lock(driver.m_mutex);
                Seen s{code, {}, out.size()};
                for (std::byte b : in) {
                    s.in.push_back(static_cast<uint8_t>(b));
                }
                driver.m_seen.push_back(std::move(s));
            }
            if (!driver.m_answer) {
                sys::SetLastError(sys::ERROR_NOT_SUPPORTED);
                return false;
            }
            return driver.m_answer(code, in, out, returned);
        }
        ScriptedDriver& driver;
    };

    Answer m_answer;
    std::mutex m_mutex;
    std::vector<Seen> m_seen;
};

/// Refuses every request.
inline ScriptedDriver::Answer Refuse() {
    return {};
}

/// Accepts every request and fills the output with `fill`.
inline ScriptedDriver::Answer Accept(uint8_t fill = 0) {
    return
        [fill](uint32_t, std::span<const std::byte>, std::span<std::byte> out, uint32_t* returned) {
            if (!out.empty()) {
                std::memset(out.data(), fill, out.size());
            }
            *returned = static_cast<uint32_t>(out.size());
            return true;
        };
}

class HalvixTest : public sys::testing::DeviceRootTest {
protected:
    void SetUp() override {
        DeviceRootTest::SetUp();
        ASSERT_TRUE(sim::RegisterSimulatedDevice([this] { ++restarts; }));
    }
    void TearDown() override {
        sim::StopCalibrationWatcher();
        DeviceRootTest::TearDown();
    }

    static void Off(const char* driver) { ASSERT_TRUE(sim::SetDriverAvailable(driver, false)); }

    /// Puts a scripted driver in place of the simulated one for a prefix.
    std::shared_ptr<ScriptedDriver> Script(const char* prefix, ScriptedDriver::Answer answer) {
        auto driver = std::make_shared<ScriptedDriver>(std::move(answer));
        sys::RegisterStreamDriver(prefix, driver);
        return driver;
    }

    std::atomic<int> restarts{0};
};

} // namespace halvix_test
