#include <platform/system/clock.h>
#include <platform/system/process.h>
#include <platform/system/testing.h>
#include <recovery/engine/copy_engine.h>

#include <spawn.h>
#include <sys/wait.h>

#include <csignal>

extern char** environ;

namespace recovery {
namespace {

namespace sys = hh::sys;
using namespace hh::sys::testing;

class ProcessTest : public hh::sys::testing::DeviceRootTest {
protected:
    void SetUp() override {
        DeviceRootTest::SetUp();
        mutex_ = sys::Mutex::Create(false, "MUTEX_FOR_COPY");
        ASSERT_TRUE(mutex_);
    }
    // The mutex's name is kept in the device root, so it goes first.
    void TearDown() override {
        mutex_.close();
        DeviceRootTest::TearDown();
    }

    // A device program: /bin/sleep copied into the root under the given name.
    sys::Process StartDeviceSleeper(const std::string& folder, const std::string& name) {
        std::filesystem::create_directories(root_ / folder);
        std::filesystem::copy_file("/bin/sleep", root_ / folder / name);
        std::u16string ce = u"\\";
        for (char c : folder + "/" + name) {
            ce += c == '/' ? u'\\' : static_cast<char16_t>(c);
        }
        return sys::StartDeviceProcess(ce, {"60"});
    }

    sys::Mutex mutex_;
};

TEST_F(ProcessTest, ExeNamesAreMatchedAtTheEndInAnyCase) {
    struct Case {
        std::u16string name;
        std::string trace;
    } cases[] = {
        {u"nav.exe", "dest:NAV.EXE\r\n"},
        {u"Tool.ExE", "dest:TOOL.EXE\r\n"},
        {u".exe", "dest:.EXE\r\n"},
        {u"a.ex", ""},
        {u"exe", ""},
        {u"navexe", ""},
        {u"nav.exe.txt", ""},
        {u"", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CaptureStdout([&] { KillIfExe(c.name); }), c.trace)
            << std::string(c.name.begin(), c.name.end());
    }
}

TEST_F(ProcessTest, RunningDeviceProgramIsEndedBeforeItsFileIsReplaced) {
    sys::Process nav = StartDeviceSleeper("SDMMC/MaroltNavi", "nav.exe");
    ASSERT_TRUE(nav);
    WriteHost(root_ / "SDMMC/Src/nav.exe", "new program");
    uint32_t counter = 0;
    std::string out = CaptureStdout([&] {
        EXPECT_EQ(CopyTree(u"\\*", u"\\SDMMC\\Src", u"\\SDMMC\\MaroltNavi", counter, mutex_), 1);
    });
    EXPECT_EQ(out, "dest:NAV.EXE\r\nterminate NAV.EXE ok\r\n");
    EXPECT_TRUE(nav.Wait(0)) << "the program has ended";
    EXPECT_EQ(ReadHost(root_ / "SDMMC/MaroltNavi/nav.exe"), "new program");
    EXPECT_EQ(counter, 1u);
}

TEST_F(ProcessTest, OnlyTheFirstMatchingProgramIsEnded) {
    sys::Process first = StartDeviceSleeper("SDMMC/One", "nav.exe");
    sys::Process second = StartDeviceSleeper("SDMMC/Two", "NAV.EXE");
    ASSERT_TRUE(first && second);
    std::string out = CaptureStdout([] { TerminateProcessByName(u"Nav.Exe"); });
    EXPECT_EQ(out, "terminate Nav.Exe ok\r\n");
    int ended = (first.Wait(0) ? 1 : 0) + (second.Wait(0) ? 1 : 0);
    EXPECT_EQ(ended, 1);
    first.Terminate(0);
    second.Terminate(0);
    first.Wait(sys::INFINITE);
    second.Wait(sys::INFINITE);
}

TEST_F(ProcessTest, HostProgramsAreNeverEndedByName) {
    std::filesystem::copy_file("/bin/sleep", outside_ / "nav.exe");
    std::string program = (outside_ / "nav.exe").string();
    char* argv[] = {program.data(), const_cast<char*>("60"), nullptr};
    pid_t host = 0;
    ASSERT_EQ(::posix_spawn(&host, program.c_str(), nullptr, nullptr, argv, environ), 0);
    WriteHost(root_ / "SDMMC/Src/nav.exe", "x");
    uint32_t counter = 0;
    std::string out = CaptureStdout([&] {
        CopyTree(u"\\*", u"\\SDMMC\\Src", u"\\ResidentFlash", counter, mutex_);
        DeleteOneFile(u"\\ResidentFlash\\nav.exe");
    });
    EXPECT_EQ(out, "dest:NAV.EXE\r\n");
    int status = 0;
    EXPECT_EQ(::waitpid(host, &status, WNOHANG), 0) << "the host program still runs";
    ::kill(host, SIGKILL);
    ::waitpid(host, &status, 0);
}

} // namespace
} // namespace recovery
