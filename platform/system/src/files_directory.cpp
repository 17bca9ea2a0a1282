#include "directory_state.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

namespace hh::sys {

using namespace fs_detail;

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

namespace fs_detail {

int OpenNameIn(int root, int folder, const std::string& rel, const std::string& host, int flags) {
    const int fd = OpenAt2(folder, host.c_str(), flags, 0, RESOLVE_NO_SYMLINKS);
    if (fd >= 0 || errno != ELOOP) {
        return fd;
    }
    return OpenBeneath(root, rel == "." ? host : rel + '/' + host, flags);
}

std::optional<std::string> FirstIgnoringCase(int folder, std::u16string_view name, bool isRoot) {
    Fd fd(OpenAt2(folder, ".", O_RDONLY | O_DIRECTORY, 0, 0));
    DIR* dir = fd.valid() ? ::fdopendir(fd.get()) : nullptr;
    if (!dir) {
        return std::nullopt;
    }
    fd.release();
    const std::u16string wanted = Folded(name);
    std::string found;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view entryName = entry->d_name;
        if (entryName == "." || entryName == ".." || (isRoot && entryName == kDeviceStateFolder)) {
            continue;
        }
        if (Folded(FromUtf8(entryName)) == wanted) {
            found = entryName;
            break;
        }
    }
    ::closedir(dir);
    return found;
}

bool OpenCopyEnds(Directory::State& src, std::u16string_view existing, Directory::State& dst,
                  std::u16string_view target, CopyEnds& ends) {
    std::string srcHost;
    if (!src.Usable() || !src.CheckName(existing, srcHost)) {
        return false;
    }
    ends.in = Fd(src.OpenEntry(existing, srcHost, O_RDONLY | O_NOCTTY | O_NONBLOCK));
    if (!ends.in.valid() || ::fstat(ends.in.get(), &ends.st) != 0) {
        return FailErrno();
    }
    if (!S_ISREG(ends.st.st_mode)) {
        return Fail(ERROR_ACCESS_DENIED);
    }
    if (!dst.Usable() || !dst.CheckName(target, ends.host)) {
        return false;
    }
    struct stat old {};
    return dst.FindEntry(target, ends.host, ends.exists, old) || Fail(PathError(errno));
}

} // namespace fs_detail

bool CopyFile(Directory& from, std::u16string_view existing, Directory& to,
              std::u16string_view target, bool failIfExists) {
    if (!from.state_ || !to.state_) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    Directory::State& dst = *to.state_;
    CopyEnds ends;
    if (!OpenCopyEnds(*from.state_, existing, dst, target, ends) ||
        !CopyOpenFile(
            ends.in.get(), ends.st,
            {dst.root.get(), dst.folder.get(), dst.PathOf(ends.host), ends.host, ends.exists},
            failIfExists)) {
        return false;
    }
    if (!ends.exists) {
        dst.Remember(target, ends.host);
    }
    return true;
}

} // namespace hh::sys
