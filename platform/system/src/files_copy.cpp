#include "files_internal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

namespace hh::sys {

using namespace fs_detail;

namespace {

// Moves the data with copy_file_range (reflinks and in-kernel copies where
// the file system offers them) and falls back to read and write. The copy
// ends at the size the source had when it was opened, or at its end when
// that size was 0.
bool CopyData(int in, int out, off_t expectedSize) {
    off_t copied = 0;
    bool kernelCopy = true;
    while (kernelCopy) {
        const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, 1 << 30, 0);
        if (n > 0) {
            copied += n;
            if (expectedSize > 0 && copied >= expectedSize) {
                return true;
            }
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
        if (!posix::WriteAll(out, std::string_view(buffer.data(), static_cast<std::size_t>(n)))) {
            return false;
        }
    }
}

} // namespace

namespace fs_detail {

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

bool CopyRange(int in, int out, off_t offset, off_t length) {
    off_t inAt = offset;
    off_t outAt = offset;
    const off_t end = offset + length;
    while (inAt < end) {
        const ssize_t n =
            ::copy_file_range(in, &inAt, out, &outAt, static_cast<std::size_t>(end - inAt), 0);
        if (n > 0) {
            continue;
        }
        if (n == 0) {
            return true; // the source ended early: it shrank meanwhile
        }
        if (errno == EINTR) {
            continue;
        }
        const bool unsupported = errno == EXDEV || errno == EINVAL || errno == ENOSYS ||
                                 errno == EOPNOTSUPP || errno == EBADF || errno == EPERM;
        if (inAt != offset || !unsupported) {
            return false;
        }
        break;
    }
    std::vector<char> buffer(static_cast<std::size_t>(std::min<off_t>(end - inAt, 1 << 20)));
    while (inAt < end) {
        const ssize_t n = ::pread(in, buffer.data(),
                                  static_cast<std::size_t>(std::min<off_t>(
                                      end - inAt, static_cast<off_t>(buffer.size()))),
                                  inAt);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return n == 0;
        }
        if (!posix::WriteAllAt(
                out, std::as_bytes(std::span(buffer.data(), static_cast<std::size_t>(n))), inAt)) {
            return false;
        }
        inAt += n;
    }
    return true;
}

namespace {

// The process's file mode mask, read once: the copies are made with their
// source's permission bits, which the mask may have taken some of.
mode_t ProcessUmask() {
    static const mode_t mask = [] {
        const mode_t old = ::umask(0);
        ::umask(old);
        return old;
    }();
    return mask;
}

} // namespace

bool FinishCopy(int in, const struct stat& st, int out) {
    const uint32_t bits = StoredAttributesOf(in);
    const mode_t mode = st.st_mode & 0777;
    const timespec times[2] = {st.st_atim, st.st_mtim};
    // A copy is made with its mode; only bits the mask took need setting.
    const bool modeKept = (mode & ProcessUmask()) == 0;
    return (modeKept || ::fchmod(out, mode) == 0) && (!bits || WriteAttributes(out, bits, false)) &&
           ::futimens(out, times) == 0;
}

bool WriteCopy(int in, const struct stat& st, int folder, const std::string& leaf,
               PendingFile& out) {
    return out.Open(folder, leaf, st.st_mode & 0777) && CopyData(in, out.fd(), st.st_size) &&
           FinishCopy(in, st, out.fd());
}

bool PublishCopy(PendingFile& out, const CopyTarget& target, bool failIfExists) {
    if (out.Publish(target.exists ? PendingFile::Mode::Replace : PendingFile::Mode::CreateNew)) {
        return true;
    }
    if (target.exists || errno != EEXIST) {
        return FailErrno();
    }
    // A name that appeared meanwhile.
    CopyTarget appeared = target;
    appeared.exists = true;
    if (!MayReplace(appeared, failIfExists)) {
        return false;
    }
    return out.Publish(PendingFile::Mode::Replace) || FailErrno();
}

bool CopyOpenFile(int in, const struct stat& st, const CopyTarget& target, bool failIfExists) {
    if (target.exists && !MayReplace(target, failIfExists)) {
        return false;
    }
    PendingFile out;
    if (!WriteCopy(in, st, target.folder, target.leaf, out) || !out.Flush()) {
        return FailErrno();
    }
    return PublishCopy(out, target, failIfExists);
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
