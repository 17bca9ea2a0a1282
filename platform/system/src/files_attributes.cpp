#include "files_internal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace hh::sys {

using namespace fs_detail;

namespace {

uint32_t ParseAttributes(char* text, ssize_t length) {
    text[length] = '\0';
    return static_cast<uint32_t>(std::strtoul(text, nullptr, 16)) & kStoredBits;
}

// What a file system without user extended attributes keeps: read-only.
uint32_t AttributesFromMode(const struct stat& st) {
    return !S_ISLNK(st.st_mode) && !(st.st_mode & S_IWUSR) ? FILE_ATTRIBUTE_READONLY : 0;
}

// getxattrat (Linux 6.13) has this number on every architecture.
constexpr long kGetxattrat = 464;

struct XattrArgs {
    uint64_t value;
    uint32_t size;
    uint32_t flags;
};

} // namespace

namespace fs_detail {

bool NoUserXattrs(int e) {
    return e == ENOTSUP || e == EOPNOTSUPP;
}

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

uint32_t StoredAttributesOf(int fd) {
    char text[32];
    const ssize_t n = ::fgetxattr(fd, kAttributeName, text, sizeof text - 1);
    if (n >= 0) {
        return ParseAttributes(text, n);
    }
    struct stat st {};
    return NoUserXattrs(errno) && ::fstat(fd, &st) == 0 ? AttributesFromMode(st) : 0;
}

uint32_t Attributes(const struct stat& st, const std::string& xattrPath, bool followLink,
                    bool volumeRoot) {
    return Attributes(st, volumeRoot, [&] { return StoredAttributes(xattrPath, followLink); });
}

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

} // namespace hh::sys
