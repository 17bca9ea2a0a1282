#include <platform/system/error.h>
#include <platform/system/files.h>
#include <platform/system/module_path.h>
#include <platform/system/process.h>
#include <platform/system/testing.h>

#include <algorithm>
#include <csignal>

namespace hh::sys {
namespace {

using namespace testing;

class ProcessTest : public DeviceRootTest {
protected:
    void SetUp() override {
        DeviceRootTest::SetUp();
        std::filesystem::create_directories(root_ / "SDMMC/Marolt");
        std::filesystem::copy_file("/bin/sleep", root_ / "SDMMC/Marolt/nav.exe");
        std::filesystem::copy_file("/bin/sleep", root_ / ".device/hidden.exe");
    }

    static std::vector<ProcessEntry> Listed(uint32_t pid) {
        std::vector<ProcessEntry> found;
        auto snapshot = ProcessSnapshot::Take();
        EXPECT_TRUE(snapshot.has_value());
        ProcessEntry entry;
        for (bool more = snapshot->First(entry); more; more = snapshot->Next(entry)) {
            if (entry.processId == pid) {
                found.push_back(entry);
            }
        }
        EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
        return found;
    }
};

TEST_F(ProcessTest, SnapshotListsOnlyProgramsInsideTheRoot) {
    Process nav = StartDeviceProcess(u"\\sdmmc\\marolt\\NAV.EXE", {"30"});
    ASSERT_TRUE(nav) << GetLastError();
    const auto listed = Listed(nav.Id());
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].exeFile, u"nav.exe");

    // The same program run from outside the root, and this test itself, are
    // host processes: not listed and not to be opened.
    const pid_t host = ::fork();
    if (host == 0) {
        ::execl("/bin/sleep", "sleep", "30", nullptr);
        ::_exit(127);
    }
    auto snapshot = ProcessSnapshot::Take();
    ASSERT_TRUE(snapshot);
    for (const auto& entry : snapshot->Entries()) {
        EXPECT_NE(entry.processId, static_cast<uint32_t>(host));
        EXPECT_NE(entry.processId, static_cast<uint32_t>(::getpid()));
    }
    EXPECT_TRUE(Listed(static_cast<uint32_t>(host)).empty());
    EXPECT_FALSE(OpenProcess(PROCESS_TERMINATE, false, static_cast<uint32_t>(host)));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(OpenProcess(PROCESS_TERMINATE, false, static_cast<uint32_t>(::getpid())));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    ::kill(host, SIGKILL);
    ::waitpid(host, nullptr, 0);

    EXPECT_TRUE(nav.Terminate(0));
    EXPECT_TRUE(nav.Wait(INFINITE));
}

TEST_F(ProcessTest, TerminatesAndWaitsForADeviceProgram) {
    Process started = StartDeviceProcess(u"\\SDMMC\\Marolt\\nav.exe", {"30"});
    ASSERT_TRUE(started);
    uint32_t code = 0;
    ASSERT_TRUE(started.GetExitCode(code));
    EXPECT_EQ(code, STILL_ACTIVE);
    EXPECT_FALSE(started.Wait(20));
    EXPECT_EQ(GetLastError(), ERROR_TIMEOUT);

    // What the recovery does: find it by name, open it, end it, wait.
    Process opened = OpenProcess(PROCESS_TERMINATE, false, started.Id());
    ASSERT_TRUE(opened) << GetLastError();
    EXPECT_TRUE(opened.Terminate(0));
    EXPECT_TRUE(opened.Wait(2500));
    EXPECT_FALSE(opened.GetExitCode(code));
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);

    EXPECT_TRUE(started.Wait(2500));
    ASSERT_TRUE(started.GetExitCode(code));
    EXPECT_EQ(code, static_cast<uint32_t>(SIGKILL));
    EXPECT_TRUE(Listed(started.Id()).empty());
    EXPECT_FALSE(opened.Terminate(0));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

TEST_F(ProcessTest, ReportsAProgramThatEndsByItself) {
    Process quick = StartDeviceProcess(u"\\SDMMC\\Marolt\\nav.exe", {"0"});
    ASSERT_TRUE(quick);
    EXPECT_TRUE(quick.Wait(INFINITE));
    uint32_t code = STILL_ACTIVE;
    ASSERT_TRUE(quick.GetExitCode(code));
    EXPECT_EQ(code, 0u);
}

TEST_F(ProcessTest, StartsOnlyFilesInsideTheRoot) {
    WriteHost(root_ / "SDMMC/Marolt/broken.exe", "not a program");
    std::filesystem::permissions(root_ / "SDMMC/Marolt/broken.exe",
                                 std::filesystem::perms::owner_all);
    const std::pair<std::u16string, uint32_t> cases[] = {
        {u"\\SDMMC\\Marolt\\none.exe", ERROR_FILE_NOT_FOUND},
        {u"\\SDMMC\\Marolt", ERROR_ACCESS_DENIED},
        {u"\\.device\\hidden.exe", ERROR_ACCESS_DENIED},
        {u"\\..\\outside\\x", ERROR_ACCESS_DENIED},
        {u"/bin/sleep", ERROR_ACCESS_DENIED},
    };
    for (const auto& [path, error] : cases) {
        SCOPED_TRACE(std::string(path.begin(), path.end()));
        EXPECT_FALSE(StartDeviceProcess(path, {"1"}));
        EXPECT_EQ(GetLastError(), error);
    }
    EXPECT_FALSE(StartDeviceProcess(u"\\SDMMC\\Marolt\\broken.exe", {}));
    EXPECT_NE(GetLastError(), ERROR_SUCCESS);
    EXPECT_FALSE(OpenProcess(PROCESS_TERMINATE, false, 0));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(ModulePathTest, NamesTheProgramFolderOnTheCard) {
    EXPECT_EQ(GetModuleName(), u"platform_system_file_tests");
    SetModuleName(u"VARDI");
    EXPECT_EQ(GetModuleFileName(), u"\\SDMMC\\VARDI\\VARDI.exe");

    char16_t buffer[100];
    EXPECT_EQ(GetModuleFileName(buffer), 22u);
    EXPECT_EQ(std::u16string(buffer), u"\\SDMMC\\VARDI\\VARDI.exe");
    char16_t small[8];
    SetLastError(0);
    EXPECT_EQ(GetModuleFileName(small), 8u);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(std::u16string(small), u"\\SDMMC\\");

    SetModuleName(u"");
    EXPECT_EQ(GetModuleFileName(),
              u"\\SDMMC\\platform_system_file_tests\\platform_system_file_tests.exe");
}

} // namespace
} // namespace hh::sys
