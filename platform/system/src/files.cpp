#include "platform/system/files.h"

#include "ce_path_internal.h"
#include "platform/system/ce_path.h"
#include "platform/system/device_root.h"
#include "platform/system/error.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <unordered_map>
#include <vector>

namespace hh::sys {

using namespace fs_detail;

namespace {

constexpr const char* kAttributeName = "user.handheld.attributes";
constexpr uint32_t kStoredBits = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                 FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                 FILE_ATTRIBUTE_TEMPORARY;

bool Fail(uint32_t error) {
    SetLastError(error);
    return false;
}

bool FailErrno(ErrnoContext context = ErrnoContext::Any) {
    SetLastErrorFromErrno(errno, context);
    return false;
}

bool NoUserXattrs(int e) {
    return e == ENOTSUP || e == EOPNOTSUPP;
}

// Stores the bits on an open descriptor (an O_PATH one through its /proc
// name); without user extended attributes read-only becomes the missing write
// permission and the rest is dropped.
bool WriteAttributes(int fd, uint32_t bits, bool pathOnly) {
    const std::string path = pathOnly ? ProcFdPath(fd) : std::string();
    int rc;
    if (bits == 0) {
        rc = pathOnly ? ::removexattr(path.c_str(), kAttributeName)
                      : ::fremovexattr(fd, kAttributeName);
        if (rc != 0 && errno == ENODATA) {
            rc = 0;
        }
    } else {
        char text[16];
        const int n = std::snprintf(text, sizeof text, "0x%X", bits);
        const auto size = static_cast<std::size_t>(n);
        rc = pathOnly ? ::setxattr(path.c_str(), kAttributeName, text, size, 0)
                      : ::fsetxattr(fd, kAttributeName, text, size, 0);
    }
    if (rc == 0 || !NoUserXattrs(errno)) {
        return rc == 0;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        return false;
    }
    mode_t mode = st.st_mode & 07777;
    mode = (bits & FILE_ATTRIBUTE_READONLY) ? (mode & ~mode_t(0222)) : (mode | S_IWUSR);
    return (pathOnly ? ::chmod(path.c_str(), mode) : ::fchmod(fd, mode)) == 0;
}

uint32_t ParseAttributes(char* text, ssize_t length) {
    text[length] = '\0';
    return static_cast<uint32_t>(std::strtoul(text, nullptr, 16)) & kStoredBits;
}

// What a file system without user extended attributes keeps: read-only.
uint32_t AttributesFromMode(const struct stat& st) {
    return !S_ISLNK(st.st_mode) && !(st.st_mode & S_IWUSR) ? FILE_ATTRIBUTE_READONLY : 0;
}

// The stored bits of a descriptor open for reading or writing.
uint32_t StoredAttributesOf(int fd) {
    char text[32];
    const ssize_t n = ::fgetxattr(fd, kAttributeName, text, sizeof text - 1);
    if (n >= 0) {
        return ParseAttributes(text, n);
    }
    struct stat st {};
    return NoUserXattrs(errno) && ::fstat(fd, &st) == 0 ? AttributesFromMode(st) : 0;
}

// What a file or folder reports; stored() reads the kept bits, which a
// volume root does not need.
template <typename Stored>
uint32_t Attributes(const struct stat& st, bool volumeRoot, Stored stored) {
    if (S_ISDIR(st.st_mode)) {
        return volumeRoot ? FILE_ATTRIBUTE_MOUNT_POINT : FILE_ATTRIBUTE_DIRECTORY | stored();
    }
    const uint32_t bits = stored();
    return bits ? bits : FILE_ATTRIBUTE_NORMAL;
}

uint32_t Attributes(const struct stat& st, const std::string& xattrPath, bool followLink,
                    bool volumeRoot) {
    return Attributes(st, volumeRoot, [&] { return StoredAttributes(xattrPath, followLink); });
}

// getxattrat (Linux 6.13) has this number on every architecture.
constexpr long kGetxattrat = 464;

struct XattrArgs {
    uint64_t value;
    uint32_t size;
    uint32_t flags;
};

// The stored bits of entry `name` of folder dirFd, the entry itself and not
// what a link leads to. getxattrat reads them without a walk through /proc;
// where the kernel lacks it (or a filter refuses it) the /proc name is used.
uint32_t StoredAttributesIn(int dirFd, const std::string& name) {
    static std::atomic<bool> noGetxattrat{false};
    if (!noGetxattrat.load(std::memory_order_relaxed)) {
        char text[32];
        XattrArgs args{reinterpret_cast<uintptr_t>(text), sizeof text - 1, 0};
        const long n = ::syscall(kGetxattrat, dirFd, name.c_str(), AT_SYMLINK_NOFOLLOW,
                                 kAttributeName, &args, sizeof args);
        if (n >= 0) {
            return ParseAttributes(text, n);
        }
        if (errno != ENOSYS && errno != EPERM) {
            struct stat st {};
            return NoUserXattrs(errno) &&
                           ::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0
                       ? AttributesFromMode(st)
                       : 0;
        }
        noGetxattrat.store(true, std::memory_order_relaxed);
    }
    return StoredAttributes(ProcFdPath(dirFd, name), false);
}

// Opens an existing file without blocking on a FIFO, then switches to blocking.
int OpenExisting(int rootFd, const std::string& rel, int flags) {
    const int fd = OpenBeneath(rootFd, rel, flags | O_NOCTTY | O_NONBLOCK);
    if (fd >= 0) {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    }
    return fd;
}

bool IsReadOnlyFile(int fd) {
    return (StoredAttributes(ProcFdPath(fd), true) & FILE_ATTRIBUTE_READONLY) != 0;
}

File CreateFileOnce(std::u16string_view path, uint32_t access, uint32_t disposition, uint32_t flags,
                    bool retry) {
    auto r = Resolve(path, Leaf::Follow);
    if (!r) {
        return {};
    }
    const bool wantsRead = (access & GENERIC_READ) != 0;
    const bool wantsWrite = (access & GENERIC_WRITE) != 0;
    const int mode = wantsWrite ? (wantsRead ? O_RDWR : O_WRONLY) : O_RDONLY;
    if (r->exists) {
        Fd probe(OpenBeneath(r->root.get(), r->rel, O_PATH));
        struct stat st {};
        if (!probe.valid() || ::fstat(probe.get(), &st) != 0) {
            FailErrno();
            return {};
        }
        if (S_ISDIR(st.st_mode)) {
            if (!(flags & FILE_FLAG_BACKUP_SEMANTICS) || wantsWrite ||
                (disposition != OPEN_EXISTING && disposition != OPEN_ALWAYS)) {
                Fail(ERROR_ACCESS_DENIED);
                return {};
            }
            const int fd = OpenBeneath(r->root.get(), r->rel, O_RDONLY | O_DIRECTORY);
            if (fd < 0) {
                FailErrno();
                return {};
            }
            SetLastError(disposition == OPEN_ALWAYS ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
            return File(fd, access & GENERIC_READ);
        }
        if (disposition == CREATE_NEW) {
            Fail(ERROR_FILE_EXISTS);
            return {};
        }
        const bool truncate = disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING;
        if (disposition == TRUNCATE_EXISTING && !wantsWrite) {
            Fail(ERROR_INVALID_PARAMETER);
            return {};
        }
        const int fd = OpenExisting(r->root.get(), r->rel, access ? mode : O_PATH);
        if (fd < 0) {
            FailErrno();
            return {};
        }
        File file(fd, access);
        // Checked on the opened file itself, so that a swapped name cannot slip
        // a read-only file past the check.
        if ((wantsWrite || truncate) && IsReadOnlyFile(fd)) {
            Fail(ERROR_ACCESS_DENIED);
            return {};
        }
        if (truncate) {
            Fd writer(wantsWrite ? ::fcntl(fd, F_DUPFD_CLOEXEC, 0)
                                 : OpenExisting(r->root.get(), r->rel, O_WRONLY));
            if (!writer.valid() || ::ftruncate(writer.get(), 0) != 0) {
                FailErrno();
                return {};
            }
        }
        SetLastError(disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS
                         ? ERROR_ALREADY_EXISTS
                         : ERROR_SUCCESS);
        return file;
    }
    if (disposition == OPEN_EXISTING || disposition == TRUNCATE_EXISTING) {
        Fail(ERROR_FILE_NOT_FOUND);
        return {};
    }
    const int fd =
        OpenAt2(r->parent.get(), r->leaf.c_str(), mode | O_CREAT | O_EXCL | O_NOCTTY, 0666, 0);
    if (fd < 0) {
        if (errno == EEXIST && disposition != CREATE_NEW && retry) {
            return CreateFileOnce(path, access, disposition, flags, false);
        }
        FailErrno(ErrnoContext::CreateFile);
        return {};
    }
    SetLastError(ERROR_SUCCESS);
    return File(fd, access);
}

// Moves the data with copy_file_range (reflinks and in-kernel copies where
// the file system offers them) and falls back to read and write.
bool CopyData(int in, int out, off_t expectedSize) {
    off_t copied = 0;
    bool kernelCopy = true;
    while (kernelCopy) {
        const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, 1 << 30, 0);
        if (n > 0) {
            copied += n;
            continue;
        }
        if (n == 0) {
            if (copied == 0 && expectedSize > 0) {
                kernelCopy = false; // a file whose size the kernel does not know
                continue;
            }
            return true;
        }
        if (errno == EINTR) {
            continue;
        }
        const bool unsupported = errno == EXDEV || errno == EINVAL || errno == ENOSYS ||
                                 errno == EOPNOTSUPP || errno == EBADF || errno == EPERM;
        if (copied == 0 && unsupported) {
            kernelCopy = false;
            continue;
        }
        return false;
    }
    std::vector<char> buffer(256 * 1024);
    for (;;) {
        const ssize_t n = ::read(in, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return n == 0;
        }
        for (ssize_t done = 0; done < n;) {
            const ssize_t w =
                ::write(out, buffer.data() + done, static_cast<std::size_t>(n - done));
            if (w < 0 && errno == EINTR) {
                continue;
            }
            if (w <= 0) {
                if (w == 0) {
                    errno = ENOSPC;
                }
                return false;
            }
            done += w;
        }
    }
}

std::string TemporaryName() {
    static std::atomic<unsigned> counter{0};
    return ".~hhcopy." + std::to_string(::getpid()) + "." + std::to_string(counter++) + ".tmp";
}

// Gives an unnamed file a name in parent: straight from its descriptor where
// the kernel allows that (Linux 6.10, or CAP_DAC_READ_SEARCH), otherwise
// through its /proc name. -1 with errno set on failure.
int LinkUnnamed(int fd, int parent, const char* name) {
    static std::atomic<bool> throughProc{false};
    if (!throughProc.load(std::memory_order_relaxed)) {
        if (::linkat(fd, "", parent, name, AT_EMPTY_PATH) == 0) {
            return 0;
        }
        if (errno != ENOENT && errno != EPERM) {
            return -1;
        }
    }
    const int rc = ::linkat(AT_FDCWD, ProcFdPath(fd).c_str(), parent, name, AT_SYMLINK_FOLLOW);
    if (rc == 0) {
        throughProc.store(true, std::memory_order_relaxed);
    }
    return rc;
}

std::u16string Folded(std::u16string_view name) {
    std::u16string folded(name);
    for (char16_t& c : folded) {
        c = FoldCase(c);
    }
    return folded;
}

// Where a copy goes: the folder, the name in it, the path from the root (to
// follow the entry when it is a link) and whether the name exists.
struct CopyTarget {
    int root;
    int folder;
    std::string rel;
    std::string leaf;
    bool exists;
};

// Removes the name of a file this process created, unless the name has
// been given to another file meanwhile.
void RemoveCreated(int folder, const char* name, int fd) {
    struct stat own {};
    struct stat named {};
    if (::fstat(fd, &own) == 0 && ::fstatat(folder, name, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
        own.st_dev == named.st_dev && own.st_ino == named.st_ino) {
        ::unlinkat(folder, name, 0);
    }
}

// Whether an existing target may be replaced: not a folder (nor a link to
// one), not read-only, and no failIfExists. False with the last error set.
bool MayReplace(const CopyTarget& target, bool failIfExists) {
    struct stat old {};
    if (::fstatat(target.folder, target.leaf.c_str(), &old, AT_SYMLINK_NOFOLLOW) != 0) {
        return FailErrno();
    }
    if (S_ISLNK(old.st_mode)) {
        // The link itself is replaced, but only when it is one the device
        // may follow: a link leading outside is refused like its path.
        Fd linked(OpenBeneath(target.root, target.rel, O_PATH));
        if (!linked.valid() && errno != ENOENT) {
            return FailErrno();
        }
        if (linked.valid() && ::fstat(linked.get(), &old) != 0) {
            return FailErrno();
        }
    }
    if (S_ISDIR(old.st_mode)) {
        return Fail(ERROR_ACCESS_DENIED);
    }
    if (failIfExists) {
        return Fail(ERROR_FILE_EXISTS);
    }
    if (S_ISREG(old.st_mode) &&
        (StoredAttributesIn(target.folder, target.leaf) & FILE_ATTRIBUTE_READONLY)) {
        return Fail(ERROR_ACCESS_DENIED);
    }
    return true;
}

// Copies the open regular file `in` (st its status) to the target: the data,
// the attributes and the times. A new name is written in place and removed
// again when the copy fails. An old target is replaced only by a complete
// copy, written to an unnamed file and renamed over it, so that a failed
// copy (ERROR_DISK_FULL and the like) or a process that dies meanwhile leaves
// it as it was.
bool CopyOpenFile(int in, const struct stat& st, const CopyTarget& target, bool failIfExists) {
    const uint32_t bits = StoredAttributesOf(in);
    const mode_t mode = st.st_mode & 0777;
    const int parent = target.folder;
    const char* leaf = target.leaf.c_str();
    auto fill = [&](int out) {
        const timespec times[2] = {st.st_atim, st.st_mtim};
        return CopyData(in, out, st.st_size) && ::fchmod(out, mode) == 0 &&
               (!bits || WriteAttributes(out, bits, false)) && ::futimens(out, times) == 0;
    };
    if (!target.exists) {
        Fd out(::openat(parent, leaf, O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, mode));
        if (out.valid()) {
            if (fill(out.get())) {
                return true;
            }
            const int e = errno;
            RemoveCreated(parent, leaf, out.get());
            SetLastErrorFromErrno(e);
            return false;
        }
        if (errno != EEXIST) {
            return FailErrno();
        }
    }
    // An old target, or a name that appeared meanwhile.
    if (!MayReplace(target, failIfExists)) {
        return false;
    }
    // File systems without O_TMPFILE get a named temporary file that is removed.
    std::string tempName;
    Fd out(::openat(parent, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode));
    if (!out.valid()) {
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
            return FailErrno();
        }
        for (int attempt = 0; attempt < 100 && !out.valid(); ++attempt) {
            tempName = TemporaryName();
            out = Fd(
                ::openat(parent, tempName.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, mode));
            if (!out.valid() && errno != EEXIST) {
                return FailErrno();
            }
        }
        if (!out.valid()) {
            return FailErrno();
        }
    }
    auto discard = [&](int error) {
        if (!tempName.empty()) {
            ::unlinkat(parent, tempName.c_str(), 0);
        }
        SetLastErrorFromErrno(error);
        return false;
    };
    if (!fill(out.get())) {
        return discard(errno);
    }
    if (tempName.empty()) {
        for (int attempt = 0; attempt < 100; ++attempt) {
            tempName = TemporaryName();
            if (LinkUnnamed(out.get(), parent, tempName.c_str()) == 0) {
                break;
            }
            if (errno != EEXIST) {
                tempName.clear();
                return FailErrno();
            }
        }
    }
    if (::renameat(parent, tempName.c_str(), parent, leaf) != 0) {
        return discard(errno);
    }
    return true;
}

} // namespace

namespace fs_detail {

uint32_t StoredAttributes(const std::string& path, bool followLink) {
    char text[32];
    const ssize_t n = followLink ? ::getxattr(path.c_str(), kAttributeName, text, sizeof text - 1)
                                 : ::lgetxattr(path.c_str(), kAttributeName, text, sizeof text - 1);
    if (n >= 0) {
        return ParseAttributes(text, n);
    }
    if (NoUserXattrs(errno)) {
        struct stat st {};
        const int rc = followLink ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st);
        return rc == 0 ? AttributesFromMode(st) : 0;
    }
    return 0;
}

} // namespace fs_detail

File::File(File&& other) noexcept : fd_(other.fd_), access_(other.access_) {
    other.fd_ = -1;
}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = other.fd_;
        access_ = other.access_;
        other.fd_ = -1;
    }
    return *this;
}

File::~File() {
    Close();
}

void File::Close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

bool File::Read(std::span<std::byte> buffer, uint32_t& bytesRead) {
    bytesRead = 0;
    if (fd_ < 0) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    if (!(access_ & GENERIC_READ)) {
        return Fail(ERROR_ACCESS_DENIED);
    }
    while (bytesRead < buffer.size()) {
        const ssize_t n = ::read(fd_, buffer.data() + bytesRead, buffer.size() - bytesRead);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return FailErrno();
        }
        if (n == 0) {
            break;
        }
        bytesRead += static_cast<uint32_t>(n);
    }
    return true;
}

bool File::Write(std::span<const std::byte> data, uint32_t& bytesWritten) {
    bytesWritten = 0;
    if (fd_ < 0) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    if (!(access_ & GENERIC_WRITE)) {
        return Fail(ERROR_ACCESS_DENIED);
    }
    while (bytesWritten < data.size()) {
        const ssize_t n = ::write(fd_, data.data() + bytesWritten, data.size() - bytesWritten);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return n == 0 ? Fail(ERROR_DISK_FULL) : FailErrno();
        }
        bytesWritten += static_cast<uint32_t>(n);
    }
    return true;
}

bool File::Seek(int64_t distance, uint32_t moveMethod, uint64_t* newPosition) {
    if (fd_ < 0) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    int whence;
    switch (moveMethod) {
    case FILE_BEGIN:
        whence = SEEK_SET;
        break;
    case FILE_CURRENT:
        whence = SEEK_CUR;
        break;
    case FILE_END:
        whence = SEEK_END;
        break;
    default:
        return Fail(ERROR_INVALID_PARAMETER);
    }
    const off_t position = ::lseek(fd_, distance, whence);
    if (position < 0) {
        return FailErrno();
    }
    if (newPosition) {
        *newPosition = static_cast<uint64_t>(position);
    }
    return true;
}

std::optional<uint64_t> File::Size() const {
    struct stat st {};
    if (fd_ < 0) {
        Fail(ERROR_INVALID_HANDLE);
        return std::nullopt;
    }
    if (::fstat(fd_, &st) != 0) {
        FailErrno();
        return std::nullopt;
    }
    return static_cast<uint64_t>(st.st_size);
}

bool File::Flush() {
    if (fd_ < 0) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    return ::fsync(fd_) == 0 || FailErrno();
}

File CreateFile(std::u16string_view path, uint32_t access, uint32_t /*shareMode*/,
                uint32_t disposition, uint32_t flags) {
    if (disposition < CREATE_NEW || disposition > TRUNCATE_EXISTING) {
        Fail(ERROR_INVALID_PARAMETER);
        return {};
    }
    return CreateFileOnce(path, access, disposition, flags, true);
}

struct FindHandle::State {
    Fd root;
    DIR* dir = nullptr;
    std::string rel;
    std::u16string pattern;
    bool atRoot = false;
};

FindHandle::FindHandle() = default;

FindHandle::FindHandle(FindHandle&& other) noexcept : state_(other.state_) {
    other.state_ = nullptr;
}

FindHandle& FindHandle::operator=(FindHandle&& other) noexcept {
    if (this != &other) {
        Close();
        state_ = other.state_;
        other.state_ = nullptr;
    }
    return *this;
}

FindHandle::~FindHandle() {
    Close();
}

bool FindHandle::IsValid() const {
    return state_ != nullptr;
}

void FindHandle::Close() {
    if (state_) {
        ::closedir(state_->dir);
        delete state_;
        state_ = nullptr;
    }
}

bool FindHandle::Next(FindData& data) {
    if (!state_) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    const int dirFd = ::dirfd(state_->dir);
    while (const dirent* entry = ::readdir(state_->dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == ".." || (state_->atRoot && name == kDeviceStateFolder)) {
            continue;
        }
        std::u16string wide = FromUtf8(name);
        if (!MatchesPattern(state_->pattern, wide)) {
            continue;
        }
        struct stat st {};
        if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            continue; // removed while the search ran
        }
        data.fileName = std::move(wide);
        if (S_ISLNK(st.st_mode)) {
            // A link is reported as what it leads to; one that leads outside
            // the root (or nowhere) is only a name, like an empty file.
            const std::string rel = state_->rel == "." ? name : state_->rel + '/' + name;
            Fd target(OpenBeneath(state_->root.get(), rel, O_PATH));
            if (!target.valid() || ::fstat(target.get(), &st) != 0) {
                data.attributes = FILE_ATTRIBUTE_NORMAL;
                data.size = 0;
                return true;
            }
            const bool volume = state_->atRoot && IsVolumeName(data.fileName);
            data.attributes = Attributes(st, ProcFdPath(target.get()), true, volume);
        } else {
            const bool volume = state_->atRoot && IsVolumeName(data.fileName);
            data.attributes =
                Attributes(st, volume, [&] { return StoredAttributesIn(dirFd, name); });
        }
        data.size = S_ISREG(st.st_mode) ? static_cast<uint64_t>(st.st_size) : 0;
        return true;
    }
    return Fail(ERROR_NO_MORE_FILES);
}

FindHandle FindFirstFile(std::u16string_view pattern, FindData& data) {
    const std::size_t slash = pattern.rfind(u'\\');
    const std::u16string_view folder =
        slash == std::u16string_view::npos ? std::u16string_view() : pattern.substr(0, slash);
    const std::u16string_view leaf =
        slash == std::u16string_view::npos ? pattern : pattern.substr(slash + 1);
    for (char16_t c : leaf) {
        if (c == 0 || c == u'/' || c == u':') {
            Fail(ERROR_ACCESS_DENIED);
            return {};
        }
        if (c < 0x20 || c == u'"' || c == u'<' || c == u'>' || c == u'|') {
            Fail(ERROR_INVALID_NAME);
            return {};
        }
    }
    if (pattern.size() >= MAX_PATH) {
        Fail(ERROR_FILENAME_EXCED_RANGE);
        return {};
    }
    auto r = Resolve(folder, Leaf::Follow);
    if (!r) {
        return {};
    }
    if (!r->exists) {
        Fail(ERROR_PATH_NOT_FOUND);
        return {};
    }
    const int fd = OpenBeneath(r->root.get(), r->rel, O_RDONLY | O_DIRECTORY);
    if (fd < 0) {
        SetLastErrorFromErrno(errno);
        return {};
    }
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        FailErrno();
        return {};
    }
    FindHandle handle;
    handle.state_ =
        new FindHandle::State{std::move(r->root), dir, r->rel, std::u16string(leaf), r->isRoot};
    if (leaf.empty() || !handle.Next(data)) {
        Fail(ERROR_FILE_NOT_FOUND);
        return {};
    }
    return handle;
}

uint32_t GetFileAttributes(std::u16string_view path) {
    auto r = Resolve(path, Leaf::Follow);
    if (!r) {
        return INVALID_FILE_ATTRIBUTES;
    }
    if (!r->exists) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_FILE_ATTRIBUTES;
    }
    if (r->isRoot) {
        return FILE_ATTRIBUTE_DIRECTORY;
    }
    Fd fd(OpenBeneath(r->root.get(), r->rel, O_PATH));
    struct stat st {};
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0) {
        SetLastErrorFromErrno(errno);
        return INVALID_FILE_ATTRIBUTES;
    }
    const bool volume = r->topLevel && IsVolumeName(FromUtf8(r->leaf));
    return Attributes(st, ProcFdPath(fd.get()), true, volume);
}

bool SetFileAttributes(std::u16string_view path, uint32_t attributes) {
    auto r = Resolve(path, Leaf::Follow);
    if (!r) {
        return false;
    }
    if (!r->exists) {
        return Fail(ERROR_FILE_NOT_FOUND);
    }
    Fd fd(r->isRoot ? -1 : OpenBeneath(r->root.get(), r->rel, O_PATH));
    struct stat st {};
    if (!r->isRoot && (!fd.valid() || ::fstat(fd.get(), &st) != 0)) {
        return FailErrno();
    }
    if (r->isRoot || (r->topLevel && S_ISDIR(st.st_mode) && IsVolumeName(FromUtf8(r->leaf)))) {
        return Fail(ERROR_ACCESS_DENIED);
    }
    return WriteAttributes(fd.get(), attributes & kStoredBits, true) || FailErrno();
}

bool CreateDirectory(std::u16string_view path) {
    auto r = Resolve(path, Leaf::NoFollow);
    if (!r) {
        return false;
    }
    if (r->exists) {
        return Fail(ERROR_ALREADY_EXISTS);
    }
    return ::mkdirat(r->parent.get(), r->leaf.c_str(), 0777) == 0 || FailErrno();
}

bool RemoveDirectory(std::u16string_view path) {
    auto r = Resolve(path, Leaf::NoFollow);
    if (!r) {
        return false;
    }
    if (!r->exists) {
        return Fail(ERROR_FILE_NOT_FOUND);
    }
    if (r->isRoot || (r->topLevel && IsVolumeName(FromUtf8(r->leaf)))) {
        return Fail(ERROR_ACCESS_DENIED);
    }
    if (::unlinkat(r->parent.get(), r->leaf.c_str(), AT_REMOVEDIR) == 0) {
        return true;
    }
    return FailErrno(ErrnoContext::RemoveFolder);
}

bool DeleteFile(std::u16string_view path) {
    auto r = Resolve(path, Leaf::NoFollow);
    if (!r) {
        return false;
    }
    if (!r->exists) {
        return Fail(ERROR_FILE_NOT_FOUND);
    }
    struct stat st {};
    if (r->isRoot) {
        return Fail(ERROR_ACCESS_DENIED);
    }
    if (::fstatat(r->parent.get(), r->leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return FailErrno();
    }
    if (S_ISDIR(st.st_mode)) {
        return Fail(ERROR_ACCESS_DENIED);
    }
    if (S_ISREG(st.st_mode) &&
        (StoredAttributesIn(r->parent.get(), r->leaf) & FILE_ATTRIBUTE_READONLY)) {
        return Fail(ERROR_ACCESS_DENIED);
    }
    return ::unlinkat(r->parent.get(), r->leaf.c_str(), 0) == 0 || FailErrno();
}

bool CopyFile(std::u16string_view existing, std::u16string_view target, bool failIfExists) {
    auto src = Resolve(existing, Leaf::Follow);
    if (!src) {
        return false;
    }
    if (!src->exists) {
        return Fail(ERROR_FILE_NOT_FOUND);
    }
    if (src->isRoot) {
        return Fail(ERROR_ACCESS_DENIED);
    }
    Fd in(OpenBeneath(src->root.get(), src->rel, O_RDONLY | O_NOCTTY | O_NONBLOCK));
    struct stat st {};
    if (!in.valid() || ::fstat(in.get(), &st) != 0) {
        return FailErrno();
    }
    if (!S_ISREG(st.st_mode)) {
        return Fail(ERROR_ACCESS_DENIED);
    }
    auto dst = Resolve(target, Leaf::NoFollow);
    if (!dst) {
        return false;
    }
    if (dst->isRoot) {
        return Fail(ERROR_ACCESS_DENIED);
    }
    return CopyOpenFile(in.get(), st,
                        {dst->root.get(), dst->parent.get(), dst->rel, dst->leaf, dst->exists},
                        failIfExists);
}

struct Directory::State {
    Fd root;
    Fd folder;       ///< O_PATH
    std::string rel; ///< from the root; "." for the root
    std::size_t ceLength = 0;
    bool isRoot = false;
    uint32_t openError = ERROR_INVALID_HANDLE;
    bool indexed = false;
    /// Folded name -> the first entry of that name in the folder's order.
    std::unordered_map<std::u16string, std::string> index;

    bool Usable() const { return folder.valid() || Fail(openError); }

    std::string PathOf(const std::string& host) const {
        return rel == "." ? host : rel + '/' + host;
    }

    // Checks one component as Resolve checks folder + "\" + name and gives
    // its host spelling.
    bool CheckName(std::u16string_view name, std::string& host) const {
        if (ceLength + 1 + name.size() >= MAX_PATH) {
            return Fail(ERROR_FILENAME_EXCED_RANGE);
        }
        for (char16_t c : name) {
            if (c == 0 || c == u'/' || c == u':') {
                return Fail(ERROR_ACCESS_DENIED);
            }
        }
        if (name.empty() || name == u"." || name == u"..") {
            return Fail(ERROR_INVALID_NAME);
        }
        for (char16_t c : name) {
            if (c == u'\\' || !ValidComponentChar(c)) {
                return Fail(ERROR_INVALID_NAME);
            }
        }
        if (isRoot && EqualsIgnoreCase(name, u".device")) {
            return Fail(ERROR_ACCESS_DENIED);
        }
        return ToUtf8(name, host) || Fail(ERROR_INVALID_NAME);
    }

    // A name inside the folder without links is confined by the folder; a
    // link is followed from the root, beneath it and outside the state folder.
    int OpenName(const std::string& host, int flags) const {
        const int fd = OpenAt2(folder.get(), host.c_str(), flags, 0, RESOLVE_NO_SYMLINKS);
        if (fd >= 0 || errno != ELOOP) {
            return fd;
        }
        return OpenBeneath(root.get(), PathOf(host), flags);
    }

    // The entry of that name ignoring case, nullptr when there is none; false
    // (errno set) when the folder cannot be read.
    bool Match(std::u16string_view name, const std::string*& found) {
        if (!indexed) {
            Fd fd(OpenAt2(folder.get(), ".", O_RDONLY | O_DIRECTORY, 0, 0));
            DIR* dir = fd.valid() ? ::fdopendir(fd.get()) : nullptr;
            if (!dir) {
                return false;
            }
            fd.release();
            while (const dirent* entry = ::readdir(dir)) {
                const std::string_view entryName = entry->d_name;
                if (entryName == "." || entryName == ".." ||
                    (isRoot && entryName == kDeviceStateFolder)) {
                    continue;
                }
                index.emplace(Folded(FromUtf8(entryName)), entryName);
            }
            ::closedir(dir);
            indexed = true;
        }
        const auto it = index.find(Folded(name));
        found = it == index.end() ? nullptr : &it->second;
        return true;
    }

    // Opens the entry, written as it exists or in another case; host becomes
    // its spelling. -1 with errno set, ENOENT when there is none.
    int OpenEntry(std::u16string_view name, std::string& host, int flags) {
        const int fd = OpenName(host, flags);
        if (fd >= 0 || errno != ENOENT) {
            return fd;
        }
        const std::string* other = nullptr;
        if (!Match(name, other)) {
            return -1;
        }
        if (!other || *other == host) {
            errno = ENOENT;
            return -1;
        }
        host = *other;
        return OpenName(host, flags);
    }

    // Whether the entry exists, not following a link; host becomes its
    // spelling when it exists in another case.
    bool FindEntry(std::u16string_view name, std::string& host, bool& exists, struct stat& st) {
        exists = ::fstatat(folder.get(), host.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
        if (exists || errno != ENOENT) {
            return exists;
        }
        const std::string* other = nullptr;
        if (!Match(name, other)) {
            return false;
        }
        if (other && *other != host) {
            exists = ::fstatat(folder.get(), other->c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
            if (!exists && errno != ENOENT) {
                return false;
            }
            if (exists) {
                host = *other;
            }
        }
        return true;
    }

    void Remember(std::u16string_view name, const std::string& host) {
        if (indexed) {
            index.insert_or_assign(Folded(name), host);
        }
    }
};

Directory::Directory() = default;

Directory::Directory(Directory&& other) noexcept : state_(other.state_) {
    other.state_ = nullptr;
}

Directory& Directory::operator=(Directory&& other) noexcept {
    if (this != &other) {
        delete state_;
        state_ = other.state_;
        other.state_ = nullptr;
    }
    return *this;
}

Directory::~Directory() {
    delete state_;
}

bool Directory::IsOpen() const {
    return state_ && state_->folder.valid();
}

Directory Directory::Open(std::u16string_view cePath) {
    Directory directory;
    directory.state_ = new State;
    State& state = *directory.state_;
    if (auto r = Resolve(cePath, Leaf::Follow)) {
        Fd folder(r->exists ? OpenBeneath(r->root.get(), r->rel, O_PATH | O_DIRECTORY) : -1);
        if (!r->exists) {
            SetLastError(ERROR_PATH_NOT_FOUND);
        } else if (!folder.valid()) {
            SetLastError(PathError(errno));
        } else {
            state.root = std::move(r->root);
            state.folder = std::move(folder);
            state.rel = std::move(r->rel);
            state.ceLength = cePath.size();
            state.isRoot = r->isRoot;
            return directory;
        }
    }
    state.openError = GetLastError();
    return directory;
}

uint32_t Directory::GetFileAttributes(std::u16string_view name) {
    std::string host;
    if (!state_) {
        Fail(ERROR_INVALID_HANDLE);
        return INVALID_FILE_ATTRIBUTES;
    }
    bool exists = false;
    struct stat st {};
    if (!state_->Usable() || !state_->CheckName(name, host)) {
        return INVALID_FILE_ATTRIBUTES;
    }
    if (!state_->FindEntry(name, host, exists, st)) {
        SetLastError(PathError(errno));
        return INVALID_FILE_ATTRIBUTES;
    }
    if (!exists) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_FILE_ATTRIBUTES;
    }
    const bool volume = state_->isRoot && IsVolumeName(FromUtf8(host));
    if (!S_ISLNK(st.st_mode)) {
        return Attributes(st, volume,
                          [&] { return StoredAttributesIn(state_->folder.get(), host); });
    }
    // A link is reported as what it leads to, followed beneath the root.
    Fd fd(OpenBeneath(state_->root.get(), state_->PathOf(host), O_PATH));
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0) {
        SetLastErrorFromErrno(errno);
        return INVALID_FILE_ATTRIBUTES;
    }
    return Attributes(st, ProcFdPath(fd.get()), true, volume);
}

bool Directory::SetFileAttributes(std::u16string_view name, uint32_t attributes) {
    std::string host;
    if (!state_) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    if (!state_->Usable() || !state_->CheckName(name, host)) {
        return false;
    }
    Fd fd(state_->OpenEntry(name, host, O_PATH));
    struct stat st {};
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0) {
        return FailErrno();
    }
    if (state_->isRoot && S_ISDIR(st.st_mode) && IsVolumeName(FromUtf8(host))) {
        return Fail(ERROR_ACCESS_DENIED);
    }
    return WriteAttributes(fd.get(), attributes & kStoredBits, true) || FailErrno();
}

bool CopyFile(Directory& from, std::u16string_view existing, Directory& to,
              std::u16string_view target, bool failIfExists) {
    if (!from.state_ || !to.state_) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    Directory::State& src = *from.state_;
    std::string srcHost;
    if (!src.Usable() || !src.CheckName(existing, srcHost)) {
        return false;
    }
    Fd in(src.OpenEntry(existing, srcHost, O_RDONLY | O_NOCTTY | O_NONBLOCK));
    struct stat st {};
    if (!in.valid() || ::fstat(in.get(), &st) != 0) {
        return FailErrno();
    }
    if (!S_ISREG(st.st_mode)) {
        return Fail(ERROR_ACCESS_DENIED);
    }
    Directory::State& dst = *to.state_;
    std::string host;
    bool exists = false;
    if (!dst.Usable() || !dst.CheckName(target, host)) {
        return false;
    }
    struct stat old {};
    if (!dst.FindEntry(target, host, exists, old)) {
        return Fail(PathError(errno));
    }
    if (!CopyOpenFile(in.get(), st,
                      {dst.root.get(), dst.folder.get(), dst.PathOf(host), host, exists},
                      failIfExists)) {
        return false;
    }
    if (!exists) {
        dst.Remember(target, host);
    }
    return true;
}

} // namespace hh::sys
