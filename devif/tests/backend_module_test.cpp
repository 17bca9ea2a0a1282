// A program that links the library alone reaches the device of HANDHELD_ROOT:
// the platform loads the device's backend module at its first request, which
// prepares the root and registers the backend HANDHELD_DEVICE chooses, as the
// suite's programs do.

#include <platform/system/device_root.h>
#include <platform/system/testing.h>
#include <simulator/kernel/simulated_kernel.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace {

using namespace hh;

TEST(BackendModuleTest, ProgramLinkingTheLibraryAloneReadsTheStoredBattery) {
    struct {
        sim::Battery battery;
        const char* out;
    } cases[] = {
        {{42, false, true, false}, "42 1\n"},
        {{87, false, false, false}, "87 0\n"},
    };
    sys::testing::TempDeviceRoot root;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.out);
        ASSERT_TRUE(sim::StoreBattery(c.battery));
        const sys::testing::Captured run = sys::testing::RunProgram(HALVIX_CLIENT_PATH);
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_EQ(run.out, c.out);
        EXPECT_EQ(run.err, "");
    }
}

TEST(BackendModuleTest, NewRootIsPreparedAtTheFirstRequest) {
    sys::testing::TempDeviceRoot root(sys::testing::RootLayout::Empty);
    const sys::testing::Captured run = sys::testing::RunProgram(HALVIX_CLIENT_PATH);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, "87 0\n");
    EXPECT_EQ(run.err, "");
    EXPECT_TRUE(std::filesystem::is_directory(sys::DeviceStateDir()));
}

// What the programs refuse at their start, the module says in one line, and
// no device answers.
TEST(BackendModuleTest, RefusedSetupIsSaidInOneLineAndReachesNoDevice) {
    struct {
        const char* variable;
        const char* value;
        const char* err;
    } cases[] = {
        {"HANDHELD_ROOT", "/proc/no-device-root",
         "libHalvix: cannot create the device root /proc/no-device-root: No such file or "
         "directory\n"},
        {"HANDHELD_DEVICE", "hardware",
         "libHalvix: HANDHELD_DEVICE is \"hardware\", which names no device backend "
         "(simulated or linux)\n"},
    };
    sys::testing::TempDeviceRoot root;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.variable);
        ::setenv(c.variable, c.value, 1);
        const sys::testing::Captured run = sys::testing::RunProgram(HALVIX_CLIENT_PATH);
        ::unsetenv("HANDHELD_DEVICE");
        root.select();
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_EQ(run.out, "0 0\n");
        EXPECT_EQ(run.err, c.err);
    }
}

} // namespace
