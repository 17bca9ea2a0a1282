#include "files_internal.h"
#include "platform/system/device_root.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace hh::sys {

using namespace fs_detail;

namespace {

std::u16string Folded(std::u16string_view name) {
    std::u16string folded(name);
    for (char16_t& c : folded) {
        c = FoldCase(c);
    }
    return folded;
}

} // namespace

struct Directory::State {
    /// Tells open folders apart across the life of the process.
    uint64_t id = NextId();
    Fd root;
    Fd folder;       ///< O_PATH
    std::string rel; ///< from the root; "." for the root
    std::size_t ceLength = 0;
    bool isRoot = false;
    uint32_t openError = ERROR_INVALID_HANDLE;
    bool indexed = false;
    /// Folded name -> the first entry of that name in the folder's order.
    std::unordered_map<std::u16string, std::string> index;

    static uint64_t NextId() {
        static std::atomic<uint64_t> next{1};
        return next.fetch_add(1, std::memory_order_relaxed);
    }

    bool Usable() const { return folder.valid() || Fail(openError); }

    std::string PathOf(const std::string& host) const {
        return rel == "." ? host : rel + '/' + host;
    }

    // Checks one component as Resolve checks folder + "\" + name and gives
    // its host spelling.
    bool CheckName(std::u16string_view name, std::string& host) const {
        if (ceLength + 1 + name.size() >= MAX_PATH) {
            return Fail(ERROR_FILENAME_EXCED_RANGE);
        }
        for (char16_t c : name) {
            if (c == 0 || c == u'/' || c == u':') {
                return Fail(ERROR_ACCESS_DENIED);
            }
        }
        if (name.empty() || name == u"." || name == u"..") {
            return Fail(ERROR_INVALID_NAME);
        }
        for (char16_t c : name) {
            if (c == u'\\' || !ValidComponentChar(c)) {
                return Fail(ERROR_INVALID_NAME);
            }
        }
        if (isRoot && EqualsIgnoreCase(name, u".device")) {
            return Fail(ERROR_ACCESS_DENIED);
        }
        return ToUtf8(name, host) || Fail(ERROR_INVALID_NAME);
    }

    // A name inside the folder without links is confined by the folder; a
    // link is followed from the root, beneath it and outside the state folder.
    int OpenName(const std::string& host, int flags) const {
        const int fd = OpenAt2(folder.get(), host.c_str(), flags, 0, RESOLVE_NO_SYMLINKS);
        if (fd >= 0 || errno != ELOOP) {
            return fd;
        }
        return OpenBeneath(root.get(), PathOf(host), flags);
    }

    // The entry of that name ignoring case, nullptr when there is none; false
    // (errno set) when the folder cannot be read.
    bool Match(std::u16string_view name, const std::string*& found) {
        if (!indexed) {
            Fd fd(OpenAt2(folder.get(), ".", O_RDONLY | O_DIRECTORY, 0, 0));
            DIR* dir = fd.valid() ? ::fdopendir(fd.get()) : nullptr;
            if (!dir) {
                return false;
            }
            fd.release();
            while (const dirent* entry = ::readdir(dir)) {
                const std::string_view entryName = entry->d_name;
                if (entryName == "." || entryName == ".." ||
                    (isRoot && entryName == kDeviceStateFolder)) {
                    continue;
                }
                index.emplace(Folded(FromUtf8(entryName)), entryName);
            }
            ::closedir(dir);
            indexed = true;
        }
        const auto it = index.find(Folded(name));
        found = it == index.end() ? nullptr : &it->second;
        return true;
    }

    // Opens the entry, written as it exists or in another case; host becomes
    // its spelling. -1 with errno set, ENOENT when there is none.
    int OpenEntry(std::u16string_view name, std::string& host, int flags) {
        const int fd = OpenName(host, flags);
        if (fd >= 0 || errno != ENOENT) {
            return fd;
        }
        const std::string* other = nullptr;
        if (!Match(name, other)) {
            return -1;
        }
        if (!other || *other == host) {
            errno = ENOENT;
            return -1;
        }
        host = *other;
        return OpenName(host, flags);
    }

    // Whether the entry exists, not following a link; host becomes its
    // spelling when it exists in another case.
    bool FindEntry(std::u16string_view name, std::string& host, bool& exists, struct stat& st) {
        exists = ::fstatat(folder.get(), host.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
        if (exists || errno != ENOENT) {
            return exists;
        }
        const std::string* other = nullptr;
        if (!Match(name, other)) {
            return false;
        }
        if (other && *other != host) {
            exists = ::fstatat(folder.get(), other->c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
            if (!exists && errno != ENOENT) {
                return false;
            }
            if (exists) {
                host = *other;
            }
        }
        return true;
    }

    void Remember(std::u16string_view name, const std::string& host) {
        if (indexed) {
            index.insert_or_assign(Folded(name), host);
        }
    }
};

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

bool CopyFile(Directory& from, std::u16string_view existing, Directory& to,
              std::u16string_view target, bool failIfExists) {
    if (!from.state_ || !to.state_) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    Directory::State& src = *from.state_;
    std::string srcHost;
    if (!src.Usable() || !src.CheckName(existing, srcHost)) {
        return false;
    }
    Fd in(src.OpenEntry(existing, srcHost, O_RDONLY | O_NOCTTY | O_NONBLOCK));
    struct stat st {};
    if (!in.valid() || ::fstat(in.get(), &st) != 0) {
        return FailErrno();
    }
    if (!S_ISREG(st.st_mode)) {
        return Fail(ERROR_ACCESS_DENIED);
    }
    Directory::State& dst = *to.state_;
    std::string host;
    bool exists = false;
    if (!dst.Usable() || !dst.CheckName(target, host)) {
        return false;
    }
    struct stat old {};
    if (!dst.FindEntry(target, host, exists, old)) {
        return Fail(PathError(errno));
    }
    if (!CopyOpenFile(in.get(), st,
                      {dst.root.get(), dst.folder.get(), dst.PathOf(host), host, exists},
                      failIfExists)) {
        return false;
    }
    if (!exists) {
        dst.Remember(target, host);
    }
    return true;
}

namespace {

// A batch commits after this many open files or bytes written.
constexpr std::size_t kBatchFiles = 128;
constexpr uint64_t kBatchBytes = 64ull << 20;

} // namespace

struct CopyBatch::State {
    /// A destination folder, kept open while copies for it are pending.
    struct Folder {
        uint64_t id;
        Fd root;
        Fd folder;
    };
    struct Entry {
        PendingFile file;
        std::size_t folder;
        std::string rel;
        std::string leaf;
        bool exists;
        bool failIfExists;
    };
    std::vector<Folder> folders;
    std::vector<Entry> entries;
    uint64_t bytes = 0;
    /// Folders with names given since the last Sync (ids and descriptors
    /// that fsync accepts).
    std::vector<std::pair<uint64_t, Fd>> unsynced;

    // The index of the folder of a Directory, opened again for the batch.
    std::optional<std::size_t> FolderOf(const Directory::State& dst) {
        for (std::size_t i = folders.size(); i-- > 0;) {
            if (folders[i].id == dst.id) {
                return i;
            }
        }
        Fd root(::fcntl(dst.root.get(), F_DUPFD_CLOEXEC, 0));
        Fd folder(::fcntl(dst.folder.get(), F_DUPFD_CLOEXEC, 0));
        if (!root.valid() || !folder.valid()) {
            return std::nullopt;
        }
        folders.push_back({dst.id, std::move(root), std::move(folder)});
        return folders.size() - 1;
    }

    void Unsynced(const Folder& folder) {
        for (const auto& [id, fd] : unsynced) {
            if (id == folder.id) {
                return;
            }
        }
        // fsync needs a descriptor that is not O_PATH.
        unsynced.emplace_back(
            folder.id, Fd(::openat(folder.folder.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)));
    }
};

CopyBatch::CopyBatch() : state_(new State) {}

CopyBatch::~CopyBatch() {
    delete state_;
}

std::size_t CopyBatch::Pending() const {
    return state_->entries.size();
}

bool CopyBatch::Full() const {
    return state_->entries.size() >= kBatchFiles || state_->bytes >= kBatchBytes;
}

bool CopyBatch::Add(Directory& from, std::u16string_view existing, Directory& to,
                    std::u16string_view target, bool failIfExists) {
    if (!from.state_ || !to.state_) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    Directory::State& src = *from.state_;
    std::string srcHost;
    if (!src.Usable() || !src.CheckName(existing, srcHost)) {
        return false;
    }
    Fd in(src.OpenEntry(existing, srcHost, O_RDONLY | O_NOCTTY | O_NONBLOCK));
    struct stat st {};
    if (!in.valid() || ::fstat(in.get(), &st) != 0) {
        return FailErrno();
    }
    if (!S_ISREG(st.st_mode)) {
        return Fail(ERROR_ACCESS_DENIED);
    }
    Directory::State& dst = *to.state_;
    std::string host;
    bool exists = false;
    if (!dst.Usable() || !dst.CheckName(target, host)) {
        return false;
    }
    struct stat old {};
    if (!dst.FindEntry(target, host, exists, old)) {
        return Fail(PathError(errno));
    }
    const CopyTarget place{dst.root.get(), dst.folder.get(), dst.PathOf(host), host, exists};
    if (exists && !MayReplace(place, failIfExists)) {
        return false;
    }
    const std::optional<std::size_t> folder = state_->FolderOf(dst);
    if (!folder) {
        return FailErrno();
    }
    State::Entry entry{PendingFile(), *folder, place.rel, host, exists, failIfExists};
    if (!WriteCopy(in.get(), st, state_->folders[*folder].folder.get(), host, entry.file)) {
        return FailErrno();
    }
    entry.file.StartFlush();
    state_->entries.push_back(std::move(entry));
    state_->bytes += static_cast<uint64_t>(st.st_size);
    if (!exists) {
        dst.Remember(target, host);
    }
    return true;
}

std::size_t CopyBatch::Commit() {
    State& s = *state_;
    std::size_t named = 0;
    // The data of every copy is on the disk before any name can lead to it.
    // The writes were started as the copies were added; waiting for each
    // file then costs the journal's commit once for the whole batch.
    bool flushed = true;
    for (State::Entry& entry : s.entries) {
        flushed = flushed && entry.file.FlushData();
    }
    if (!flushed) {
        FailErrno();
    } else {
        for (State::Entry& entry : s.entries) {
            const State::Folder& folder = s.folders[entry.folder];
            const CopyTarget place{folder.root.get(), folder.folder.get(), entry.rel, entry.leaf,
                                   entry.exists};
            if (!PublishCopy(entry.file, place, entry.failIfExists)) {
                break;
            }
            s.Unsynced(folder);
            ++named;
        }
    }
    s.entries.clear();
    s.folders.clear();
    s.bytes = 0;
    return named;
}

bool CopyBatch::Sync() {
    bool synced = true;
    for (const auto& [id, fd] : state_->unsynced) {
        synced = synced && fd.valid() && ::fsync(fd.get()) == 0;
    }
    state_->unsynced.clear();
    return synced || FailErrno();
}

} // namespace hh::sys
