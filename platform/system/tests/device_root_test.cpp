#include <platform/system/device_root.h>
#include <platform/system/testing.h>

#include <gtest/gtest.h>

#include <cstdlib>

namespace hh::sys {
namespace {

// Each case gets HANDHELD_ROOT back as it found it.
using DeviceRootEnv = testing::DeviceRootTest;

TEST_F(DeviceRootEnv, FollowsHandheldRootAndNormalises) {
    setenv("HANDHELD_ROOT", "/tmp/a/../device-x/", 1);
    EXPECT_EQ(DeviceRootDir(), std::filesystem::path("/tmp/device-x"));
    EXPECT_EQ(DeviceStateDir(), std::filesystem::path("/tmp/device-x/.device"));
}

TEST_F(DeviceRootEnv, DefaultsToAPerUserFolder) {
    unsetenv("HANDHELD_ROOT");
    setenv("XDG_DATA_HOME", "/tmp/xdg-home", 1);
    EXPECT_EQ(DeviceRootDir(), std::filesystem::path("/tmp/xdg-home/handheld-device"));
    unsetenv("XDG_DATA_HOME");
}

TEST_F(DeviceRootEnv, TagsDifferPerRootAndStayStable) {
    setenv("HANDHELD_ROOT", "/tmp/root-one", 1);
    const std::string one = DeviceRootTag();
    EXPECT_EQ(one, DeviceRootTag());
    setenv("HANDHELD_ROOT", "/tmp/root-two/", 1);
    EXPECT_NE(one, DeviceRootTag());
    setenv("HANDHELD_ROOT", "/tmp/root-one/", 1);
    EXPECT_EQ(one, DeviceRootTag());
}

} // namespace
} // namespace hh::sys
