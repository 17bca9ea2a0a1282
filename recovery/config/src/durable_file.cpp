#include <recovery/config/path_config.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

namespace recovery {

namespace {

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return false;
        }
        data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

// Attributes such as read-only or hidden may live in extended attributes; the
// new file carries them on. A file system without them has nothing to copy.
bool CopyExtendedAttributes(const std::filesystem::path& from, int toFd) {
    ssize_t size = ::listxattr(from.c_str(), nullptr, 0);
    if (size <= 0) {
        return size == 0 || errno == ENOTSUP;
    }
    std::vector<char> names(static_cast<size_t>(size));
    size = ::listxattr(from.c_str(), names.data(), names.size());
    if (size < 0) {
        return false;
    }
    for (size_t at = 0; at < static_cast<size_t>(size);) {
        const char* name = names.data() + at;
        at += std::char_traits<char>::length(name) + 1;
        ssize_t length = ::getxattr(from.c_str(), name, nullptr, 0);
        if (length < 0) {
            continue;
        }
        std::vector<char> value(static_cast<size_t>(length));
        length = ::getxattr(from.c_str(), name, value.data(), value.size());
        if (length < 0) {
            continue;
        }
        if (::fsetxattr(toFd, name, value.data(), static_cast<size_t>(length), 0) != 0 &&
            errno != ENOTSUP && errno != EPERM) {
            return false;
        }
    }
    return true;
}

} // namespace

bool ReplaceFileDurably(const std::filesystem::path& path, std::string_view contents) {
    std::error_code ec;
    std::filesystem::path target = path;
    if (std::filesystem::is_symlink(path, ec)) {
        target = std::filesystem::canonical(path, ec);
        if (ec) {
            errno = ec.value();
            return false;
        }
    }
    std::filesystem::path dir = target.parent_path();
    if (dir.empty()) {
        dir = ".";
    }
    struct stat old {};
    bool exists = ::stat(target.c_str(), &old) == 0;
    // A read-only file stays as it is, as the device's file system keeps it.
    if (exists && ::access(target.c_str(), W_OK) != 0) {
        return false;
    }
    std::string temp = (dir / ("." + target.filename().string() + ".XXXXXX")).string();
    int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    auto fail = [&](int error) {
        ::close(fd);
        ::unlink(temp.c_str());
        errno = error;
        return false;
    };
    mode_t mode = 0;
    if (exists) {
        mode = old.st_mode & 07777;
        if (!CopyExtendedAttributes(target, fd)) {
            return fail(errno);
        }
    } else {
        mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    if (::fchmod(fd, mode) != 0 || !WriteAll(fd, contents) || ::fsync(fd) != 0) {
        return fail(errno);
    }
    if (::close(fd) != 0) {
        int error = errno;
        ::unlink(temp.c_str());
        errno = error;
        return false;
    }
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        int error = errno;
        ::unlink(temp.c_str());
        errno = error;
        return false;
    }
    // The rename itself reaches the disk only with its directory.
    int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0) {
        return false;
    }
    bool synced = ::fsync(dirFd) == 0;
    ::close(dirFd);
    return synced;
}

} // namespace recovery
