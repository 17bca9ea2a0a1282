// The device console's power verbs, run as the real devctl binary.

#include <platform/system/testing.h>
#include <simulator/power/power_driver.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace hh::sim {
namespace {

sys::testing::Captured Devctl(const std::vector<std::string>& args) {
    return sys::testing::RunProgram(DEVCTL_PATH, args);
}

TEST(DevctlPower, ReadsSetsAndRestarts) {
    sys::testing::TempDeviceRoot device(sys::testing::RootLayout::Empty);
    ASSERT_TRUE(device.ok());
    struct Step {
        std::vector<std::string> args;
        int exitCode;
        std::string out;
    } steps[] = {
        {{"power", "flag"}, 1, ""},        {{"power", "flag", "100"}, 0, ""},
        {{"power", "flag"}, 0, "100\n"},   {{"restart"}, 0, "restarted\n"},
        {{"power", "flag"}, 0, "101\n"},   {{"restart"}, 0, "restarted\n"},
        {{"power", "flag"}, 0, "101\n"},   {{"power", "flag", "0x64"}, 0, ""},
        {{"power", "flag", "abc"}, 1, ""}, {{"power", "flag", "4294967296"}, 1, ""},
        {{"power", "flag"}, 0, "100\n"},   {{"power"}, 2, ""},
    };
    for (const Step& step : steps) {
        const sys::testing::Captured run = Devctl(step.args);
        EXPECT_EQ(run.exitCode, step.exitCode) << step.args.back();
        EXPECT_EQ(run.out, step.out) << step.args.back();
    }
    EXPECT_EQ(ReadStoredRecoverFlag(), 100u) << "the verbs and the driver share the flag";
}

} // namespace
} // namespace hh::sim
