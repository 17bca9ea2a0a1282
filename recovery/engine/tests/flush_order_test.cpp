// The order in which copies reach the disk and get their names, seen from the
// calls they make: this test program puts its own write, flush and naming
// functions in front of the C library's, records each call on a file of the
// device root, and passes it on. A copy must be flushed (fsync, fdatasync or
// a syncfs of its file system, after its last write) before it is named, and
// a tree copy must flush the names it gave before it returns.

#include <platform/system/files.h>
#include <platform/system/named_mutex.h>
#include <platform/system/testing.h>
#include <recovery/engine/copy_engine.h>

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

struct Inode {
    dev_t device = 0;
    ino_t number = 0;
    auto operator<=>(const Inode&) const = default;
};

enum class Kind { Write, Flush, FlushAll, Name };

// One recorded call. Flushes keep when they began and ended; writes when
// they ended; names when they began (a flush that began after a write ended
// covers it, and a name must begin after the flush ended).
struct Event {
    Kind kind;
    Inode inode; ///< the file, or any file of the file system for a syncfs
    bool wholeFileSystem = false;
    Inode folder; ///< of a name
    std::string leaf;
    long begin = 0;
    long end = 0;
};

std::atomic<bool> g_recording{false};
std::atomic<long> g_clock{0};
std::mutex g_mutex;
std::vector<Event> g_events;

std::optional<Inode> InodeOf(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        return std::nullopt;
    }
    return Inode{st.st_dev, st.st_ino};
}

std::optional<Inode> RegularFileOf(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        return std::nullopt;
    }
    return Inode{st.st_dev, st.st_ino};
}

std::optional<Inode> InodeAt(int folder, const char* path, int flags) {
    struct stat st {};
    if (::fstatat(folder, path, &st, flags) != 0) {
        return std::nullopt;
    }
    return Inode{st.st_dev, st.st_ino};
}

void Record(Event event) {
    std::lock_guard lock(g_mutex);
    g_events.push_back(std::move(event));
}

template <typename Function>
Function* Next(const char* name) {
    return reinterpret_cast<Function*>(::dlsym(RTLD_NEXT, name));
}

// A write of data to a file, recorded when it returns.
template <typename Result>
Result Wrote(int fd, Result result) {
    if (result > 0 && g_recording) {
        if (const std::optional<Inode> inode = RegularFileOf(fd)) {
            const long now = ++g_clock;
            Record({Kind::Write, *inode, false, {}, {}, now, now});
        }
    }
    return result;
}

// A flush: what it covers is known before it runs.
int Flushed(int fd, bool wholeFileSystem, const std::function<int()>& call) {
    if (!g_recording) {
        return call();
    }
    const std::optional<Inode> inode = InodeOf(fd);
    const long begin = ++g_clock;
    const int result = call();
    const long end = ++g_clock;
    if (result == 0 && inode) {
        Record({Kind::Flush, *inode, wholeFileSystem, {}, {}, begin, end});
    }
    return result;
}

std::optional<Inode> FolderOf(int folder, const char* path) {
    const std::string text = path;
    const std::size_t slash = text.rfind('/');
    if (slash == std::string::npos) {
        return folder == AT_FDCWD ? InodeAt(AT_FDCWD, ".", 0) : InodeOf(folder);
    }
    return InodeAt(folder, text.substr(0, slash + 1).c_str(), 0);
}

// The files below a folder, found before it is renamed: its renaming names
// them all.
void FilesBelow(int folder, std::vector<Inode>& files) {
    DIR* dir = ::fdopendir(folder);
    if (!dir) {
        ::close(folder);
        return;
    }
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        struct stat st {};
        if (name == "." || name == ".." ||
            ::fstatat(::dirfd(dir), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            continue;
        }
        if (S_ISREG(st.st_mode)) {
            files.push_back({st.st_dev, st.st_ino});
        } else if (S_ISDIR(st.st_mode)) {
            FilesBelow(::openat(::dirfd(dir), name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC),
                       files);
        }
    }
    ::closedir(dir);
}

// What a link or rename names: the file, or every file below a folder.
std::vector<Inode> NamedBy(int folder, const char* path, int flags) {
    std::vector<Inode> named;
    struct stat st {};
    if (::fstatat(folder, path, &st, flags) != 0) {
        return named;
    }
    if (S_ISDIR(st.st_mode)) {
        FilesBelow(::openat(folder, path, O_RDONLY | O_DIRECTORY | O_CLOEXEC), named);
    } else {
        named.push_back({st.st_dev, st.st_ino});
    }
    return named;
}

// A name given to files: which ones is known before the call.
int Named(const std::vector<Inode>& inodes, int folder, const char* path,
          const std::function<int()>& call) {
    if (!g_recording || inodes.empty()) {
        return call();
    }
    const std::optional<Inode> into = FolderOf(folder, path);
    const long begin = ++g_clock;
    const int result = call();
    const long end = ++g_clock;
    const std::string text = path;
    if (result == 0 && into) {
        for (const Inode& inode : inodes) {
            Record({Kind::Name, inode, false, *into, text.substr(text.rfind('/') + 1), begin, end});
        }
    }
    return result;
}

} // namespace

extern "C" {

ssize_t write(int fd, const void* data, size_t size) {
    static auto* next = Next<ssize_t(int, const void*, size_t)>("write");
    return Wrote(fd, next(fd, data, size));
}

ssize_t pwrite(int fd, const void* data, size_t size, off_t offset) {
    static auto* next = Next<ssize_t(int, const void*, size_t, off_t)>("pwrite");
    return Wrote(fd, next(fd, data, size, offset));
}

ssize_t pwrite64(int fd, const void* data, size_t size, off64_t offset) {
    static auto* next = Next<ssize_t(int, const void*, size_t, off64_t)>("pwrite64");
    return Wrote(fd, next(fd, data, size, offset));
}

ssize_t copy_file_range(int in, off64_t* inAt, int out, off64_t* outAt, size_t size,
                        unsigned int flags) {
    static auto* next =
        Next<ssize_t(int, off64_t*, int, off64_t*, size_t, unsigned int)>("copy_file_range");
    return Wrote(out, next(in, inAt, out, outAt, size, flags));
}

int fsync(int fd) {
    static auto* next = Next<int(int)>("fsync");
    return Flushed(fd, false, [&] { return next(fd); });
}

int fdatasync(int fd) {
    static auto* next = Next<int(int)>("fdatasync");
    return Flushed(fd, false, [&] { return next(fd); });
}

int syncfs(int fd) {
    static auto* next = Next<int(int)>("syncfs");
    return Flushed(fd, true, [&] { return next(fd); });
}

void sync() {
    static auto* next = Next<void()>("sync");
    if (!g_recording) {
        next();
        return;
    }
    const long begin = ++g_clock;
    next();
    const long end = ++g_clock;
    Record({Kind::FlushAll, {}, true, {}, {}, begin, end});
}

int linkat(int oldFolder, const char* oldPath, int newFolder, const char* newPath, int flags) {
    static auto* next = Next<int(int, const char*, int, const char*, int)>("linkat");
    std::vector<Inode> inodes;
    if (g_recording) {
        if ((flags & AT_EMPTY_PATH) && oldPath[0] == '\0') {
            if (const std::optional<Inode> inode = InodeOf(oldFolder)) {
                inodes.push_back(*inode);
            }
        } else {
            inodes =
                NamedBy(oldFolder, oldPath, (flags & AT_SYMLINK_FOLLOW) ? 0 : AT_SYMLINK_NOFOLLOW);
        }
    }
    return Named(inodes, newFolder, newPath,
                 [&] { return next(oldFolder, oldPath, newFolder, newPath, flags); });
}

int renameat(int oldFolder, const char* oldPath, int newFolder, const char* newPath) {
    static auto* next = Next<int(int, const char*, int, const char*)>("renameat");
    std::vector<Inode> inodes;
    if (g_recording) {
        inodes = NamedBy(oldFolder, oldPath, AT_SYMLINK_NOFOLLOW);
    }
    return Named(inodes, newFolder, newPath,
                 [&] { return next(oldFolder, oldPath, newFolder, newPath); });
}

int renameat2(int oldFolder, const char* oldPath, int newFolder, const char* newPath,
              unsigned int flags) {
    static auto* next = Next<int(int, const char*, int, const char*, unsigned int)>("renameat2");
    std::vector<Inode> inodes;
    if (g_recording) {
        inodes = NamedBy(oldFolder, oldPath, AT_SYMLINK_NOFOLLOW);
    }
    return Named(inodes, newFolder, newPath,
                 [&] { return next(oldFolder, oldPath, newFolder, newPath, flags); });
}

} // extern "C"

namespace recovery {
namespace {

namespace fs = std::filesystem;
namespace sys = hh::sys;
using namespace hh::sys::testing;

// Whether a flush covers a file (or folder).
bool Covers(const Event& flush, const Inode& inode) {
    if (flush.kind == Kind::FlushAll) {
        return true;
    }
    return flush.kind == Kind::Flush &&
           (flush.wholeFileSystem ? flush.inode.device == inode.device : flush.inode == inode);
}

bool FlushedBetween(const std::vector<Event>& events, const Inode& inode, long after, long before) {
    for (const Event& e : events) {
        if (Covers(e, inode) && e.begin > after && e.end < before) {
            return true;
        }
    }
    return false;
}

// The faults in a record: names given to data not yet on the disk, and, when
// the names must be flushed too, names not on the disk at returnedAt.
std::vector<std::string> Faults(const std::vector<Event>& events, bool namesFlushed,
                                long returnedAt) {
    std::vector<std::string> faults;
    long lastName = 0;
    std::set<Inode> folders;
    for (const Event& name : events) {
        if (name.kind != Kind::Name) {
            continue;
        }
        long lastWrite = 0;
        for (const Event& e : events) {
            if (e.kind == Kind::Write && e.inode == name.inode && e.end < name.begin) {
                lastWrite = std::max(lastWrite, e.end);
            }
        }
        if (!FlushedBetween(events, name.inode, lastWrite, name.begin)) {
            faults.push_back(name.leaf + " was named before its data was flushed");
        }
        folders.insert(name.folder);
        lastName = std::max(lastName, name.end);
    }
    if (namesFlushed) {
        for (const Inode& folder : folders) {
            if (!FlushedBetween(events, folder, lastName, returnedAt)) {
                faults.push_back("names were not flushed before the copy returned");
            }
        }
    }
    return faults;
}

// The folders of the device root on a file system that keeps its files over
// a power loss (on one in memory there is nothing to flush): the temporary
// folder, or else the test's working folder.
std::optional<std::string> DiskFolder() {
    auto onDisk = [](const std::string& folder) {
        struct statfs st {};
        return ::statfs(folder.c_str(), &st) == 0 && st.f_type != TMPFS_MAGIC &&
               st.f_type != RAMFS_MAGIC;
    };
    const std::string temporary = fs::temp_directory_path().string();
    if (onDisk(temporary)) {
        return temporary;
    }
    const std::string working = fs::current_path().string();
    return onDisk(working) ? std::optional<std::string>(working) : std::nullopt;
}

struct FileSpec {
    std::string path; ///< below the folder copied
    std::size_t size;
};

enum class Operation { CopyOneFile, CopyTree };

struct OrderCase {
    const char* name;
    std::vector<FileSpec> sources; ///< below \SDMMC\Src
    std::vector<FileSpec> old;     ///< below \ResidentFlash\Dst, before the copy
    Operation operation;
};

void PrintTo(const OrderCase& c, std::ostream* os) {
    *os << c.name;
}

std::vector<FileSpec> SmallTree(int folders, int files) {
    std::vector<FileSpec> tree;
    for (int folder = 0; folder < folders; ++folder) {
        for (int file = 0; file < files; ++file) {
            tree.push_back({"d" + std::to_string(folder) + "/f" + std::to_string(file) + ".dat",
                            static_cast<std::size_t>(100 + (folder * files + file) * 37 % 3000)});
        }
    }
    return tree;
}

// Folders with names long enough to be made under a temporary name, some in
// others, with files at every level.
std::vector<FileSpec> NewFolders() {
    std::vector<FileSpec> tree;
    for (const char* folder : {"maps/", "maps/europe/", "voices/", "voices/en/deep/"}) {
        for (int file = 0; file < 12; ++file) {
            tree.push_back({std::string(folder) + "f" + std::to_string(file) + ".dat",
                            static_cast<std::size_t>(200 + file * 111)});
        }
    }
    tree.push_back({"top.dat", 900});
    return tree;
}

class FlushOrderTest : public ::testing::TestWithParam<OrderCase> {
protected:
    void SetUp() override {
        const std::optional<std::string> disk = DiskFolder();
        if (!disk) {
            GTEST_SKIP() << "neither the temporary nor the working folder is on a disk";
        }
        if (const char* saved = std::getenv("TMPDIR")) {
            savedTmp_ = saved;
        }
        ::setenv("TMPDIR", disk->c_str(), 1);
        device_.emplace();
        ASSERT_TRUE(device_->ok());
        mutex_ = sys::Mutex::Create(false, "MUTEX_FOR_COPY");
    }

    void TearDown() override {
        g_recording = false;
        mutex_.close();
        device_.reset();
        if (savedTmp_) {
            ::setenv("TMPDIR", savedTmp_->c_str(), 1);
        } else {
            ::unsetenv("TMPDIR");
        }
    }

    fs::path Root() const { return device_->root(); }

    static void Make(const fs::path& base, const std::vector<FileSpec>& files, char fill) {
        for (const FileSpec& file : files) {
            WriteHost(base / file.path, std::string(file.size, fill));
        }
    }

    // Runs the operation with the calls recorded; returns the record and when
    // the operation returned.
    std::pair<std::vector<Event>, long> Recorded(const std::function<bool()>& operation) {
        {
            std::lock_guard lock(g_mutex);
            g_events.clear();
        }
        g_recording = true;
        const bool ok = operation();
        const long returnedAt = ++g_clock;
        g_recording = false;
        EXPECT_TRUE(ok);
        std::lock_guard lock(g_mutex);
        return {g_events, returnedAt};
    }

    std::optional<std::string> savedTmp_;
    std::optional<TempDeviceRoot> device_;
    sys::Mutex mutex_;
};

TEST_P(FlushOrderTest, EveryCopyIsOnTheDiskBeforeItIsNamed) {
    const OrderCase& c = GetParam();
    Make(Root() / "SDMMC/Src", c.sources, 'n');
    Make(Root() / "ResidentFlash/Dst", c.old, 'o');
    fs::create_directories(Root() / "ResidentFlash/Dst");
    const auto [events, returnedAt] = Recorded([&] {
        if (c.operation == Operation::CopyOneFile) {
            return sys::CopyFile(u"\\SDMMC\\Src\\a.dat", u"\\ResidentFlash\\Dst\\a.dat", false);
        }
        uint32_t counter = 0;
        return CopyTree(u"\\*", u"\\SDMMC\\Src", u"\\ResidentFlash\\Dst", counter, mutex_) == 1;
    });
    // Each copy was recorded: written, and named (by a link, a rename from a
    // temporary name, or the renaming of a folder made under one).
    std::set<Inode> named;
    std::set<Inode> written;
    for (const Event& e : events) {
        if (e.kind == Kind::Name && !e.leaf.starts_with(".~")) {
            named.insert(e.inode);
        }
        if (e.kind == Kind::Write) {
            written.insert(e.inode);
        }
    }
    EXPECT_EQ(named, written);
    EXPECT_EQ(written.size(), c.sources.size());
    EXPECT_EQ(Faults(events, c.operation == Operation::CopyTree, returnedAt),
              std::vector<std::string>{});
    for (const FileSpec& file : c.sources) {
        EXPECT_EQ(ReadHost(Root() / "ResidentFlash/Dst" / file.path).size(), file.size)
            << file.path;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Copies, FlushOrderTest,
    ::testing::Values(
        OrderCase{"one_new_file", {{"a.dat", 5000}}, {}, Operation::CopyOneFile},
        OrderCase{
            "one_file_over_an_old_one", {{"a.dat", 5000}}, {{"a.dat", 70}}, Operation::CopyOneFile},
        OrderCase{"tree_of_small_files", SmallTree(3, 40), {}, Operation::CopyTree},
        OrderCase{"tree_of_new_folders", NewFolders(), {}, Operation::CopyTree},
        OrderCase{"tree_over_old_files", SmallTree(2, 30), SmallTree(2, 30), Operation::CopyTree},
        OrderCase{"large_file_in_pieces_among_small_ones",
                  {{"a.dat", 300}, {"map.bin", (70u << 20) + 123}, {"z.dat", 4000}},
                  {},
                  Operation::CopyTree}),
    [](const auto& info) { return std::string(info.param.name); });

// The record itself finds the fault it is there for: a file written unnamed
// and named without a flush, and a name that is not flushed afterwards.
TEST_F(FlushOrderTest, FindsANameGivenBeforeTheFlush) {
    const fs::path folder = Root() / "ResidentFlash";
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(dir, 0);
    const auto [events, returnedAt] = Recorded([&] {
        const int fd = ::openat(dir, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0644);
        const bool ok = fd >= 0 && ::write(fd, "data", 4) == 4 &&
                        ::linkat(fd, "", dir, "torn.dat", AT_EMPTY_PATH) == 0;
        ::close(fd);
        return ok;
    });
    ::close(dir);
    EXPECT_EQ(Faults(events, true, returnedAt),
              (std::vector<std::string>{"torn.dat was named before its data was flushed",
                                        "names were not flushed before the copy returned"}));
}

} // namespace
} // namespace recovery
