#pragma once
// The state behind a Directory handle: the folder's descriptors and the index
// of its names ignoring case. Shared by the folder handle and the batched copy.

#include "files_internal.h"
#include "platform/system/device_root.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <optional>
#include <string>
#include <unordered_map>

namespace hh::sys {

namespace fs_detail {

inline std::u16string Folded(std::u16string_view name) {
    std::u16string folded(name);
    for (char16_t& c : folded) {
        c = FoldCase(c);
    }
    return folded;
}

/// Opens entry host of a folder: without links, confined by the folder; a
/// link is followed from the root (rel: the folder's path from it), beneath it
/// and outside the state folder. -1 with errno set.
int OpenNameIn(int root, int folder, const std::string& rel, const std::string& host, int flags);

/// The first entry of the folder, in its order, whose name equals name
/// ignoring case (the state folder left out at the root); nullopt with errno
/// set when the folder cannot be read, an empty string when there is none.
std::optional<std::string> FirstIgnoringCase(int folder, std::u16string_view name, bool isRoot);

} // namespace fs_detail

struct Directory::State {
    /// Tells open folders apart across the life of the process.
    uint64_t id = NextId();
    fs_detail::Fd root;
    fs_detail::Fd folder; ///< O_PATH
    std::string rel;      ///< from the root; "." for the root
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

    bool Usable() const { return folder.valid() || fs_detail::Fail(openError); }

    std::string PathOf(const std::string& host) const {
        return rel == "." ? host : rel + '/' + host;
    }

    // Checks one component as Resolve checks folder + "\" + name and gives
    // its host spelling.
    bool CheckName(std::u16string_view name, std::string& host) const {
        if (ceLength + 1 + name.size() >= MAX_PATH) {
            return fs_detail::Fail(ERROR_FILENAME_EXCED_RANGE);
        }
        for (char16_t c : name) {
            if (c == 0 || c == u'/' || c == u':') {
                return fs_detail::Fail(ERROR_ACCESS_DENIED);
            }
        }
        if (name.empty() || name == u"." || name == u"..") {
            return fs_detail::Fail(ERROR_INVALID_NAME);
        }
        for (char16_t c : name) {
            if (c == u'\\' || !fs_detail::ValidComponentChar(c)) {
                return fs_detail::Fail(ERROR_INVALID_NAME);
            }
        }
        if (isRoot && fs_detail::EqualsIgnoreCase(name, u".device")) {
            return fs_detail::Fail(ERROR_ACCESS_DENIED);
        }
        return fs_detail::ToUtf8(name, host) || fs_detail::Fail(ERROR_INVALID_NAME);
    }

    // A name inside the folder without links is confined by the folder; a
    // link is followed from the root, beneath it and outside the state folder.
    int OpenName(const std::string& host, int flags) const {
        return fs_detail::OpenNameIn(root.get(), folder.get(), rel, host, flags);
    }

    // The entry of that name ignoring case, nullptr when there is none; false
    // (errno set) when the folder cannot be read.
    bool Match(std::u16string_view name, const std::string*& found) {
        if (!indexed) {
            fs_detail::Fd fd(fs_detail::OpenAt2(folder.get(), ".", O_RDONLY | O_DIRECTORY, 0, 0));
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
                index.emplace(fs_detail::Folded(fs_detail::FromUtf8(entryName)), entryName);
            }
            ::closedir(dir);
            indexed = true;
        }
        const auto it = index.find(fs_detail::Folded(name));
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

    // FindEntry for a name about to be written: once the folder's names are
    // indexed, a name the index does not hold is taken as free without asking
    // the file system. (A copy that is named later still finds a name that
    // appeared meanwhile.)
    bool FindEntryToWrite(std::u16string_view name, std::string& host, bool& exists,
                          struct stat& st) {
        if (indexed && index.find(fs_detail::Folded(name)) == index.end()) {
            exists = false;
            return true;
        }
        return FindEntry(name, host, exists, st);
    }

    void Remember(std::u16string_view name, const std::string& host) {
        if (indexed) {
            index.insert_or_assign(fs_detail::Folded(name), host);
        }
    }
};

namespace fs_detail {

/// The two ends of a copy from one folder handle's entry to another's.
struct CopyEnds {
    Fd in;             ///< the source, open for reading
    struct stat st {}; ///< its status
    std::string host;  ///< the target's name as it is or will be spelt
    bool exists = false;
};

/// Opens the source entry and looks up the target entry, checked and failing
/// as CopyFile of the two paths would. False with the last error set.
bool OpenCopyEnds(Directory::State& src, std::u16string_view existing, Directory::State& dst,
                  std::u16string_view target, CopyEnds& ends);

} // namespace fs_detail

} // namespace hh::sys
