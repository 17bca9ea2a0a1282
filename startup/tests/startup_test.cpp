// Runs the real startup program on temporary device roots.

#include <platform/system/error.h>
#include <platform/system/registry.h>
#include <platform/system/testing.h>

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <regex>
#include <set>
#include <string>
#include <vector>

using namespace hh::sys;

namespace {

using hh::sys::testing::Program;
using Result = hh::sys::testing::Captured;

Program Start() {
    return Program::Start(STARTUP_PATH);
}

Result Finish(Program& child) {
    return child.finish();
}

Result RunStartup() {
    return hh::sys::testing::RunProgram(STARTUP_PATH);
}

std::vector<std::string> Lines(const std::string& out) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < out.size()) {
        size_t end = out.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(out.substr(start) + "<no CR LF>");
            break;
        }
        lines.push_back(out.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

bool IsTickLine(const std::string& line) {
    return std::regex_match(line, std::regex("===TIME==>g_dwStartupTick=-?[0-9]+"));
}

class StartupTest : public hh::sys::testing::DeviceRootTest {
protected:
    StartupTest() : DeviceRootTest(hh::sys::testing::RootLayout::Empty) {}

    void store(const char16_t* name, uint32_t value) {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"init\\App", 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<uint8_t*>(&value), 4),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }
    // The stored value, or `missing` when it cannot be read.
    uint32_t stored(const char16_t* name, uint32_t missing = 0xDEADBEEF) {
        HKEY key = nullptr;
        uint32_t value = missing;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"init\\App", 0, KEY_READ, &key) == ERROR_SUCCESS) {
            uint32_t size = 4;
            if (RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<uint8_t*>(&value),
                                 &size) != ERROR_SUCCESS) {
                value = missing;
            }
            RegCloseKey(key);
        }
        return value;
    }
};

TEST_F(StartupTest, TwoRunsOnANewDeviceCountOneThenTwo) {
    for (const char* expected : {"startup_cnt = 1", "startup_cnt = 2"}) {
        Result run = RunStartup();
        EXPECT_EQ(run.exitCode, 0);
        auto lines = Lines(run.out);
        ASSERT_EQ(lines.size(), 3u) << run.out;
        EXPECT_TRUE(IsTickLine(lines[0])) << lines[0];
        EXPECT_EQ(lines[1], "startup = 1");
        EXPECT_EQ(lines[2], expected);
    }
    EXPECT_EQ(stored(u"startup"), 1u);
    EXPECT_EQ(stored(u"startup_cnt"), 2u);
}

TEST_F(StartupTest, StoredValuesAndTheSignedPrint) {
    struct Case {
        uint32_t before;
        uint32_t after;
        const char* line;
    };
    const Case cases[] = {
        {41, 42, "startup_cnt = 42"},
        {4294967295u, 0, "startup_cnt = 0"},
        {2147483647u, 2147483648u, "startup_cnt = -2147483648"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.before);
        store(u"startup_cnt", c.before);
        store(u"startup", 0);
        Result run = RunStartup();
        EXPECT_EQ(run.exitCode, 0);
        auto lines = Lines(run.out);
        ASSERT_EQ(lines.size(), 3u) << run.out;
        EXPECT_EQ(lines[1], "startup = 1") << "a stored 0 is overwritten first";
        EXPECT_EQ(lines[2], c.line);
        EXPECT_EQ(stored(u"startup_cnt"), c.after);
    }
}

TEST_F(StartupTest, FortyRunsAtOnceAddExactlyForty) {
    store(u"startup_cnt", 100);
    std::vector<Program> children;
    for (int i = 0; i < 40; ++i) {
        children.push_back(Start());
        ASSERT_GT(children.back().pid(), 0);
    }
    std::set<std::string> counts;
    for (auto& child : children) {
        Result run = Finish(child);
        EXPECT_EQ(run.exitCode, 0);
        auto lines = Lines(run.out);
        ASSERT_EQ(lines.size(), 3u) << run.out;
        counts.insert(lines[2]);
    }
    EXPECT_EQ(counts.size(), 40u) << "every run saw its own count";
    EXPECT_EQ(*counts.begin(), "startup_cnt = 101");
    EXPECT_EQ(stored(u"startup_cnt"), 140u);
}

TEST_F(StartupTest, UnreachableRegistryPrintsOnlyTheFirstLine) {
    struct Case {
        const char* what;
        std::function<void()> prepare;
    };
    std::string corrupt = "definitely not a database\n";
    const Case cases[] = {
        {"root cannot be created",
         [&] {
             std::ofstream(root_ / "file") << "x";
             setenv("HANDHELD_ROOT", (root_ / "file" / "root").c_str(), 1);
         }},
        {"corrupt database",
         [&] {
             std::filesystem::create_directories(registryDatabase().parent_path());
             std::ofstream(registryDatabase(), std::ios::binary) << corrupt;
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        c.prepare();
        Result run = RunStartup();
        EXPECT_EQ(run.exitCode, 0);
        auto lines = Lines(run.out);
        ASSERT_EQ(lines.size(), 1u) << run.out;
        EXPECT_TRUE(IsTickLine(lines[0])) << lines[0];
        setenv("HANDHELD_ROOT", root_.c_str(), 1);
    }
    std::ifstream in(registryDatabase(), std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), corrupt);
}

TEST_F(StartupTest, DatabaseLockedTooLongPrintsOnlyTheFirstLine) {
    store(u"startup_cnt", 5);
    // The write lock is held by another program for the whole run.
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"init\\App", 0, KEY_ALL_ACCESS, &key),
              ERROR_SUCCESS);
    setenv("HANDHELD_REGISTRY_TIMEOUT_MS", "200", 1);
    Result run;
    {
        RegistryTransaction holder;
        ASSERT_TRUE(holder.ok());
        run = RunStartup();
    }
    RegCloseKey(key);
    EXPECT_EQ(run.exitCode, 0);
    auto lines = Lines(run.out);
    ASSERT_EQ(lines.size(), 1u) << run.out;
    EXPECT_EQ(stored(u"startup_cnt"), 5u);
    unsetenv("HANDHELD_REGISTRY_TIMEOUT_MS");
    EXPECT_EQ(Lines(RunStartup().out).back(), "startup_cnt = 6")
        << "works again once the lock is gone";
}

TEST_F(StartupTest, KilledAtAnyMomentLeavesTheOldOrTheNewCount) {
    store(u"startup_cnt", 0);
    uint32_t previous = 0;
    for (int i = 0; i < 24; ++i) {
        Program child = Start();
        ASSERT_GT(child.pid(), 0);
        // Spread the kills over the run, from before main to after the flush.
        usleep(static_cast<useconds_t>(i * 1500));
        kill(child.pid(), SIGKILL);
        Finish(child);
        uint32_t now = stored(u"startup_cnt");
        ASSERT_TRUE(now == previous || now == previous + 1) << previous << " -> " << now;
        previous = now;
    }
    Result run = RunStartup();
    EXPECT_EQ(Lines(run.out).back(), "startup_cnt = " + std::to_string(previous + 1));
}

} // namespace
