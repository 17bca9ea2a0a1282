// Runs the real devctl binary on a temporary device root.

#include <platform/system/error.h>
#include <platform/system/registry.h>
#include <platform/system/testing.h>

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

using namespace hh::sys;

namespace {

using Result = hh::sys::testing::Captured;

Result Devctl(const std::vector<std::string>& args) {
    return hh::sys::testing::RunProgram(DEVCTL_PATH, args);
}

class DevctlTest : public hh::sys::testing::DeviceRootTest {
protected:
    DevctlTest() : DeviceRootTest(hh::sys::testing::RootLayout::Empty) {}
};

TEST_F(DevctlTest, VerbsReadAndChangeTheRegistry) {
    struct Step {
        std::vector<std::string> args;
        std::string out;
    };
    const Step steps[] = {
        {{"reg", "set", "HKLM\\init\\App", "startup_cnt", "41"}, ""},
        {{"reg", "get", "HKLM\\init\\App", "startup_cnt"}, "41\n"},
        {{"reg", "set", "HKEY_LOCAL_MACHINE\\INIT\\app", "startup_cnt", "0xFFFFFFFF"}, ""},
        {{"reg", "get", "hklm\\init\\APP", "STARTUP_CNT"}, "4294967295\n"},
        {{"reg", "set", "HKLM\\init\\App", "Name", "--string",
          "Gr\xC3\xB6\xC3\x9F"
          "e 1"},
         ""},
        {{"reg", "get", "HKLM\\init\\App", "name"},
         "Gr\xC3\xB6\xC3\x9F"
         "e 1\n"},
        {{"reg", "set", "HKLM\\init\\App\\Sub", "x", "0"}, ""},
        {{"reg", "list", "HKLM\\init\\App"},
         "Name\tREG_SZ\tGr\xC3\xB6\xC3\x9F"
         "e 1\nstartup_cnt\tREG_DWORD\t4294967295\nSub\\\n"},
        {{"reg", "list", "HKLM"}, "init\\\n"},
        {{"reg", "set", "HKCU\\ControlPanel\\BackLight", "ACTimeout", "60"}, ""},
        {{"reg", "get", "HKEY_CURRENT_USER\\ControlPanel\\BackLight", "ACTimeout"}, "60\n"},
        {{"reg", "delete", "HKLM\\init\\App", "Name"}, ""},
        {{"reg", "delete", "HKLM\\init"}, ""},
        {{"reg", "list", "HKLM"}, ""},
        {{"reg", "list", "HKCU"}, "ControlPanel\\\n"},
    };
    for (const auto& step : steps) {
        std::string command;
        for (const auto& a : step.args) {
            command += a + " ";
        }
        SCOPED_TRACE(command);
        Result result = Devctl(step.args);
        EXPECT_EQ(result.exitCode, 0) << result.err;
        EXPECT_EQ(result.out, step.out);
        EXPECT_EQ(result.err, "");
    }
}

TEST_F(DevctlTest, SharesTheRegistryWithThePrograms) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Drivers\\BuiltIn\\Compass", 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    uint32_t value = 300;
    ASSERT_EQ(RegSetValueExW(key, u"Calibration_Horizontal", 0, REG_DWORD,
                             reinterpret_cast<uint8_t*>(&value), 4),
              ERROR_SUCCESS);
    const uint8_t bytes[] = {0xDE, 0xAD};
    ASSERT_EQ(RegSetValueExW(key, u"Blob", 0, REG_BINARY, bytes, 2), ERROR_SUCCESS);

    EXPECT_EQ(
        Devctl({"reg", "get", "HKLM\\Drivers\\BuiltIn\\Compass", "Calibration_Horizontal"}).out,
        "300\n");
    EXPECT_EQ(Devctl({"reg", "get", "HKLM\\Drivers\\BuiltIn\\Compass", "Blob"}).out, "de ad\n");
    ASSERT_EQ(
        Devctl({"reg", "set", "HKLM\\Drivers\\BuiltIn\\Compass", "Calibration_Vertical", "12"})
            .exitCode,
        0);
    uint32_t size = 4;
    EXPECT_EQ(RegQueryValueExW(key, u"Calibration_Vertical", nullptr, nullptr,
                               reinterpret_cast<uint8_t*>(&value), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(value, 12u);
    RegCloseKey(key);
}

TEST_F(DevctlTest, BadInputGetsOneLineAndANonZeroExit) {
    ASSERT_EQ(Devctl({"reg", "set", "HKLM\\init\\App", "startup", "1"}).exitCode, 0);
    struct Case {
        std::vector<std::string> args;
        std::string mentions;
    };
    const Case cases[] = {
        {{"reg", "get", "HKXX\\init\\App", "startup"}, "unknown registry root"},
        {{"reg", "set", "HKLM\\init\\App", "n", "12a"}, "not a 32-bit number"},
        {{"reg", "set", "HKLM\\init\\App", "n", "-1"}, "not a 32-bit number"},
        {{"reg", "set", "HKLM\\init\\App", "n", "4294967296"}, "not a 32-bit number"},
        {{"reg", "set", "HKLM\\init\\App", "n", "0x100000000"}, "not a 32-bit number"},
        {{"reg", "set", "HKLM\\init\\App", "n", "0x"}, "not a 32-bit number"},
        {{"reg", "set", "HKLM\\init\\App", "n", ""}, "not a 32-bit number"},
        {{"reg", "set", "HKLM\\init\\App", "n"}, "either a number or --string"},
        {{"reg", "set", "HKLM\\init\\App", "n", "1", "--string", "x"}, "either"},
        {{"reg", "get", "HKLM\\init\\App", "missing"}, "no value \"missing\""},
        {{"reg", "get", "HKLM\\no\\such", "startup"}, "no key HKLM\\no\\such"},
        {{"reg", "list", "HKCU\\nothing"}, "no key"},
        {{"reg", "delete", "HKLM\\init\\App", "missing"}, "no value"},
        {{"reg", "delete", "HKLM\\no\\such"}, "no key"},
        {{"reg", "delete", "HKLM"}, "root key"},
        {{"reg", "get", "HKLM\\init\\\\App", "startup"}, "malformed"},
        {{"reg", "get", "HKLM\\init\\App"}, "NAME"},
        {{"reg"}, "subcommand"},
        {{"nonsense"}, "nonsense"},
    };
    for (const auto& c : cases) {
        std::string command;
        for (const auto& a : c.args) {
            command += a + " ";
        }
        SCOPED_TRACE(command);
        Result result = Devctl(c.args);
        EXPECT_NE(result.exitCode, 0);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
        EXPECT_NE(result.err.find(c.mentions), std::string::npos) << result.err;
    }
    EXPECT_EQ(Devctl({"reg", "get", "HKLM\\init\\App", "startup"}).out, "1\n")
        << "nothing was changed by the bad commands";
}

// The reading verbs on a folder without a device: one line, and nothing made.
TEST_F(DevctlTest, ReadingVerbsOnAFolderWithoutADeviceCreateNothing) {
    struct Root {
        const char* what;
        std::filesystem::path path;
    };
    const bool hostRootHasDevice = std::filesystem::exists("/.device");
    std::vector<Root> roots = {{"an empty folder", root_},
                               {"a missing folder", root_ / "missing" / "root"}};
    if (!hostRootHasDevice) {
        roots.push_back({"the host's /", "/"});
    }
    const std::vector<std::vector<std::string>> verbs = {
        {"reg", "get", "HKLM\\init\\App", "startup"},
        {"reg", "list", "HKLM"},
        {"reg", "list", "HKCU\\ControlPanel"},
        {"reg", "delete", "HKLM\\init\\App", "startup"},
        {"reg", "delete", "HKLM\\init"},
        {"power", "flag"},
    };
    for (const Root& root : roots) {
        setenv("HANDHELD_ROOT", root.path.c_str(), 1);
        for (const auto& verb : verbs) {
            SCOPED_TRACE(std::string(root.what) + ": " + verb[0] + " " + verb[1]);
            Result result = Devctl(verb);
            EXPECT_EQ(result.exitCode, 1);
            EXPECT_EQ(result.out, "");
            EXPECT_EQ(result.err.rfind("devctl: no device at " + root.path.string() + " ", 0), 0u)
                << result.err;
            EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
        }
    }
    selectRoot();
    EXPECT_TRUE(std::filesystem::is_empty(root_)) << "a read made something in the root";
    if (!hostRootHasDevice && std::filesystem::exists("/.device")) {
        std::filesystem::remove_all("/.device");
        ADD_FAILURE() << "a read made /.device";
    }

    // Writing verbs still make the device's state, and the reads then work.
    ASSERT_EQ(Devctl({"reg", "set", "HKLM\\init\\App", "startup", "1"}).exitCode, 0);
    EXPECT_EQ(Devctl({"reg", "get", "HKLM\\init\\App", "startup"}).out, "1\n");
    EXPECT_EQ(Devctl({"power", "flag"}).out, "0\n");
}

// A device whose registry was never written has no keys, and reading it does
// not make one.
TEST_F(DevctlTest, ReadingADeviceWithoutARegistryCreatesNone) {
    std::filesystem::create_directories(root_ / ".device");
    Result result = Devctl({"reg", "get", "HKLM\\init\\App", "startup"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("no key HKLM\\init\\App"), std::string::npos) << result.err;
    result = Devctl({"reg", "list", "HKLM"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "");
    EXPECT_TRUE(std::filesystem::is_empty(root_ / ".device"));
}

// Keys nest at most 512 levels: a deeper one is refused and nothing is stored.
TEST_F(DevctlTest, AKeyBeyondTheRegistryLimitsIsRefused) {
    std::string deep = "HKLM\\deep";
    for (int level = 1; level < 512; ++level) {
        deep += "\\k";
    }
    ASSERT_EQ(Devctl({"reg", "set", deep, "v", "1"}).exitCode, 0);
    EXPECT_EQ(Devctl({"reg", "get", deep, "v"}).out, "1\n");
    Result result = Devctl({"reg", "set", deep + "\\k", "v", "2"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("limits"), std::string::npos) << result.err;
    EXPECT_NE(Devctl({"reg", "list", deep + "\\k"}).exitCode, 0) << "nothing was stored";
}

TEST_F(DevctlTest, CorruptDatabaseIsReportedAndKept) {
    std::filesystem::create_directories(root_ / ".device");
    {
        FILE* f = std::fopen((root_ / ".device" / "registry.db").c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fputs("garbage, not a database\n", f);
        std::fclose(f);
    }
    Result result = Devctl({"reg", "set", "HKLM\\init\\App", "startup", "1"});
    EXPECT_NE(result.exitCode, 0);
    EXPECT_NE(result.err.find("damaged"), std::string::npos) << result.err;
    EXPECT_EQ(std::filesystem::file_size(root_ / ".device" / "registry.db"), 24u);
}

} // namespace
