#include "files_internal.h"
#include "platform/system/device_root.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace hh::sys {

using namespace fs_detail;

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
        data.isLink = S_ISLNK(st.st_mode);
        if (data.isLink) {
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
    Fd fd(OpenBeneath(r->root.get(), r->rel, O_RDONLY | O_DIRECTORY));
    if (!fd.valid()) {
        FailErrno();
        return {};
    }
    DIR* dir = ::fdopendir(fd.get());
    if (!dir) {
        FailErrno();
        return {};
    }
    // The folder stream owns the descriptor now.
    fd.release();
    FindHandle handle;
    handle.state_ =
        new FindHandle::State{std::move(r->root), dir, r->rel, std::u16string(leaf), r->isRoot};
    if (leaf.empty() || !handle.Next(data)) {
        Fail(ERROR_FILE_NOT_FOUND);
        return {};
    }
    return handle;
}

} // namespace hh::sys
