#include <common/reg_key.h>
#include <platform/system/error.h>
#include <platform/system/testing.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

using namespace hh::sys;

namespace {

class RegKeyTest : public hh::sys::testing::DeviceRootTest {
protected:
    RegKeyTest() : DeviceRootTest(hh::sys::testing::RootLayout::Empty) {}
};

TEST_F(RegKeyTest, ReadsWritesAndDefaults) {
    RegKey key;
    EXPECT_EQ(key.ReadDword(u"ACTimeout", 15), 0u) << "no open key reads 0";
    EXPECT_FALSE(key.WriteDword(u"ACTimeout", 1));
    EXPECT_FALSE(key.Flush());

    ASSERT_TRUE(key.Create(HKEY_CURRENT_USER, u"ControlPanel\\BackLight"));
    EXPECT_EQ(key.ReadDword(u"ACTimeout", 15), 15u);
    EXPECT_TRUE(key.WriteDword(u"ACTimeout", 60));
    EXPECT_EQ(key.ReadDword(u"actimeout", 15), 60u);
    EXPECT_TRUE(key.Flush());

    // Values of other types: a short one fills only its own bytes of the
    // default, a long one leaves the default as it is.
    const uint8_t two[] = {0x01, 0x02};
    ASSERT_EQ(RegSetValueExW(key.Handle(), u"Short", 0, REG_BINARY, two, 2), ERROR_SUCCESS);
    EXPECT_EQ(key.ReadDword(u"Short", 0xAAAAAAAA), 0xAAAA0201u);
    const char16_t text[] = u"sixty";
    ASSERT_EQ(RegSetValueExW(key.Handle(), u"Text", 0, REG_SZ,
                             reinterpret_cast<const uint8_t*>(text), sizeof text),
              ERROR_SUCCESS);
    EXPECT_EQ(key.ReadDword(u"Text", 7), 7u);
}

TEST_F(RegKeyTest, OpenIsReadOnlyAndNeedsAnExistingKey) {
    RegKey reader;
    EXPECT_FALSE(reader.Open(HKEY_LOCAL_MACHINE, u"Drivers\\BuiltIn\\ANT"));
    EXPECT_FALSE(reader.IsOpen());
    {
        RegKey writer;
        ASSERT_TRUE(writer.Create(HKEY_LOCAL_MACHINE, u"Drivers\\BuiltIn\\ANT"));
        ASSERT_TRUE(writer.WriteDword(u"BTPower", 1));
    }
    ASSERT_TRUE(reader.Open(HKEY_LOCAL_MACHINE, u"drivers\\builtin\\ant"));
    EXPECT_EQ(reader.ReadDword(u"BTPower", 0), 1u);
    EXPECT_FALSE(reader.WriteDword(u"BTPower", 0));
    EXPECT_EQ(reader.ReadDword(u"BTPower", 0), 1u);
}

TEST_F(RegKeyTest, ClosesOnScopeExitAndOnReuse) {
    HKEY first = nullptr;
    HKEY second = nullptr;
    {
        RegKey key;
        ASSERT_TRUE(key.Create(HKEY_LOCAL_MACHINE, u"init\\App"));
        first = key.Handle();
        ASSERT_TRUE(key.Create(HKEY_LOCAL_MACHINE, u"init"));
        second = key.Handle();
        EXPECT_EQ(RegCloseKey(first), ERROR_INVALID_HANDLE) << "the first key was closed";
    }
    EXPECT_EQ(RegCloseKey(second), ERROR_INVALID_HANDLE) << "closed by the destructor";
}

TEST_F(RegKeyTest, CreateFailsWhenTheRegistryCannotBeReached) {
    std::ofstream(root_ / "file") << "x";
    setenv("HANDHELD_ROOT", (root_ / "file" / "root").c_str(), 1);
    ::testing::internal::CaptureStderr();
    RegKey key;
    EXPECT_FALSE(key.Create(HKEY_LOCAL_MACHINE, u"init\\App"));
    EXPECT_FALSE(key.IsOpen());
    EXPECT_NE(::testing::internal::GetCapturedStderr(), "");
}

} // namespace
