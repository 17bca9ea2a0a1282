#include "platform/system/whole_file.h"

#include "files_internal.h"
#include "platform/system/device_root.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <vector>

namespace hh::sys {

using namespace fs_detail;

namespace {

// Reads an open file up to maxSize bytes; ERROR_FILE_TOO_LARGE beyond.
std::optional<std::string> ReadOpen(int fd, std::size_t maxSize) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        FailErrno();
        return std::nullopt;
    }
    if (!S_ISREG(st.st_mode)) {
        Fail(ERROR_ACCESS_DENIED);
        return std::nullopt;
    }
    if (static_cast<uint64_t>(st.st_size) > maxSize) {
        Fail(ERROR_FILE_TOO_LARGE);
        return std::nullopt;
    }
    std::string bytes;
    bytes.resize(static_cast<std::size_t>(st.st_size));
    std::size_t done = 0;
    for (;;) {
        if (done == bytes.size()) {
            // The file may have grown since fstat: look one chunk further.
            if (bytes.size() > maxSize) {
                Fail(ERROR_FILE_TOO_LARGE);
                return std::nullopt;
            }
            bytes.resize(std::min(bytes.size() + 16384, maxSize + 1));
        }
        const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            FailErrno();
            return std::nullopt;
        }
        if (n == 0) {
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    if (done > maxSize) {
        Fail(ERROR_FILE_TOO_LARGE);
        return std::nullopt;
    }
    bytes.resize(done);
    return bytes;
}

// Carries the old file's extended attributes (the device attributes among
// them) to its replacement.
bool CopyExtendedAttributes(int from, int to) {
    ssize_t size = ::flistxattr(from, nullptr, 0);
    if (size <= 0) {
        return size == 0 || NoUserXattrs(errno);
    }
    std::vector<char> names(static_cast<std::size_t>(size));
    size = ::flistxattr(from, names.data(), names.size());
    if (size < 0) {
        return false;
    }
    for (std::size_t at = 0; at < static_cast<std::size_t>(size);) {
        const char* name = names.data() + at;
        at += std::char_traits<char>::length(name) + 1;
        const ssize_t length = ::fgetxattr(from, name, nullptr, 0);
        if (length < 0) {
            continue;
        }
        std::vector<char> value(static_cast<std::size_t>(length));
        const ssize_t got = ::fgetxattr(from, name, value.data(), value.size());
        if (got < 0) {
            continue;
        }
        if (::fsetxattr(to, name, value.data(), static_cast<std::size_t>(got), 0) != 0 &&
            !NoUserXattrs(errno) && errno != EPERM) {
            return false;
        }
    }
    return true;
}

mode_t DefaultMode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

// Writes contents into a pending file of folder meant for leaf and flushes
// it, without naming it yet. The file takes the permission bits and extended
// attributes of `old`, the file it will replace, open for reading, or -1.
// False with errno set.
bool Stage(int folder, const std::string& leaf, std::string_view contents, int old,
           PendingFile& file) {
    struct stat st {};
    mode_t bits = DefaultMode();
    if (old >= 0) {
        if (::fstat(old, &st) != 0) {
            return false;
        }
        bits = st.st_mode & 07777;
    }
    return file.Open(folder, leaf, bits) && ::fchmod(file.fd(), bits) == 0 &&
           (old < 0 || CopyExtendedAttributes(old, file.fd())) &&
           posix::WriteAll(file.fd(), contents) && file.Flush();
}

// Writes contents as the file leaf of folder: staged, named, then the folder
// flushed. False with errno set.
bool WriteDurably(int folder, const std::string& leaf, std::string_view contents, int old,
                  PendingFile::Mode mode) {
    PendingFile file;
    return Stage(folder, leaf, contents, old, file) && file.Publish(mode) && FlushFolder(folder);
}

Fd OpenForReplace(int folder, const std::string& leaf) {
    return Fd(
        ::openat(folder, leaf.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
}

std::string HostLink(int fd) {
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink(ProcFdPath(fd).c_str(), buffer, sizeof buffer);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

// The folder and name a write of a CE path goes to, and the file it replaces
// (-1 when there is none). A last component that is a link leads, beneath
// the root, to the file it names.
struct Place {
    Fd root;
    Fd folder;
    std::string leaf;
    Fd old;
};

std::optional<Place> PlaceOf(std::u16string_view cePath) {
    auto r = Resolve(cePath, Leaf::NoFollow);
    if (!r) {
        return std::nullopt;
    }
    if (r->isRoot) {
        Fail(ERROR_ACCESS_DENIED);
        return std::nullopt;
    }
    Place place{std::move(r->root), std::move(r->parent), std::move(r->leaf), Fd()};
    if (!r->exists) {
        return place;
    }
    struct stat st {};
    if (::fstatat(place.folder.get(), place.leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        FailErrno();
        return std::nullopt;
    }
    if (S_ISLNK(st.st_mode)) {
        Fd target(OpenBeneath(place.root.get(), r->rel, O_PATH));
        if (!target.valid()) {
            SetLastError(errno == ENOENT ? ERROR_FILE_NOT_FOUND : PathError(errno));
            return std::nullopt;
        }
        const std::string root = HostLink(place.root.get());
        const std::string host = HostLink(target.get());
        if (root.empty() || !host.starts_with(root + '/')) {
            Fail(ERROR_ACCESS_DENIED);
            return std::nullopt;
        }
        const std::string rel = host.substr(root.size() + 1);
        const std::size_t slash = rel.rfind('/');
        Fd folder(OpenBeneath(place.root.get(),
                              slash == std::string::npos ? "." : rel.substr(0, slash),
                              O_PATH | O_DIRECTORY));
        if (!folder.valid()) {
            FailErrno();
            return std::nullopt;
        }
        place.folder = std::move(folder);
        place.leaf = slash == std::string::npos ? rel : rel.substr(slash + 1);
    }
    place.old = Fd(::openat(place.folder.get(), place.leaf.c_str(),
                            O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!place.old.valid() || ::fstat(place.old.get(), &st) != 0) {
        FailErrno();
        return std::nullopt;
    }
    if (!S_ISREG(st.st_mode)) {
        Fail(ERROR_ACCESS_DENIED);
        return std::nullopt;
    }
    if (StoredAttributesOf(place.old.get()) & FILE_ATTRIBUTE_READONLY) {
        Fail(ERROR_ACCESS_DENIED);
        return std::nullopt;
    }
    return place;
}

bool ValidStateName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string_view("/\0", 2)) == std::string_view::npos;
}

// The device root, created when `create` is set.
Fd OpenRootFolder(bool create) {
    const std::filesystem::path rootPath = DeviceRootDir();
    if (create) {
        std::error_code ec;
        std::filesystem::create_directories(rootPath, ec);
    }
    Fd root(::open(rootPath.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!root.valid()) {
        SetLastError(PathError(errno));
    }
    return root;
}

// The state folder, opened beneath the root without following links; created
// (with the root) when `create` is set.
Fd OpenStateFolder(bool create, Fd* rootOut = nullptr) {
    Fd root = OpenRootFolder(create);
    if (!root.valid()) {
        return {};
    }
    if (create && ::mkdirat(root.get(), kDeviceStateFolder, 0777) != 0 && errno != EEXIST) {
        FailErrno();
        return {};
    }
    Fd folder(
        OpenAt2(root.get(), kDeviceStateFolder, O_PATH | O_DIRECTORY, 0, RESOLVE_NO_SYMLINKS));
    if (!folder.valid()) {
        SetLastError(PathError(errno));
    }
    if (rootOut) {
        *rootOut = std::move(root);
    }
    return folder;
}

// A folder of the root's top level other than the state folder.
bool ValidTopFolder(std::string_view name) {
    return ValidStateName(name) && name != kDeviceStateFolder;
}

// Renames from (in folder `from`) to `to` (in folder `to`) unless `to` exists.
bool RenameNoReplace(int fromFolder, std::string_view from, int toFolder, std::string_view to) {
    const std::string source(from);
    const std::string target(to);
    if (::renameat2(fromFolder, source.c_str(), toFolder, target.c_str(), RENAME_NOREPLACE) == 0) {
        return true;
    }
    return errno == EEXIST || errno == ENOTEMPTY ? Fail(ERROR_ALREADY_EXISTS)
                                                 : (SetLastError(PathError(errno)), false);
}

} // namespace

std::optional<std::string> ReadWholeFile(std::u16string_view cePath, std::size_t maxSize) {
    auto r = Resolve(cePath, Leaf::Follow);
    if (!r) {
        return std::nullopt;
    }
    if (!r->exists) {
        Fail(ERROR_FILE_NOT_FOUND);
        return std::nullopt;
    }
    if (r->isRoot) {
        Fail(ERROR_ACCESS_DENIED);
        return std::nullopt;
    }
    Fd fd(OpenBeneath(r->root.get(), r->rel, O_RDONLY | O_NONBLOCK | O_NOCTTY));
    if (!fd.valid()) {
        SetLastError(errno == EISDIR ? ERROR_ACCESS_DENIED : PathError(errno));
        return std::nullopt;
    }
    return ReadOpen(fd.get(), maxSize);
}

std::optional<std::string> ReadHostFile(const std::string& path, std::size_t maxSize) {
    // Not blocking, so that a pipe is refused by its kind instead of waiting
    // for a writer.
    Fd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd.valid()) {
        SetLastError(errno == ENOENT || errno == ENOTDIR ? ERROR_FILE_NOT_FOUND
                                                         : ErrorFromErrno(errno));
        return std::nullopt;
    }
    return ReadOpen(fd.get(), maxSize);
}

bool ReplaceFileDurably(std::u16string_view cePath, std::string_view contents) {
    auto place = PlaceOf(cePath);
    if (!place) {
        return false;
    }
    return WriteDurably(place->folder.get(), place->leaf, contents, place->old.get(),
                        PendingFile::Mode::Replace) ||
           FailErrno();
}

bool ReplaceHostFileDurably(const std::string& path, std::string_view contents) {
    const std::filesystem::path host(path);
    const std::string leaf = host.filename().string();
    if (leaf.empty() || leaf == "." || leaf == "..") {
        SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    const std::string parent = host.parent_path().string();
    Fd folder(::open(parent.empty() ? "." : parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder.valid()) {
        return FailErrno();
    }
    Fd old(::openat(folder.get(), leaf.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    return WriteDurably(folder.get(), leaf, contents, old.get(), PendingFile::Mode::Replace) ||
           FailErrno();
}

std::optional<std::string> ReadStateFile(std::string_view name, std::size_t maxSize) {
    if (!ValidStateName(name)) {
        Fail(ERROR_INVALID_NAME);
        return std::nullopt;
    }
    Fd folder = OpenStateFolder(false);
    if (!folder.valid()) {
        return std::nullopt;
    }
    Fd fd(OpenAt2(folder.get(), std::string(name).c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY, 0,
                  RESOLVE_NO_SYMLINKS));
    if (!fd.valid()) {
        SetLastError(errno == ENOENT ? ERROR_FILE_NOT_FOUND : ErrorFromErrno(errno));
        return std::nullopt;
    }
    return ReadOpen(fd.get(), maxSize);
}

bool WriteStateFile(std::string_view name, std::string_view contents, StateWrite mode) {
    if (!ValidStateName(name)) {
        return Fail(ERROR_INVALID_NAME);
    }
    Fd folder = OpenStateFolder(true);
    if (!folder.valid()) {
        return false;
    }
    const std::string leaf(name);
    Fd old = mode == StateWrite::Replace ? OpenForReplace(folder.get(), leaf) : Fd();
    if (WriteDurably(folder.get(), leaf, contents, old.get(),
                     mode == StateWrite::Replace ? PendingFile::Mode::Replace
                                                 : PendingFile::Mode::CreateNew)) {
        return true;
    }
    return FailErrno(ErrnoContext::CreateFile);
}

bool WriteStateFiles(std::span<const StateFileContents> files) {
    for (const StateFileContents& file : files) {
        if (!ValidStateName(file.name)) {
            return Fail(ERROR_INVALID_NAME);
        }
    }
    Fd folder = OpenStateFolder(true);
    if (!folder.valid()) {
        return false;
    }
    // Every file is on the disk under a temporary name before the first is
    // named: what fails (a full disk) fails before anything has changed.
    std::vector<PendingFile> staged(files.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
        const std::string leaf(files[i].name);
        Fd old = OpenForReplace(folder.get(), leaf);
        if (!Stage(folder.get(), leaf, files[i].contents, old.get(), staged[i])) {
            return FailErrno(ErrnoContext::CreateFile);
        }
    }
    for (PendingFile& file : staged) {
        if (!file.Publish(PendingFile::Mode::Replace)) {
            return FailErrno();
        }
    }
    return FlushFolder(folder.get()) || FailErrno();
}

StateFileLock::StateFileLock(std::string_view name) {
    if (!ValidStateName(name)) {
        Fail(ERROR_INVALID_NAME);
        return;
    }
    Fd folder = OpenStateFolder(true);
    if (!folder.valid()) {
        return;
    }
    Fd fd(OpenAt2(folder.get(), std::string(name).c_str(), O_RDWR | O_CREAT | O_NOCTTY, 0600,
                  RESOLVE_NO_SYMLINKS));
    if (!fd.valid()) {
        FailErrno();
        return;
    }
    while (::flock(fd.get(), LOCK_EX) != 0) {
        if (errno != EINTR) {
            FailErrno();
            return;
        }
    }
    fd_ = std::move(fd);
}

StateFileLock::~StateFileLock() = default;

bool MoveIntoStateFolder(std::string_view topFolder, std::string_view keptName) {
    if (!ValidTopFolder(topFolder) || !ValidStateName(keptName)) {
        return Fail(ERROR_INVALID_NAME);
    }
    Fd root;
    Fd state = OpenStateFolder(true, &root);
    return state.valid() && RenameNoReplace(root.get(), topFolder, state.get(), keptName);
}

bool MoveOutOfStateFolder(std::string_view keptName, std::string_view topFolder) {
    if (!ValidTopFolder(topFolder) || !ValidStateName(keptName)) {
        return Fail(ERROR_INVALID_NAME);
    }
    Fd root;
    Fd state = OpenStateFolder(false, &root);
    return state.valid() && RenameNoReplace(state.get(), keptName, root.get(), topFolder);
}

bool RemoveEmptyTopFolder(std::string_view topFolder) {
    if (!ValidTopFolder(topFolder)) {
        return Fail(ERROR_INVALID_NAME);
    }
    Fd root = OpenRootFolder(false);
    const std::string name(topFolder);
    if (!root.valid()) {
        return false;
    }
    if (::unlinkat(root.get(), name.c_str(), AT_REMOVEDIR) == 0) {
        return true;
    }
    return errno == ENOTEMPTY || errno == EEXIST ? Fail(ERROR_DIR_NOT_EMPTY)
                                                 : (SetLastError(PathError(errno)), false);
}

} // namespace hh::sys
