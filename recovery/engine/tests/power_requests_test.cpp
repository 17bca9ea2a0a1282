#include <platform/system/error.h>
#include <platform/system/testing.h>
#include <recovery/engine/power_requests.h>
#include <simulator/power/power_driver.h>

namespace recovery {
namespace {

namespace sys = hh::sys;
using namespace hh::sys::testing;

class PowerRequestsTest : public hh::sys::testing::DeviceRootTest {
protected:
    void SetUp() override {
        DeviceRootTest::SetUp();
        hh::sim::RegisterSimulatedPower([this] { ++restarts_; });
    }
    void TearDown() override {
        sys::UnregisterStreamDriver("PWR");
        sys::RegisterKernelServices(nullptr);
        DeviceRootTest::TearDown();
    }
    int restarts_ = 0;
};

TEST_F(PowerRequestsTest, RequestThenRestartMakesTheFlagPending) {
    uint32_t flag = 0;
    EXPECT_EQ(ReadRecoverFlag(flag), 1);
    EXPECT_EQ(flag, 0u);
    EXPECT_EQ(WriteRecoverFlag(RECOVER_REQUESTED), 1);
    EXPECT_EQ(RebootDevice(), 1);
    EXPECT_EQ(restarts_, 1);
    EXPECT_EQ(ReadRecoverFlag(flag), 1);
    EXPECT_EQ(flag, RECOVER_PENDING);
    EXPECT_EQ(WriteRecoverFlag(0), 1);
    EXPECT_EQ(ReadRecoverFlag(flag), 1);
    EXPECT_EQ(flag, 0u);
}

TEST_F(PowerRequestsTest, MissingDriverReadsNothingAndStillRestarts) {
    sys::UnregisterStreamDriver("PWR");
    uint32_t flag = 0;
    EXPECT_EQ(ReadRecoverFlag(flag), 0);
    EXPECT_EQ(flag, 0u) << "the preset value stays";
    EXPECT_EQ(WriteRecoverFlag(RECOVER_REQUESTED), 0);
    EXPECT_EQ(sys::GetLastError(), sys::ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RebootDevice(), 1);
    EXPECT_EQ(restarts_, 1) << "the kernel's restart is asked for without the driver";
}

TEST_F(PowerRequestsTest, NoKernelServicesMeansNoRestart) {
    sys::RegisterKernelServices(nullptr);
    EXPECT_EQ(RebootDevice(), 0);
    EXPECT_EQ(restarts_, 0);
}

} // namespace
} // namespace recovery
