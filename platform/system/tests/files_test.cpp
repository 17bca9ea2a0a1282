#include <platform/system/error.h>
#include <platform/system/files.h>
#include <platform/system/testing.h>

#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/xattr.h>

#include <algorithm>
#include <csignal>
#include <set>
#include <vector>

namespace hh::sys {
namespace {

using namespace testing;

std::span<const std::byte> Bytes(const std::string& text) {
    return std::as_bytes(std::span(text.data(), text.size()));
}

std::string ReadAll(std::u16string_view path) {
    File file = CreateFile(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    if (!file) {
        return "<cannot open>";
    }
    std::string text(*file.Size(), '\0');
    uint32_t read = 0;
    file.Read(std::as_writable_bytes(std::span(text.data(), text.size())), read);
    return text.substr(0, read);
}

bool WriteAll(std::u16string_view path, const std::string& text) {
    File file = CreateFile(path, GENERIC_WRITE, 0, CREATE_ALWAYS);
    uint32_t written = 0;
    return file && file.Write(Bytes(text), written) && written == text.size();
}

std::vector<std::u16string> Names(std::u16string_view pattern) {
    std::vector<std::u16string> names;
    FindData data;
    FindHandle find = FindFirstFile(pattern, data);
    while (find) {
        names.push_back(data.fileName);
        if (!find.Next(data)) {
            EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
            break;
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

class FilesTest : public DeviceRootTest {};

TEST_F(FilesTest, DispositionsOnExistingAndMissingFiles) {
    struct Case {
        uint32_t disposition;
        bool exists;
        bool opens;
        uint32_t lastError;
        const char* contentAfter; // nullptr: no file
    };
    const Case cases[] = {
        {CREATE_NEW, false, true, ERROR_SUCCESS, ""},
        {CREATE_NEW, true, false, ERROR_FILE_EXISTS, "old"},
        {CREATE_ALWAYS, false, true, ERROR_SUCCESS, ""},
        {CREATE_ALWAYS, true, true, ERROR_ALREADY_EXISTS, ""},
        {OPEN_EXISTING, false, false, ERROR_FILE_NOT_FOUND, nullptr},
        {OPEN_EXISTING, true, true, ERROR_SUCCESS, "old"},
        {OPEN_ALWAYS, false, true, ERROR_SUCCESS, ""},
        {OPEN_ALWAYS, true, true, ERROR_ALREADY_EXISTS, "old"},
        {TRUNCATE_EXISTING, false, false, ERROR_FILE_NOT_FOUND, nullptr},
        {TRUNCATE_EXISTING, true, true, ERROR_SUCCESS, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << "disposition " << c.disposition << " exists " << c.exists);
        std::filesystem::remove(root_ / "SDMMC/d.txt");
        if (c.exists) {
            WriteHost(root_ / "SDMMC/d.txt", "old");
        }
        SetLastError(12345);
        File file = CreateFile(u"\\SDMMC\\d.txt", GENERIC_READ | GENERIC_WRITE, 0, c.disposition);
        EXPECT_EQ(file.IsOpen(), c.opens);
        EXPECT_EQ(GetLastError(), c.lastError);
        file.Close();
        if (c.contentAfter) {
            EXPECT_EQ(ReadHost(root_ / "SDMMC/d.txt"), c.contentAfter);
        } else {
            EXPECT_FALSE(std::filesystem::exists(root_ / "SDMMC/d.txt"));
        }
    }
    EXPECT_FALSE(CreateFile(u"\\SDMMC\\d.txt", GENERIC_READ, 0, 9));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(FilesTest, ReadsWritesSeeksAndAppends) {
    ASSERT_TRUE(WriteAll(u"\\SDMMC\\log.txt", "first"));
    {
        File file = CreateFile(u"\\SDMMC\\log.txt", GENERIC_WRITE, 0, OPEN_ALWAYS);
        ASSERT_TRUE(file);
        ASSERT_TRUE(file.SeekToEnd());
        uint32_t written = 0;
        const std::string more = std::string(" second") + '\0';
        ASSERT_TRUE(file.Write(Bytes(more), written));
        EXPECT_EQ(written, more.size());
        EXPECT_EQ(file.Size(), 13u);
        EXPECT_TRUE(file.Flush());
        std::byte buffer[4];
        uint32_t read = 7;
        EXPECT_FALSE(file.Read(buffer, read));
        EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    }
    File file = CreateFile(u"\\SDMMC\\log.txt", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    uint64_t position = 0;
    ASSERT_TRUE(file.Seek(6, FILE_BEGIN, &position));
    EXPECT_EQ(position, 6u);
    std::string tail(20, 'x');
    uint32_t read = 0;
    ASSERT_TRUE(file.Read(std::as_writable_bytes(std::span(tail.data(), tail.size())), read));
    EXPECT_EQ(tail.substr(0, read), std::string("second") + '\0');
    ASSERT_TRUE(file.Read(std::as_writable_bytes(std::span(tail.data(), tail.size())), read));
    EXPECT_EQ(read, 0u);
    uint32_t written = 0;
    EXPECT_FALSE(file.Write(Bytes("x"), written));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(file.Seek(0, 7));
}

TEST_F(FilesTest, FoldersOpenOnlyForReadingWithBackupSemantics) {
    EXPECT_FALSE(CreateFile(u"\\SDMMC", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(CreateFile(u"\\SDMMC", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS));
    EXPECT_FALSE(
        CreateFile(u"\\SDMMC", GENERIC_WRITE, 0, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS));
    EXPECT_FALSE(
        CreateFile(u"\\SDMMC\\none", GENERIC_READ, 0, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(FilesTest, SearchesWithPatternsWithoutDotEntries) {
    for (const char* name : {"a.txt", "B.TXT", "abc.map", "readme", "x.txt.bak"}) {
        WriteHost(root_ / "SDMMC/Data" / name, "x");
    }
    std::filesystem::create_directories(root_ / "SDMMC/Data/Maps");
    std::filesystem::create_directories(root_ / "SDMMC/Empty");
    struct Case {
        std::u16string pattern;
        std::vector<std::u16string> names;
        uint32_t error; // when nothing is found
    };
    const Case cases[] = {
        {u"\\SDMMC\\Data\\*",
         {u"B.TXT", u"Maps", u"a.txt", u"abc.map", u"readme", u"x.txt.bak"},
         0},
        {u"\\SDMMC\\Data\\*.*",
         {u"B.TXT", u"Maps", u"a.txt", u"abc.map", u"readme", u"x.txt.bak"},
         0},
        {u"\\sdmmc\\data\\*.txt", {u"B.TXT", u"a.txt"}, 0},
        {u"\\SDMMC\\Data\\a?c.*", {u"abc.map"}, 0},
        {u"\\SDMMC\\Data\\README", {u"readme"}, 0},
        {u"\\SDMMC\\Data\\*.exe", {}, ERROR_FILE_NOT_FOUND},
        {u"\\SDMMC\\Empty\\*", {}, ERROR_FILE_NOT_FOUND},
        {u"\\SDMMC\\Missing\\*", {}, ERROR_PATH_NOT_FOUND},
        {u"\\SDMMC\\Data\\a.txt\\*", {}, ERROR_PATH_NOT_FOUND},
        {u"\\*", {u"ResidentFlash", u"SDMMC"}, 0},
        {u"\\..\\*", {}, ERROR_ACCESS_DENIED},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.pattern.begin(), c.pattern.end()));
        EXPECT_EQ(Names(c.pattern), c.names);
        if (c.names.empty()) {
            EXPECT_EQ(GetLastError(), c.error);
        }
    }
}

TEST_F(FilesTest, SearchReportsAttributesAndSizes) {
    WriteHost(root_ / "SDMMC/Data/five.bin", "12345");
    std::filesystem::create_directories(root_ / "SDMMC/Data/Sub");
    ASSERT_TRUE(SetFileAttributes(u"\\SDMMC\\Data\\five.bin", FILE_ATTRIBUTE_HIDDEN));
    std::set<std::pair<std::u16string, std::pair<uint32_t, uint64_t>>> seen;
    FindData data;
    for (FindHandle find = FindFirstFile(u"\\SDMMC\\Data\\*", data); find;) {
        seen.insert({data.fileName, {data.attributes, data.size}});
        if (!find.Next(data)) {
            break;
        }
    }
    const std::set<std::pair<std::u16string, std::pair<uint32_t, uint64_t>>> expected = {
        {u"five.bin", {FILE_ATTRIBUTE_HIDDEN, 5}}, {u"Sub", {FILE_ATTRIBUTE_DIRECTORY, 0}}};
    EXPECT_EQ(seen, expected);
    seen.clear();
    for (FindHandle find = FindFirstFile(u"\\*", data); find;) {
        seen.insert({data.fileName, {data.attributes, data.size}});
        if (!find.Next(data)) {
            break;
        }
    }
    const std::set<std::pair<std::u16string, std::pair<uint32_t, uint64_t>>> volumes = {
        {u"ResidentFlash", {FILE_ATTRIBUTE_MOUNT_POINT, 0}},
        {u"SDMMC", {FILE_ATTRIBUTE_MOUNT_POINT, 0}}};
    EXPECT_EQ(seen, volumes);
}

TEST_F(FilesTest, MountPointMarkBelongsToTheVolumeRootsOnly) {
    std::filesystem::create_directories(root_ / "SDMMC/SDMMC");
    std::filesystem::create_directories(root_ / "SDMMC/Marked");
    std::filesystem::create_directories(root_ / "Windows");
    WriteHost(root_ / "SDMMC/f.txt", "");
    ASSERT_TRUE(
        SetFileAttributes(u"\\SDMMC\\Marked", FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_HIDDEN));
    const std::pair<std::u16string, uint32_t> cases[] = {
        {u"\\", FILE_ATTRIBUTE_DIRECTORY},
        {u"\\SDMMC", FILE_ATTRIBUTE_MOUNT_POINT},
        {u"\\sdmmc\\", FILE_ATTRIBUTE_MOUNT_POINT},
        {u"\\ResidentFlash", FILE_ATTRIBUTE_MOUNT_POINT},
        {u"\\Windows", FILE_ATTRIBUTE_DIRECTORY},
        {u"\\SDMMC\\SDMMC", FILE_ATTRIBUTE_DIRECTORY},
        {u"\\SDMMC\\Marked", 0x112},
        {u"\\SDMMC\\f.txt", FILE_ATTRIBUTE_NORMAL},
    };
    for (const auto& [path, attributes] : cases) {
        SCOPED_TRACE(std::string(path.begin(), path.end()));
        EXPECT_EQ(GetFileAttributes(path), attributes);
    }
    for (std::u16string_view volume : {u"\\", u"\\SDMMC", u"\\ResidentFlash"}) {
        EXPECT_FALSE(SetFileAttributes(volume, FILE_ATTRIBUTE_HIDDEN));
        EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
        EXPECT_FALSE(RemoveDirectory(volume));
        EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    }
    EXPECT_TRUE(std::filesystem::exists(root_ / "ResidentFlash"));
}

TEST_F(FilesTest, AttributesAreStoredAndSurviveTheProcess) {
    WriteHost(root_ / "SDMMC/a.inf", "x");
    const int child = RunInChild([] {
        return SetFileAttributes(u"\\SDMMC\\a.inf", FILE_ATTRIBUTE_READONLY |
                                                        FILE_ATTRIBUTE_HIDDEN |
                                                        FILE_ATTRIBUTE_SYSTEM)
                   ? 0
                   : 1;
    });
    ASSERT_EQ(child, 0);
    EXPECT_EQ(GetFileAttributes(u"\\SDMMC\\a.inf"), 0x7u);
    char raw[16] = {};
    ASSERT_GT(::getxattr((root_ / "SDMMC/a.inf").c_str(), "user.handheld.attributes", raw,
                         sizeof raw - 1),
              0);
    EXPECT_STREQ(raw, "0x7");

    EXPECT_TRUE(SetFileAttributes(u"\\SDMMC\\a.inf", FILE_ATTRIBUTE_DIRECTORY | 0x5));
    EXPECT_EQ(GetFileAttributes(u"\\SDMMC\\a.inf"), 0x5u);
    EXPECT_TRUE(SetFileAttributes(u"\\SDMMC\\a.inf", FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(GetFileAttributes(u"\\SDMMC\\a.inf"), FILE_ATTRIBUTE_NORMAL);
    EXPECT_FALSE(SetFileAttributes(u"\\SDMMC\\none", FILE_ATTRIBUTE_HIDDEN));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(FilesTest, ReadOnlyFilesCannotBeChangedEvenByRoot) {
    WriteHost(root_ / "SDMMC/ro.txt", "keep");
    WriteHost(root_ / "SDMMC/src.txt", "new");
    ASSERT_TRUE(
        SetFileAttributes(u"\\SDMMC\\ro.txt", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    struct Case {
        const char* what;
        std::function<bool()> attempt;
    };
    const Case cases[] = {
        {"open for writing",
         [] { return CreateFile(u"\\SDMMC\\ro.txt", GENERIC_WRITE, 0, OPEN_EXISTING).IsOpen(); }},
        {"open always for writing",
         [] { return CreateFile(u"\\SDMMC\\ro.txt", GENERIC_WRITE, 0, OPEN_ALWAYS).IsOpen(); }},
        {"create always",
         [] { return CreateFile(u"\\SDMMC\\ro.txt", GENERIC_READ, 0, CREATE_ALWAYS).IsOpen(); }},
        {"truncate",
         [] {
             return CreateFile(u"\\SDMMC\\ro.txt", GENERIC_WRITE, 0, TRUNCATE_EXISTING).IsOpen();
         }},
        {"delete", [] { return DeleteFile(u"\\SDMMC\\ro.txt"); }},
        {"copy over", [] { return CopyFile(u"\\SDMMC\\src.txt", u"\\SDMMC\\ro.txt", false); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SetLastError(0);
        EXPECT_FALSE(c.attempt());
        EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
        EXPECT_EQ(ReadHost(root_ / "SDMMC/ro.txt"), "keep");
    }
    EXPECT_EQ(ReadAll(u"\\SDMMC\\ro.txt"), "keep");

    // What the recovery does: clear read-only and hidden, keep the rest, copy.
    const uint32_t attributes = GetFileAttributes(u"\\SDMMC\\ro.txt");
    ASSERT_TRUE(SetFileAttributes(u"\\SDMMC\\ro.txt",
                                  attributes & ~(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN)));
    EXPECT_TRUE(CopyFile(u"\\SDMMC\\src.txt", u"\\SDMMC\\ro.txt", false));
    EXPECT_EQ(ReadAll(u"\\SDMMC\\ro.txt"), "new");
    EXPECT_EQ(GetFileAttributes(u"\\SDMMC\\ro.txt"), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(FilesTest, CreatesAndRemovesFolders) {
    EXPECT_TRUE(CreateDirectory(u"\\SDMMC\\New"));
    EXPECT_TRUE(std::filesystem::is_directory(root_ / "SDMMC/New"));
    WriteHost(root_ / "SDMMC/New/f", "");
    const std::tuple<const char*, std::function<bool()>, uint32_t> cases[] = {
        {"create existing", [] { return CreateDirectory(u"\\SDMMC\\new"); }, ERROR_ALREADY_EXISTS},
        {"create over a file", [] { return CreateDirectory(u"\\SDMMC\\New\\F"); },
         ERROR_ALREADY_EXISTS},
        {"create the root", [] { return CreateDirectory(u"\\"); }, ERROR_ALREADY_EXISTS},
        {"create without parent", [] { return CreateDirectory(u"\\SDMMC\\No\\Sub"); },
         ERROR_PATH_NOT_FOUND},
        {"remove non-empty", [] { return RemoveDirectory(u"\\SDMMC\\New"); }, ERROR_DIR_NOT_EMPTY},
        {"remove missing", [] { return RemoveDirectory(u"\\SDMMC\\None"); }, ERROR_FILE_NOT_FOUND},
        {"delete a folder", [] { return DeleteFile(u"\\SDMMC\\New"); }, ERROR_ACCESS_DENIED},
        {"delete missing", [] { return DeleteFile(u"\\SDMMC\\none.txt"); }, ERROR_FILE_NOT_FOUND},
    };
    for (const auto& [what, attempt, error] : cases) {
        SCOPED_TRACE(what);
        SetLastError(0);
        EXPECT_FALSE(attempt());
        EXPECT_EQ(GetLastError(), error);
    }
    EXPECT_TRUE(DeleteFile(u"\\SDMMC\\NEW\\F"));
    EXPECT_TRUE(RemoveDirectory(u"\\sdmmc\\new"));
    EXPECT_FALSE(std::filesystem::exists(root_ / "SDMMC/New"));
}

TEST_F(FilesTest, DeletingALinkLeavesWhatItPointsTo) {
    WriteHost(outside_ / "keep.txt", "outside");
    std::filesystem::create_symlink(outside_ / "keep.txt", root_ / "SDMMC/link.txt");
    FindData data;
    FindHandle find = FindFirstFile(u"\\SDMMC\\link.txt", data);
    ASSERT_TRUE(find);
    EXPECT_EQ(data.attributes, FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(data.size, 0u);
    EXPECT_TRUE(DeleteFile(u"\\SDMMC\\link.txt"));
    EXPECT_FALSE(std::filesystem::is_symlink(root_ / "SDMMC/link.txt"));
    EXPECT_EQ(ReadHost(outside_ / "keep.txt"), "outside");
}

TEST_F(FilesTest, CopiesDataAttributesAndTime) {
    std::string big(3 * 1024 * 1024 + 17, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) {
        big[i] = static_cast<char>(i * 7 + i / 4096);
    }
    WriteHost(root_ / "SDMMC/big.bin", big);
    ASSERT_TRUE(SetFileAttributes(u"\\SDMMC\\big.bin", FILE_ATTRIBUTE_SYSTEM));
    const auto mtime =
        std::filesystem::last_write_time(root_ / "SDMMC/big.bin") - std::chrono::hours(24);
    std::filesystem::last_write_time(root_ / "SDMMC/big.bin", mtime);

    ASSERT_TRUE(CopyFile(u"\\SDMMC\\big.bin", u"\\ResidentFlash\\big.bin", true));
    EXPECT_EQ(ReadHost(root_ / "ResidentFlash/big.bin"), big);
    EXPECT_EQ(GetFileAttributes(u"\\ResidentFlash\\big.bin"), FILE_ATTRIBUTE_SYSTEM);
    EXPECT_EQ(std::filesystem::last_write_time(root_ / "ResidentFlash/big.bin"), mtime);
    EXPECT_EQ(Names(u"\\ResidentFlash\\*"), std::vector<std::u16string>{u"big.bin"});

    WriteHost(root_ / "SDMMC/small.txt", "small");
    const std::tuple<const char*, std::u16string, std::u16string, bool, uint32_t> failures[] = {
        {"target exists", u"\\SDMMC\\small.txt", u"\\ResidentFlash\\BIG.BIN", true,
         ERROR_FILE_EXISTS},
        {"source missing", u"\\SDMMC\\none.txt", u"\\ResidentFlash\\x", false,
         ERROR_FILE_NOT_FOUND},
        {"source is a folder", u"\\SDMMC", u"\\ResidentFlash\\x", false, ERROR_ACCESS_DENIED},
        {"target is a folder", u"\\SDMMC\\small.txt", u"\\SDMMC", false, ERROR_ACCESS_DENIED},
        {"target folder missing", u"\\SDMMC\\small.txt", u"\\ResidentFlash\\No\\x", false,
         ERROR_PATH_NOT_FOUND},
    };
    for (const auto& [what, from, to, failIfExists, error] : failures) {
        SCOPED_TRACE(what);
        SetLastError(0);
        EXPECT_FALSE(CopyFile(from, to, failIfExists));
        EXPECT_EQ(GetLastError(), error);
    }
    EXPECT_EQ(ReadHost(root_ / "ResidentFlash/big.bin"), big);
    ASSERT_TRUE(CopyFile(u"\\SDMMC\\small.txt", u"\\ResidentFlash\\BIG.BIN", false));
    EXPECT_EQ(ReadHost(root_ / "ResidentFlash/big.bin"), "small");
    EXPECT_EQ(Names(u"\\ResidentFlash\\*"), std::vector<std::u16string>{u"big.bin"});
}

// A copy that runs out of room reports ERROR_DISK_FULL and leaves the old
// target and the folder as they were. Both checks run in a child process: one
// mounts a 64 KiB tmpfs in a private mount namespace, the other lowers
// RLIMIT_FSIZE (the kernel then answers EFBIG).
int CopyOntoFullDisk(const std::filesystem::path& folder) {
    const std::string big(256 * 1024, 'b');
    if (!WriteAll(u"\\SDMMC\\Small\\old.txt", "old contents")) {
        return 10;
    }
    if (CopyFile(u"\\ResidentFlash\\big.bin", u"\\SDMMC\\Small\\old.txt", false)) {
        return 12;
    }
    if (GetLastError() != ERROR_DISK_FULL) {
        return 13;
    }
    if (ReadAll(u"\\SDMMC\\Small\\old.txt") != "old contents") {
        return 14;
    }
    if (std::distance(std::filesystem::directory_iterator(folder), {}) != 1) {
        return 15;
    }
    File file = CreateFile(u"\\SDMMC\\Small\\fill.bin", GENERIC_WRITE, 0, CREATE_NEW);
    uint32_t written = 0;
    if (!file || file.Write(Bytes(big), written) || GetLastError() != ERROR_DISK_FULL ||
        written >= big.size()) {
        return 16;
    }
    return 0;
}

TEST_F(FilesTest, CopyToAFullVolumeKeepsTheOldTarget) {
    const auto folder = root_ / "SDMMC/Small";
    std::filesystem::create_directories(folder);
    WriteHost(root_ / "ResidentFlash/big.bin", std::string(256 * 1024, 'b'));
    const int tmpfs = RunInChild([&] {
        if (::unshare(CLONE_NEWNS) != 0 && ::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) {
            return 77;
        }
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr);
        if (::mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=64k") != 0) {
            return 77;
        }
        return CopyOntoFullDisk(folder);
    });
    if (tmpfs != 77) {
        EXPECT_EQ(tmpfs, 0) << "tmpfs";
    }
    const int limit = RunInChild([&] {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit small{64 * 1024, 64 * 1024};
        ::setrlimit(RLIMIT_FSIZE, &small);
        return CopyOntoFullDisk(folder);
    });
    EXPECT_EQ(limit, 0) << "RLIMIT_FSIZE";
    if (tmpfs == 77) {
        GTEST_SKIP() << "no mount namespace here: only the RLIMIT_FSIZE path ran";
    }
}

// A folder handle answers as the path functions do for folder + "\" + name.
TEST_F(FilesTest, FolderHandleAnswersLikeThePaths) {
    WriteHost(root_ / "SDMMC/Data/Nav.EXE", "nav");
    WriteHost(root_ / "ResidentFlash/f.txt", "flash");
    WriteHost(outside_ / "secret.txt", "secret");
    std::filesystem::create_directories(root_ / "SDMMC/Data/Sub");
    std::filesystem::create_symlink("../../ResidentFlash/f.txt", root_ / "SDMMC/Data/inside");
    std::filesystem::create_symlink(outside_ / "secret.txt", root_ / "SDMMC/Data/outside");
    std::filesystem::create_symlink("../../.device", root_ / "SDMMC/Data/state");
    std::filesystem::create_symlink("nowhere", root_ / "SDMMC/Data/dangling");
    ASSERT_TRUE(SetFileAttributes(u"\\SDMMC\\Data\\Nav.EXE", FILE_ATTRIBUTE_HIDDEN));
    const std::u16string names[] = {
        u"Nav.EXE", u"nav.exe", u"NAV.EXE",  u"Sub",      u"sub", u"inside",
        u"outside", u"state",   u"dangling", u"none.txt", u"a/b", u"a:b",
        u"a\\b",    u"*.exe",   u".",        u"..",       u"",    std::u16string(250, u'n'),
    };
    Directory folder = Directory::Open(u"\\sdmmc\\DATA");
    ASSERT_TRUE(folder);
    for (const std::u16string& name : names) {
        SCOPED_TRACE(std::string(name.begin(), name.end()));
        const std::u16string path = u"\\sdmmc\\DATA\\" + name;
        SetLastError(0);
        const uint32_t expected = GetFileAttributes(path);
        const uint32_t expectedError = expected == INVALID_FILE_ATTRIBUTES ? GetLastError() : 0;
        SetLastError(0);
        // A handle takes one component: no "\", no "." or ".." and not the folder itself.
        if (name.find(u'\\') != std::u16string::npos || name.empty() || name == u"." ||
            name == u"..") {
            EXPECT_EQ(folder.GetFileAttributes(name), INVALID_FILE_ATTRIBUTES);
            EXPECT_EQ(GetLastError(), ERROR_INVALID_NAME);
            continue;
        }
        EXPECT_EQ(folder.GetFileAttributes(name), expected);
        EXPECT_EQ(GetLastError(), expectedError);
    }
    EXPECT_EQ(folder.GetFileAttributes(u"nav.exe"), FILE_ATTRIBUTE_HIDDEN);

    Directory root = Directory::Open(u"");
    ASSERT_TRUE(root);
    const std::pair<std::u16string, uint32_t> atRoot[] = {
        {u"SDMMC", FILE_ATTRIBUTE_MOUNT_POINT},
        {u"residentflash", FILE_ATTRIBUTE_MOUNT_POINT},
        {u".device", INVALID_FILE_ATTRIBUTES},
        {u".DEVICE", INVALID_FILE_ATTRIBUTES},
    };
    for (const auto& [name, attributes] : atRoot) {
        SCOPED_TRACE(std::string(name.begin(), name.end()));
        EXPECT_EQ(root.GetFileAttributes(name), attributes);
        EXPECT_FALSE(root.SetFileAttributes(name, FILE_ATTRIBUTE_HIDDEN));
        EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    }
    EXPECT_TRUE(folder.SetFileAttributes(u"NAV.exe", FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(GetFileAttributes(u"\\SDMMC\\Data\\Nav.EXE"), FILE_ATTRIBUTE_READONLY);
    EXPECT_FALSE(folder.SetFileAttributes(u"outside", FILE_ATTRIBUTE_HIDDEN));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(folder.SetFileAttributes(u"none.txt", FILE_ATTRIBUTE_HIDDEN));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(FilesTest, FolderThatCannotBeOpenedFailsEveryCallWithItsError) {
    WriteHost(root_ / "SDMMC/file.txt", "x");
    WriteHost(root_ / "SDMMC/Src/a.txt", "a");
    std::filesystem::create_directory_symlink(outside_, root_ / "SDMMC/out");
    Directory source = Directory::Open(u"\\SDMMC\\Src");
    ASSERT_TRUE(source);
    const std::pair<std::u16string, uint32_t> cases[] = {
        {u"\\SDMMC\\Missing", ERROR_PATH_NOT_FOUND},
        {u"\\SDMMC\\Missing\\Deeper", ERROR_PATH_NOT_FOUND},
        {u"\\SDMMC\\file.txt", ERROR_PATH_NOT_FOUND},
        {u"\\SDMMC\\out", ERROR_ACCESS_DENIED},
        {u"\\SDMMC\\..\\..", ERROR_ACCESS_DENIED},
        {u"\\.device", ERROR_ACCESS_DENIED},
        {u"\\SDMMC\\" + std::u16string(255, u'x'), ERROR_FILENAME_EXCED_RANGE},
    };
    for (const auto& [path, error] : cases) {
        SCOPED_TRACE(std::string(path.begin(), path.end()));
        Directory folder = Directory::Open(path);
        EXPECT_FALSE(folder);
        EXPECT_EQ(GetLastError(), error);
        SetLastError(0);
        EXPECT_EQ(folder.GetFileAttributes(u"a.txt"), INVALID_FILE_ATTRIBUTES);
        EXPECT_EQ(GetLastError(), error);
        SetLastError(0);
        EXPECT_FALSE(folder.SetFileAttributes(u"a.txt", FILE_ATTRIBUTE_HIDDEN));
        EXPECT_EQ(GetLastError(), error);
        SetLastError(0);
        EXPECT_FALSE(CopyFile(source, u"a.txt", folder, u"a.txt", false));
        EXPECT_EQ(GetLastError(), error);
    }
    Directory none;
    EXPECT_FALSE(CopyFile(source, u"a.txt", none, u"a.txt", false));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_TRUE(std::filesystem::is_empty(outside_));
}

TEST_F(FilesTest, FolderCopiesReplaceNamesInAnyCaseAndKeepTheRules) {
    WriteHost(root_ / "SDMMC/Src/nav.exe", "new nav");
    WriteHost(root_ / "SDMMC/Src/ro.txt", "new ro");
    WriteHost(root_ / "SDMMC/Src/dir", "new dir");
    WriteHost(root_ / "ResidentFlash/Dst/NAV.EXE", "old nav");
    WriteHost(root_ / "ResidentFlash/Dst/ro.txt", "old ro");
    std::filesystem::create_directories(root_ / "ResidentFlash/Dst/DIR");
    ASSERT_TRUE(SetFileAttributes(u"\\SDMMC\\Src\\nav.exe", FILE_ATTRIBUTE_SYSTEM));
    ASSERT_TRUE(SetFileAttributes(u"\\ResidentFlash\\Dst\\ro.txt", FILE_ATTRIBUTE_READONLY));
    Directory from = Directory::Open(u"\\SDMMC\\Src");
    Directory to = Directory::Open(u"\\ResidentFlash\\Dst");
    ASSERT_TRUE(from && to);

    EXPECT_TRUE(CopyFile(from, u"NAV.exe", to, u"nav.exe", false));
    EXPECT_EQ(ReadHost(root_ / "ResidentFlash/Dst/NAV.EXE"), "new nav");
    EXPECT_EQ(to.GetFileAttributes(u"nav.exe"), FILE_ATTRIBUTE_SYSTEM);
    const std::tuple<const char*, std::u16string, std::u16string, bool, uint32_t> failures[] = {
        {"read-only target", u"ro.txt", u"RO.TXT", false, ERROR_ACCESS_DENIED},
        {"folder target", u"dir", u"dir", false, ERROR_ACCESS_DENIED},
        {"existing target", u"nav.exe", u"Nav.Exe", true, ERROR_FILE_EXISTS},
        {"missing source", u"none", u"none", false, ERROR_FILE_NOT_FOUND},
        {"dot-dot source", u"..", u"x", false, ERROR_INVALID_NAME},
        {"too long", u"nav.exe", std::u16string(250, u'x'), false, ERROR_FILENAME_EXCED_RANGE},
    };
    for (const auto& [what, source, target, failIfExists, error] : failures) {
        SCOPED_TRACE(what);
        SetLastError(0);
        EXPECT_FALSE(CopyFile(from, source, to, target, failIfExists));
        EXPECT_EQ(GetLastError(), error);
    }
    EXPECT_EQ(ReadHost(root_ / "ResidentFlash/Dst/ro.txt"), "old ro");

    // Names this handle creates are found in any case afterwards.
    EXPECT_TRUE(CopyFile(from, u"ro.txt", to, u"New.txt", true));
    EXPECT_TRUE(CopyFile(from, u"nav.exe", to, u"NEW.TXT", false));
    EXPECT_FALSE(CopyFile(from, u"nav.exe", to, u"new.TXT", true));
    EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
    EXPECT_EQ(ReadHost(root_ / "ResidentFlash/Dst/New.txt"), "new nav");
    std::vector<std::u16string> expected = {u"DIR", u"NAV.EXE", u"New.txt", u"ro.txt"};
    EXPECT_EQ(Names(u"\\ResidentFlash\\Dst\\*"), expected);

    // A name removed behind the handle's back is created again as written.
    std::filesystem::remove(root_ / "ResidentFlash/Dst/New.txt");
    EXPECT_EQ(to.GetFileAttributes(u"new.txt"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_TRUE(CopyFile(from, u"ro.txt", to, u"new.txt", true));
    EXPECT_EQ(ReadHost(root_ / "ResidentFlash/Dst/new.txt"), "new ro");
}

// A copy that fails on a new name leaves no file behind; one that fails over
// an old target leaves the old target.
TEST_F(FilesTest, FailedFolderCopyLeavesNothingHalfWritten) {
    WriteHost(root_ / "SDMMC/Src/big.bin", std::string(256 * 1024, 'b'));
    WriteHost(root_ / "ResidentFlash/old.bin", "old contents");
    const int result = RunInChild([] {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit small{64 * 1024, 64 * 1024};
        ::setrlimit(RLIMIT_FSIZE, &small);
        Directory from = Directory::Open(u"\\SDMMC\\Src");
        Directory to = Directory::Open(u"\\ResidentFlash");
        for (std::u16string_view target : {u"new.bin", u"OLD.BIN"}) {
            SetLastError(0);
            if (CopyFile(from, u"big.bin", to, target, false)) {
                return 1;
            }
            if (GetLastError() != ERROR_DISK_FULL) {
                return 2;
            }
        }
        return 0;
    });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(ReadHost(root_ / "ResidentFlash/old.bin"), "old contents");
    std::vector<std::u16string> expected = {u"old.bin"};
    EXPECT_EQ(Names(u"\\ResidentFlash\\*"), expected);
}

} // namespace
} // namespace hh::sys
