#include "files_internal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace hh::sys {

using namespace fs_detail;

namespace {

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

} // namespace

void File::Close() {
    fd_.reset();
}

bool File::Read(std::span<std::byte> buffer, uint32_t& bytesRead) {
    bytesRead = 0;
    if (!fd_.valid()) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    if (!(access_ & GENERIC_READ)) {
        return Fail(ERROR_ACCESS_DENIED);
    }
    while (bytesRead < buffer.size()) {
        const ssize_t n = ::read(fd_.get(), buffer.data() + bytesRead, buffer.size() - bytesRead);
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
    if (!fd_.valid()) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    if (!(access_ & GENERIC_WRITE)) {
        return Fail(ERROR_ACCESS_DENIED);
    }
    std::size_t written = 0;
    const bool ok = posix::WriteAll(fd_.get(), data, &written);
    bytesWritten = static_cast<uint32_t>(written);
    return ok || FailErrno();
}

bool File::Seek(int64_t distance, uint32_t moveMethod, uint64_t* newPosition) {
    if (!fd_.valid()) {
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
    const off_t position = ::lseek(fd_.get(), distance, whence);
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
    if (!fd_.valid()) {
        Fail(ERROR_INVALID_HANDLE);
        return std::nullopt;
    }
    if (::fstat(fd_.get(), &st) != 0) {
        FailErrno();
        return std::nullopt;
    }
    return static_cast<uint64_t>(st.st_size);
}

bool File::SetEndOfFile() {
    if (!fd_.valid()) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    if (!(access_ & GENERIC_WRITE)) {
        return Fail(ERROR_ACCESS_DENIED);
    }
    const off_t position = ::lseek(fd_.get(), 0, SEEK_CUR);
    return (position >= 0 && ::ftruncate(fd_.get(), position) == 0) || FailErrno();
}

bool File::Flush() {
    if (!fd_.valid()) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    return ::fsync(fd_.get()) == 0 || FailErrno();
}

File CreateFile(std::u16string_view path, uint32_t access, uint32_t /*shareMode*/,
                uint32_t disposition, uint32_t flags) {
    if (disposition < CREATE_NEW || disposition > TRUNCATE_EXISTING) {
        Fail(ERROR_INVALID_PARAMETER);
        return {};
    }
    return CreateFileOnce(path, access, disposition, flags, true);
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

} // namespace hh::sys
