// The library unloaded (dlclose) at points of a beep sequence: a running
// sequence ends first, the buzzer is left silent and no thread of the library
// is left behind. The test loads the library itself, so that the unload
// really unmaps it.

#include <platform/system/clock.h>
#include <platform/system/testing.h>
#include <platform/system/thread.h>
#include <simulator/backlight/backlight_driver.h>
#include <simulator/device/simulated_device.h>

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace {

using namespace hh;
using Ms = sys::Millis;
using Tones = std::vector<std::pair<int64_t, uint32_t>>;
using Beep = void(uint32_t, uint8_t, uint32_t, uint32_t, uint32_t);

class UnloadTest : public sys::testing::DeviceRootTest {
protected:
    void SetUp() override {
        DeviceRootTest::SetUp();
        ASSERT_TRUE(sim::RegisterSimulatedDevice([] {}));
    }

    static Tones Logged() {
        std::vector<sim::ToneRequest> log;
        sim::ReadToneLog(log);
        Tones tones;
        for (const auto& t : log) {
            tones.emplace_back(t.atMs, t.level);
        }
        return tones;
    }
};

TEST_F(UnloadTest, UnloadingEndsARunningSequenceSilentAndLeavesNoThread) {
    struct Case {
        int64_t unloadAt;
        Tones expected;
    };
    // Five beeps of 100 ms after pauses of 200 ms.
    Tones whole;
    for (int i = 0; i < 5; ++i) {
        whole.emplace_back(200 + i * 300, 5);
        whole.emplace_back(300 + i * 300, 0);
    }
    const Case cases[] = {
        {100, {}},                   // in the first pause: nothing sounds
        {250, {{200, 5}, {250, 0}}}, // during the first tone
        {450, {{200, 5}, {300, 0}}}, // in the second pause
        {1600, whole},               // after the sequence
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.unloadAt);
        ASSERT_TRUE(sim::ClearToneLog());
        sys::TestClock clock(0);
        void* library = ::dlopen(HALVIX_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(library, nullptr) << ::dlerror();
        auto* beep = reinterpret_cast<Beep*>(::dlsym(library, "BuzzerBeep"));
        ASSERT_NE(beep, nullptr);
        beep(5, 3, 100, 5, 200);
        ASSERT_TRUE(clock.waitForBlockedThreads(1));
        clock.advanceInSteps(Ms(c.unloadAt), Ms(10));
        ASSERT_EQ(::dlclose(library), 0);
        EXPECT_EQ(::dlopen(HALVIX_PATH, RTLD_NOW | RTLD_NOLOAD), nullptr) << "still loaded";
        EXPECT_EQ(sys::WaitForOtherThreads(0), sys::WAIT_OBJECT_0);
        EXPECT_EQ(Logged(), c.expected);
        EXPECT_FALSE(sim::ReadBacklightState().value().sounding);
    }
}

} // namespace
