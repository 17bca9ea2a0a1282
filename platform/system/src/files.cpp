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

bool FailErrno() {
    SetLastErrorFromErrno(errno);
    return false;
}

bool NoUserXattrs(int e) {
    return e == ENOTSUP || e == EOPNOTSUPP;
}

// Stores the bits on an open descriptor; without user extended attributes
// read-only becomes the missing write permission and the rest is dropped.
bool WriteAttributes(int fd, uint32_t bits) {
    const std::string path = ProcFdPath(fd);
    int rc;
    if (bits == 0) {
        rc = ::removexattr(path.c_str(), kAttributeName);
        if (rc != 0 && errno == ENODATA) {
            rc = 0;
        }
    } else {
        char text[16];
        const int n = std::snprintf(text, sizeof text, "0x%X", bits);
        rc = ::setxattr(path.c_str(), kAttributeName, text, static_cast<std::size_t>(n), 0);
    }
    if (rc == 0 || !NoUserXattrs(errno)) {
        return rc == 0;
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return false;
    }
    mode_t mode = st.st_mode & 07777;
    mode = (bits & FILE_ATTRIBUTE_READONLY) ? (mode & ~mode_t(0222)) : (mode | S_IWUSR);
    return ::chmod(path.c_str(), mode) == 0;
}

uint32_t Attributes(const struct stat& st, const std::string& xattrPath, bool followLink,
                    bool volumeRoot) {
    if (S_ISDIR(st.st_mode)) {
        return volumeRoot ? FILE_ATTRIBUTE_MOUNT_POINT
                          : FILE_ATTRIBUTE_DIRECTORY | StoredAttributes(xattrPath, followLink);
    }
    const uint32_t bits = StoredAttributes(xattrPath, followLink);
    return bits ? bits : FILE_ATTRIBUTE_NORMAL;
}

// openat2 of a name directly inside an already confined folder.
int OpenIn(int dirFd, const std::string& name, int flags, mode_t mode) {
    open_how how{};
    how.flags = static_cast<uint64_t>(flags | O_CLOEXEC);
    how.mode = (flags & O_CREAT) ? mode : 0;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
    long fd;
    do {
        fd = ::syscall(SYS_openat2, dirFd, name.c_str(), &how, sizeof how);
    } while (fd < 0 && (errno == EINTR || errno == EAGAIN));
    return static_cast<int>(fd);
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
    const int fd = OpenIn(r->parent.get(), r->leaf, mode | O_CREAT | O_EXCL | O_NOCTTY, 0666);
    if (fd < 0) {
        if (errno == EEXIST && disposition != CREATE_NEW && retry) {
            return CreateFileOnce(path, access, disposition, flags, false);
        }
        errno == EEXIST ? Fail(ERROR_FILE_EXISTS) : FailErrno();
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

} // namespace

namespace fs_detail {

uint32_t StoredAttributes(const std::string& path, bool followLink) {
    char text[32];
    const ssize_t n = followLink ? ::getxattr(path.c_str(), kAttributeName, text, sizeof text - 1)
                                 : ::lgetxattr(path.c_str(), kAttributeName, text, sizeof text - 1);
    if (n >= 0) {
        text[n] = '\0';
        return static_cast<uint32_t>(std::strtoul(text, nullptr, 16)) & kStoredBits;
    }
    if (NoUserXattrs(errno)) {
        struct stat st {};
        const int rc = followLink ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st);
        if (rc == 0 && !S_ISLNK(st.st_mode) && !(st.st_mode & S_IWUSR)) {
            return FILE_ATTRIBUTE_READONLY;
        }
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
            data.attributes = Attributes(st, ProcFdPath(dirFd, name), false, volume);
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
        SetLastError(errno == ENOTDIR ? ERROR_PATH_NOT_FOUND : ErrorFromErrno(errno));
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
    return WriteAttributes(fd.get(), attributes & kStoredBits) || FailErrno();
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
    return errno == EEXIST ? Fail(ERROR_DIR_NOT_EMPTY) : FailErrno();
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
        (StoredAttributes(ProcFdPath(r->parent.get(), r->leaf), false) & FILE_ATTRIBUTE_READONLY)) {
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
    Fd in(src->isRoot ? -1 : OpenExisting(src->root.get(), src->rel, O_RDONLY));
    struct stat st {};
    if (src->isRoot) {
        return Fail(ERROR_ACCESS_DENIED);
    }
    if (!in.valid() || ::fstat(in.get(), &st) != 0) {
        return FailErrno();
    }
    if (!S_ISREG(st.st_mode)) {
        return Fail(ERROR_ACCESS_DENIED);
    }
    const uint32_t bits = StoredAttributes(ProcFdPath(in.get()), true);

    auto dst = Resolve(target, Leaf::NoFollow);
    if (!dst) {
        return false;
    }
    if (dst->isRoot) {
        return Fail(ERROR_ACCESS_DENIED);
    }
    const int parent = dst->parent.get();
    const char* leaf = dst->leaf.c_str();
    if (dst->exists) {
        struct stat old {};
        if (::fstatat(parent, leaf, &old, AT_SYMLINK_NOFOLLOW) != 0) {
            return FailErrno();
        }
        if (S_ISLNK(old.st_mode)) {
            // The link itself is replaced, but only when it is one the device
            // may follow: a link leading outside is refused like its path.
            Fd target(OpenBeneath(dst->root.get(), dst->rel, O_PATH));
            if (!target.valid() && errno != ENOENT) {
                return FailErrno();
            }
            if (target.valid() && ::fstat(target.get(), &old) != 0) {
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
            (StoredAttributes(ProcFdPath(parent, dst->leaf), false) & FILE_ATTRIBUTE_READONLY)) {
            return Fail(ERROR_ACCESS_DENIED);
        }
    }

    // An unnamed file vanishes by itself when the copy fails or the process
    // dies; file systems without O_TMPFILE get a named one that is removed.
    const mode_t mode = st.st_mode & 0777;
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
    const timespec times[2] = {st.st_atim, st.st_mtim};
    if (!CopyData(in.get(), out.get(), st.st_size) || ::fchmod(out.get(), mode) != 0 ||
        (bits && !WriteAttributes(out.get(), bits)) || ::futimens(out.get(), times) != 0) {
        return discard(errno);
    }
    if (tempName.empty()) {
        const std::string self = ProcFdPath(out.get());
        if (failIfExists) {
            if (::linkat(AT_FDCWD, self.c_str(), parent, leaf, AT_SYMLINK_FOLLOW) == 0) {
                return true;
            }
            return errno == EEXIST ? Fail(ERROR_FILE_EXISTS) : FailErrno();
        }
        for (int attempt = 0; attempt < 100; ++attempt) {
            tempName = TemporaryName();
            if (::linkat(AT_FDCWD, self.c_str(), parent, tempName.c_str(), AT_SYMLINK_FOLLOW) ==
                0) {
                break;
            }
            if (errno != EEXIST) {
                tempName.clear();
                return FailErrno();
            }
        }
    }
    if (failIfExists) {
        // A name that appeared meanwhile is kept: link fails where rename would replace.
        if (::linkat(parent, tempName.c_str(), parent, leaf, 0) != 0) {
            const int e = errno;
            discard(e);
            return e == EEXIST ? Fail(ERROR_FILE_EXISTS) : false;
        }
        ::unlinkat(parent, tempName.c_str(), 0);
        return true;
    }
    if (::renameat(parent, tempName.c_str(), parent, leaf) != 0) {
        return discard(errno);
    }
    return true;
}

} // namespace hh::sys
