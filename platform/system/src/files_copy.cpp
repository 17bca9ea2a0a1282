#include "files_internal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <string>
#include <vector>

namespace hh::sys {

using namespace fs_detail;

namespace {

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

} // namespace

namespace fs_detail {

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
    PendingFile out;
    if (!out.Open(parent, target.leaf, mode) || !fill(out.fd()) ||
        !out.Publish(PendingFile::Mode::Replace)) {
        return FailErrno();
    }
    return true;
}

} // namespace fs_detail

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

} // namespace hh::sys
