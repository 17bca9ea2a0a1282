#include <platform/system/device_root.h>
#include <platform/system/error.h>
#include <platform/system/files.h>
#include <platform/system/testing.h>
#include <platform/system/whole_file.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <filesystem>
#include <set>

namespace hh::sys {
namespace {

using namespace testing;

class WholeFileTest : public DeviceRootTest {
protected:
    std::set<std::string> Entries(const std::filesystem::path& folder) {
        std::set<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            names.insert(entry.path().filename().string());
        }
        return names;
    }
};

struct ReadCase {
    const char* name;
    const char16_t* path;
    std::size_t maxSize;
    std::optional<std::string> expected;
    uint32_t error;
};

TEST_F(WholeFileTest, ReadsWholeFilesAndRefusesWhatItMayNot) {
    WriteHost(root_ / "SDMMC/a.txt", "hello");
    WriteHost(root_ / "SDMMC/empty.txt", "");
    WriteHost(outside_ / "secret.txt", "secret");
    WriteHost(root_ / kDeviceStateFolder / "boot", "1");
    std::filesystem::create_symlink(outside_ / "secret.txt", root_ / "SDMMC/out.txt");
    std::filesystem::create_symlink("a.txt", root_ / "SDMMC/in.txt");
    const ReadCase cases[] = {
        {"whole_file", u"\\SDMMC\\a.txt", 100, "hello", 0},
        {"exactly_the_limit", u"\\SDMMC\\a.txt", 5, "hello", 0},
        {"any_case", u"\\sdmmc\\A.TXT", 100, "hello", 0},
        {"empty_file", u"\\SDMMC\\empty.txt", 0, "", 0},
        {"link_inside", u"\\SDMMC\\in.txt", 100, "hello", 0},
        {"over_the_limit", u"\\SDMMC\\a.txt", 4, std::nullopt, ERROR_FILE_TOO_LARGE},
        {"missing_file", u"\\SDMMC\\b.txt", 100, std::nullopt, ERROR_FILE_NOT_FOUND},
        {"missing_folder", u"\\SDMMC\\x\\b.txt", 100, std::nullopt, ERROR_PATH_NOT_FOUND},
        {"folder", u"\\SDMMC", 100, std::nullopt, ERROR_ACCESS_DENIED},
        {"root", u"\\", 100, std::nullopt, ERROR_ACCESS_DENIED},
        {"link_outside", u"\\SDMMC\\out.txt", 100, std::nullopt, ERROR_ACCESS_DENIED},
        {"dot_dot_outside", u"\\..\\outside\\secret.txt", 100, std::nullopt, ERROR_ACCESS_DENIED},
        {"state_folder", u"\\.device\\boot", 100, std::nullopt, ERROR_ACCESS_DENIED},
    };
    for (const ReadCase& c : cases) {
        SetLastError(0);
        const std::optional<std::string> got = ReadWholeFile(c.path, c.maxSize);
        EXPECT_EQ(got, c.expected) << c.name;
        if (!c.expected) {
            EXPECT_EQ(GetLastError(), c.error) << c.name;
        }
    }
}

TEST_F(WholeFileTest, ReplacesDurablyKeepingModeAndAttributesAndNoTemporary) {
    WriteHost(root_ / "SDMMC/Path.xml", std::string(100000, 'x'));
    ::chmod((root_ / "SDMMC/Path.xml").c_str(), 0640);
    ASSERT_TRUE(SetFileAttributes(u"\\SDMMC\\Path.xml", FILE_ATTRIBUTE_HIDDEN));

    ASSERT_TRUE(ReplaceFileDurably(u"\\SDMMC\\path.XML", "new"));
    EXPECT_EQ(ReadHost(root_ / "SDMMC/Path.xml"), "new");
    EXPECT_EQ(Entries(root_ / "SDMMC"), std::set<std::string>{"Path.xml"});
    EXPECT_EQ(GetFileAttributes(u"\\SDMMC\\Path.xml"), FILE_ATTRIBUTE_HIDDEN);
    struct stat st {};
    ASSERT_EQ(::stat((root_ / "SDMMC/Path.xml").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);

    ASSERT_TRUE(ReplaceFileDurably(u"\\SDMMC\\new.txt", "created"));
    EXPECT_EQ(ReadHost(root_ / "SDMMC/new.txt"), "created");
    EXPECT_EQ(Entries(root_ / "SDMMC"), (std::set<std::string>{"Path.xml", "new.txt"}));
}

TEST_F(WholeFileTest, ReplacementWritesThroughALinkInsideTheRoot) {
    WriteHost(root_ / "SDMMC/real/real.xml", "old");
    std::filesystem::create_symlink("real/real.xml", root_ / "SDMMC/Path.xml");
    ASSERT_TRUE(ReplaceFileDurably(u"\\SDMMC\\Path.xml", "new"));
    EXPECT_TRUE(std::filesystem::is_symlink(root_ / "SDMMC/Path.xml"));
    EXPECT_EQ(ReadHost(root_ / "SDMMC/real/real.xml"), "new");
    EXPECT_EQ(Entries(root_ / "SDMMC/real"), std::set<std::string>{"real.xml"});
}

TEST_F(WholeFileTest, RefusedReplacementsLeaveEverythingAsItWas) {
    WriteHost(outside_ / "victim.txt", "outside");
    std::filesystem::create_symlink(outside_ / "victim.txt", root_ / "SDMMC/out.xml");
    std::filesystem::create_symlink("../../outside", root_ / "SDMMC/away");
    WriteHost(root_ / "SDMMC/ro.xml", "old");
    ASSERT_TRUE(SetFileAttributes(u"\\SDMMC\\ro.xml", FILE_ATTRIBUTE_READONLY));
    std::filesystem::create_directories(root_ / "SDMMC/folder");
    struct Case {
        const char* name;
        const char16_t* path;
        uint32_t error;
    };
    const Case cases[] = {
        {"link_leading_outside", u"\\SDMMC\\out.xml", ERROR_ACCESS_DENIED},
        {"folder_link_leading_outside", u"\\SDMMC\\away\\victim.txt", ERROR_ACCESS_DENIED},
        {"read_only", u"\\SDMMC\\ro.xml", ERROR_ACCESS_DENIED},
        {"a_folder", u"\\SDMMC\\folder", ERROR_ACCESS_DENIED},
        {"the_root", u"\\", ERROR_ACCESS_DENIED},
        {"missing_folder", u"\\SDMMC\\none\\a.xml", ERROR_PATH_NOT_FOUND},
        {"state_folder", u"\\.device\\recover_flag", ERROR_ACCESS_DENIED},
    };
    for (const Case& c : cases) {
        SetLastError(0);
        EXPECT_FALSE(ReplaceFileDurably(c.path, "new")) << c.name;
        EXPECT_EQ(GetLastError(), c.error) << c.name;
    }
    EXPECT_EQ(ReadHost(outside_ / "victim.txt"), "outside");
    EXPECT_EQ(Entries(outside_), std::set<std::string>{"victim.txt"});
    EXPECT_EQ(ReadHost(root_ / "SDMMC/ro.xml"), "old");
    EXPECT_EQ(Entries(root_ / "SDMMC"),
              (std::set<std::string>{"away", "folder", "out.xml", "ro.xml"}));
    EXPECT_FALSE(std::filesystem::exists(root_ / kDeviceStateFolder / "recover_flag"));
}

TEST_F(WholeFileTest, HostFilesAreReplacedWholeOrNotAtAll) {
    const std::filesystem::path report = outside_ / "report.csv";
    ASSERT_TRUE(ReplaceHostFileDurably(report.string(), "first"));
    ASSERT_TRUE(ReplaceHostFileDurably(report.string(), "second"));
    EXPECT_EQ(ReadHost(report), "second");
    EXPECT_EQ(Entries(outside_), std::set<std::string>{"report.csv"});

    std::filesystem::create_directories(outside_ / "folder");
    for (const std::filesystem::path& refused :
         {outside_ / "none" / "report.csv", outside_ / "folder", outside_ / ""}) {
        SetLastError(0);
        EXPECT_FALSE(ReplaceHostFileDurably(refused.string(), "x")) << refused;
        EXPECT_NE(GetLastError(), 0u) << refused;
    }
    EXPECT_EQ(Entries(outside_), (std::set<std::string>{"folder", "report.csv"}));
    EXPECT_TRUE(Entries(outside_ / "folder").empty());
}

TEST_F(WholeFileTest, StateFilesAreWrittenReadAndCreatedOnlyOnceWhenAsked) {
    std::filesystem::remove_all(root_);
    SetLastError(0);
    EXPECT_EQ(ReadStateFile("boot", 64), std::nullopt);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    EXPECT_FALSE(std::filesystem::exists(root_)) << "a read creates nothing";

    ASSERT_TRUE(WriteStateFile("boot", "1\n"));
    EXPECT_EQ(ReadHost(root_ / kDeviceStateFolder / "boot"), "1\n");
    EXPECT_FALSE(WriteStateFile("boot", "2\n", StateWrite::CreateNew));
    EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
    EXPECT_EQ(ReadStateFile("boot", 64), "1\n");
    ASSERT_TRUE(WriteStateFile("boot", "3\n"));
    EXPECT_EQ(ReadStateFile("boot", 64), "3\n");
    EXPECT_EQ(ReadStateFile("boot", 1), std::nullopt);
    EXPECT_EQ(GetLastError(), ERROR_FILE_TOO_LARGE);
    ASSERT_TRUE(WriteStateFile("fresh", "x", StateWrite::CreateNew));
    EXPECT_EQ(Entries(root_ / kDeviceStateFolder), (std::set<std::string>{"boot", "fresh"}));

    for (const char* name : {"", ".", "..", "a/b", "../boot"}) {
        EXPECT_FALSE(WriteStateFile(name, "x")) << name;
        EXPECT_EQ(GetLastError(), ERROR_INVALID_NAME) << name;
        EXPECT_EQ(ReadStateFile(name, 64), std::nullopt) << name;
    }
}

TEST_F(WholeFileTest, StateFilesFollowNoLink) {
    WriteHost(outside_ / "flag", "7\n");
    std::filesystem::create_symlink(outside_ / "flag", root_ / kDeviceStateFolder / "flag");
    EXPECT_EQ(ReadStateFile("flag", 64), std::nullopt);
    ASSERT_TRUE(WriteStateFile("flag", "8\n"));
    EXPECT_EQ(ReadHost(outside_ / "flag"), "7\n");
    EXPECT_FALSE(std::filesystem::is_symlink(root_ / kDeviceStateFolder / "flag"));

    std::filesystem::remove_all(root_ / kDeviceStateFolder);
    std::filesystem::create_directory_symlink(outside_, root_ / kDeviceStateFolder);
    EXPECT_FALSE(WriteStateFile("other", "x"));
    EXPECT_FALSE(std::filesystem::exists(outside_ / "other"));
}

// A top-level folder goes into the state folder and back by one rename that
// never replaces, and only single names outside the state folder are taken.
TEST_F(WholeFileTest, TopFoldersMoveIntoTheStateFolderAndBackWithoutReplacing) {
    WriteHost(root_ / "SDMMC/a.txt", "a");
    ASSERT_TRUE(MoveIntoStateFolder("SDMMC", "kept"));
    EXPECT_EQ(ReadHost(root_ / kDeviceStateFolder / "kept/a.txt"), "a");
    WriteHost(root_ / "SDMMC/b.txt", "b");
    EXPECT_FALSE(MoveIntoStateFolder("SDMMC", "kept"));
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_FALSE(MoveOutOfStateFolder("kept", "SDMMC"));
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_FALSE(RemoveEmptyTopFolder("SDMMC"));
    EXPECT_EQ(GetLastError(), ERROR_DIR_NOT_EMPTY);
    std::filesystem::remove(root_ / "SDMMC/b.txt");
    ASSERT_TRUE(RemoveEmptyTopFolder("SDMMC"));
    ASSERT_TRUE(MoveOutOfStateFolder("kept", "SDMMC"));
    EXPECT_EQ(ReadHost(root_ / "SDMMC/a.txt"), "a");
    for (const char* name : {"", ".", "..", "a/b", kDeviceStateFolder}) {
        EXPECT_FALSE(MoveIntoStateFolder(name, "kept")) << name;
        EXPECT_EQ(GetLastError(), ERROR_INVALID_NAME) << name;
        EXPECT_FALSE(RemoveEmptyTopFolder(name)) << name;
    }
    EXPECT_FALSE(MoveOutOfStateFolder("../SDMMC", "x"));
    EXPECT_TRUE(std::filesystem::exists(root_ / "SDMMC/a.txt"));
}

TEST_F(WholeFileTest, StateFileLockExcludesOtherProcesses) {
    StateFileLock lock("test.lock");
    ASSERT_TRUE(lock.Held());
    const int busy = RunInChild([&] {
        const int fd = ::open((root_ / kDeviceStateFolder / "test.lock").c_str(), O_RDWR);
        return fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK ? 1 : 0;
    });
    EXPECT_EQ(busy, 1);
}

} // namespace
} // namespace hh::sys
