#include "files_internal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <string>
#include <utility>

namespace hh::sys::fs_detail {

namespace {

// Names of 255 bytes are allowed; the temporary name keeps a prefix of the
// final one so that a leftover shows what it was meant to be.
constexpr std::size_t kNamePrefix = 200;

std::string TemporaryName(const std::string& leaf) {
    static std::atomic<unsigned> counter{0};
    return ".~hh." + leaf.substr(0, kNamePrefix) + "." + std::to_string(::getpid()) + "." +
           std::to_string(counter++);
}

// Gives an unnamed file a name in folder: straight from its descriptor where
// the kernel allows that (Linux 6.10, or CAP_DAC_READ_SEARCH), otherwise
// through its /proc name. -1 with errno set on failure.
int LinkUnnamed(int fd, int folder, const char* name) {
    static std::atomic<bool> throughProc{false};
    if (!throughProc.load(std::memory_order_relaxed)) {
        if (::linkat(fd, "", folder, name, AT_EMPTY_PATH) == 0) {
            return 0;
        }
        if (errno != ENOENT && errno != EPERM) {
            return -1;
        }
    }
    const int rc = ::linkat(AT_FDCWD, ProcFdPath(fd).c_str(), folder, name, AT_SYMLINK_FOLLOW);
    if (rc == 0) {
        throughProc.store(true, std::memory_order_relaxed);
    }
    return rc;
}

} // namespace

PendingFile::PendingFile(PendingFile&& other) noexcept
    : fd_(std::move(other.fd_)), folder_(other.folder_), leaf_(std::move(other.leaf_)),
      tempName_(std::exchange(other.tempName_, std::string())) {}

PendingFile& PendingFile::operator=(PendingFile&& other) noexcept {
    if (this != &other) {
        Discard();
        fd_ = std::move(other.fd_);
        folder_ = other.folder_;
        leaf_ = std::move(other.leaf_);
        tempName_ = std::exchange(other.tempName_, std::string());
    }
    return *this;
}

PendingFile::~PendingFile() {
    Discard();
}

void PendingFile::Discard() {
    if (!tempName_.empty()) {
        ::unlinkat(folder_, tempName_.c_str(), 0);
        tempName_.clear();
    }
    fd_.reset();
}

bool PendingFile::Open(int folder, std::string leaf, mode_t mode) {
    Discard();
    folder_ = folder;
    leaf_ = std::move(leaf);
    fd_ = Fd(::openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode));
    if (fd_.valid()) {
        return true;
    }
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
        return false;
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = TemporaryName(leaf_);
        fd_ = Fd(::openat(folder, name.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_NOCTTY | O_CLOEXEC,
                          mode));
        if (fd_.valid()) {
            tempName_ = std::move(name);
            return true;
        }
        if (errno != EEXIST) {
            return false;
        }
    }
    return false;
}

bool PendingFile::Flush() {
    return ::fsync(fd_.get()) == 0;
}

void PendingFile::StartFlush(off_t offset, off_t length) {
    ::sync_file_range(fd_.get(), offset, length, SYNC_FILE_RANGE_WRITE);
}

bool PendingFile::Publish(Mode mode) {
    if (!fd_.valid()) {
        errno = EBADF;
        return false;
    }
    if (tempName_.empty()) {
        if (mode == Mode::CreateNew) {
            if (LinkUnnamed(fd_.get(), folder_, leaf_.c_str()) != 0) {
                return false;
            }
            fd_.reset();
            return true;
        }
        for (int attempt = 0; attempt < 100 && tempName_.empty(); ++attempt) {
            std::string name = TemporaryName(leaf_);
            if (LinkUnnamed(fd_.get(), folder_, name.c_str()) == 0) {
                tempName_ = std::move(name);
            } else if (errno != EEXIST) {
                return false;
            }
        }
        if (tempName_.empty()) {
            return false;
        }
    }
    if (mode == Mode::CreateNew) {
        if (::linkat(folder_, tempName_.c_str(), folder_, leaf_.c_str(), 0) != 0) {
            return false;
        }
        Discard();
        return true;
    }
    if (::renameat(folder_, tempName_.c_str(), folder_, leaf_.c_str()) != 0) {
        return false;
    }
    tempName_.clear();
    fd_.reset();
    return true;
}

bool FlushFolder(int folder) {
    Fd dir(::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return dir.valid() && ::fsync(dir.get()) == 0;
}

} // namespace hh::sys::fs_detail
