#include "platform/system/ce_path.h"

#include "ce_path_internal.h"
#include "platform/system/code_page.h"
#include "platform/system/device_root.h"
#include "platform/system/error.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <string>
#include <vector>

namespace hh::sys {
namespace fs_detail {

bool ToUtf8(std::u16string_view text, std::string& out) {
    // A host name must stand for exactly one device name: a lone surrogate
    // has no UTF-8 form and is refused rather than replaced.
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            return false;
        }
    }
    out = Utf16ToUtf8(text);
    return true;
}

std::u16string FromUtf8(std::string_view text) {
    return Utf8ToUtf16(text);
}

char16_t FoldCase(char16_t c) {
    if (c < 0x80) {
        return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 0x20) : c;
    }
    auto down = [](char16_t v) { return static_cast<char16_t>(v - 1); };
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) {
        return static_cast<char16_t>(c - 0x20);
    }
    if (c == 0xFF) {
        return 0x178;
    }
    // Latin Extended-A keeps upper and lower case side by side; the pairs
    // change parity at U+0138 and U+0178.
    if (c >= 0x100 && c <= 0x137) {
        return (c % 2 == 1 && c != 0x131) ? down(c) : c;
    }
    if (c >= 0x139 && c <= 0x148) {
        return c % 2 == 0 ? down(c) : c;
    }
    if (c >= 0x14A && c <= 0x177) {
        return c % 2 == 1 ? down(c) : c;
    }
    if (c >= 0x179 && c <= 0x17E) {
        return c % 2 == 0 ? down(c) : c;
    }
    if (c == 0x3C2) {
        return 0x3A3;
    }
    if (c >= 0x3B1 && c <= 0x3C9) {
        return static_cast<char16_t>(c - 0x20);
    }
    if (c >= 0x430 && c <= 0x44F) {
        return static_cast<char16_t>(c - 0x20);
    }
    if (c >= 0x450 && c <= 0x45F) {
        return static_cast<char16_t>(c - 0x50);
    }
    return c;
}

bool EqualsIgnoreCase(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (FoldCase(a[i]) != FoldCase(b[i])) {
            return false;
        }
    }
    return true;
}

bool MatchesPattern(std::u16string_view pattern, std::u16string_view name) {
    if (pattern == u"*.*") {
        return true;
    }
    // Greedy matching with one back-tracking point for the last "*".
    std::size_t p = 0, n = 0, star = std::u16string_view::npos, resume = 0;
    while (n < name.size()) {
        if (p < pattern.size() &&
            (pattern[p] == u'?' || FoldCase(pattern[p]) == FoldCase(name[n]))) {
            ++p, ++n;
        } else if (p < pattern.size() && pattern[p] == u'*') {
            star = p++;
            resume = n;
        } else if (star != std::u16string_view::npos) {
            p = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == u'*') {
        ++p;
    }
    return p == pattern.size();
}

std::string ProcFdPath(int fd, std::string_view name) {
    std::string path = "/proc/self/fd/" + std::to_string(fd);
    if (!name.empty()) {
        path += '/';
        path += name;
    }
    return path;
}

namespace {

std::string ReadLink(const std::string& path) {
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink(path.c_str(), buffer, sizeof buffer);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

std::string Join(const std::string& rel, const std::string& name) {
    return rel.empty() ? name : rel + '/' + name;
}

bool SetError(uint32_t error) {
    SetLastError(error);
    return false;
}

// The name of an entry of folder `rel` that equals `wanted` ignoring case,
// "" when there is none, nullopt (errno set) when the folder cannot be read.
std::optional<std::string> FindIgnoringCase(int rootFd, const std::string& rel,
                                            std::u16string_view wanted, bool atRoot) {
    Fd fd(OpenBeneath(rootFd, rel.empty() ? "." : rel, O_RDONLY | O_DIRECTORY));
    if (!fd.valid()) {
        return std::nullopt;
    }
    DIR* dir = ::fdopendir(fd.get());
    if (!dir) {
        return std::nullopt;
    }
    // The folder stream owns the descriptor now.
    fd.release();
    std::string found;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (name == "." || name == ".." || (atRoot && name == kDeviceStateFolder)) {
            continue;
        }
        if (EqualsIgnoreCase(FromUtf8(name), wanted)) {
            found = name;
            break;
        }
    }
    ::closedir(dir);
    return found;
}

} // namespace

bool ValidComponentChar(char16_t c) {
    return c >= 0x20 && c != u'"' && c != u'<' && c != u'>' && c != u'|' && c != u'*' && c != u'?';
}

uint32_t PathError(int errnoValue) {
    return ErrorFromErrno(errnoValue, ErrnoContext::Folder);
}

bool LeavesStateFolderAside(std::string_view rel) {
    bool first = true;
    for (std::size_t start = 0; start <= rel.size();) {
        std::size_t end = rel.find('/', start);
        if (end == std::string_view::npos) {
            end = rel.size();
        }
        const std::string_view part = rel.substr(start, end - start);
        start = end + 1;
        if (part.empty() || part == ".") {
            continue;
        }
        if (part == ".." || (first && EqualsIgnoreCase(FromUtf8(part), u".device"))) {
            return false;
        }
        first = false;
    }
    return true;
}

bool InStateFolder(int rootFd, int fd) {
    const std::string state = ReadLink(ProcFdPath(rootFd)) + '/' + kDeviceStateFolder;
    const std::string path = ReadLink(ProcFdPath(fd));
    return path == state || path.starts_with(state + '/');
}

int OpenAt2(int dirFd, const char* path, int flags, mode_t mode, uint64_t resolve) {
    open_how how{};
    how.flags = static_cast<uint64_t>(flags | O_CLOEXEC);
    how.mode = ((flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE) ? mode : 0;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS | resolve;
    long fd;
    do {
        fd = ::syscall(SYS_openat2, dirFd, path, &how, sizeof how);
    } while (fd < 0 && (errno == EINTR || errno == EAGAIN));
    return static_cast<int>(fd);
}

int OpenBeneath(int rootFd, const std::string& rel, int flags, mode_t mode) {
    // Without links on the way only a path that names the state folder can
    // reach it, so the kernel's refusal of links spares the look at /proc.
    if (LeavesStateFolderAside(rel)) {
        const int fd = OpenAt2(rootFd, rel.c_str(), flags, mode, RESOLVE_NO_SYMLINKS);
        if (fd >= 0 || errno != ELOOP) {
            return fd;
        }
    }
    const int fd = OpenAt2(rootFd, rel.c_str(), flags, mode, 0);
    if (fd < 0) {
        return -1;
    }
    if (InStateFolder(rootFd, static_cast<int>(fd))) {
        ::close(static_cast<int>(fd));
        errno = EACCES;
        return -1;
    }
    return fd;
}

bool IsVolumeName(std::u16string_view name) {
    return EqualsIgnoreCase(name, u"ResidentFlash") || EqualsIgnoreCase(name, u"SDMMC");
}

std::optional<Resolved> Resolve(std::u16string_view cePath, Leaf leafMode) {
    if (cePath.size() >= MAX_PATH) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return std::nullopt;
    }
    std::vector<std::u16string_view> parts;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= cePath.size(); ++i) {
        if (i < cePath.size()) {
            const char16_t c = cePath[i];
            // Host separators, drive letters and NUL would let a host path in.
            if (c == 0 || c == u'/' || c == u':') {
                SetError(ERROR_ACCESS_DENIED);
                return std::nullopt;
            }
            if (c != u'\\') {
                continue;
            }
        }
        const std::u16string_view part = cePath.substr(start, i - start);
        start = i + 1;
        if (part.empty() || part == u".") {
            continue;
        }
        if (part == u"..") {
            if (parts.empty()) {
                SetError(ERROR_ACCESS_DENIED);
                return std::nullopt;
            }
            parts.pop_back();
            continue;
        }
        for (char16_t c : part) {
            if (!ValidComponentChar(c)) {
                SetError(ERROR_INVALID_NAME);
                return std::nullopt;
            }
        }
        parts.push_back(part);
    }

    Resolved r;
    r.root = Fd(::open(DeviceRootDir().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!r.root.valid()) {
        SetLastErrorFromErrno(errno, ErrnoContext::Folder);
        return std::nullopt;
    }
    if (parts.empty()) {
        r.isRoot = r.exists = true;
        r.rel.assign(1, '.'); // not = ".": GCC 12 -O3 warns falsely (-Wrestrict)
        r.parent = Fd(::fcntl(r.root.get(), F_DUPFD_CLOEXEC, 0));
        return r;
    }
    std::string rel;
    std::string parentRel;
    for (std::size_t k = 0; k < parts.size(); ++k) {
        const bool last = k + 1 == parts.size();
        std::string name;
        if (!ToUtf8(parts[k], name)) {
            SetError(ERROR_INVALID_NAME);
            return std::nullopt;
        }
        if (k == 0 && EqualsIgnoreCase(parts[k], u".device")) {
            SetError(ERROR_ACCESS_DENIED);
            return std::nullopt;
        }
        const int flags = O_PATH | (last && leafMode == Leaf::NoFollow ? O_NOFOLLOW : 0);
        std::string candidate = Join(rel, name);
        int fd = OpenBeneath(r.root.get(), candidate, flags);
        if (fd < 0 && errno == ENOENT) {
            const auto match = FindIgnoringCase(r.root.get(), rel, parts[k], k == 0);
            if (!match) {
                SetLastError(PathError(errno));
                return std::nullopt;
            }
            if (!match->empty()) {
                candidate = Join(rel, *match);
                fd = OpenBeneath(r.root.get(), candidate, flags);
            } else {
                errno = ENOENT;
            }
        }
        if (last) {
            parentRel = rel;
        }
        if (fd < 0) {
            if (errno == ENOENT && last) {
                r.leaf = name;
                rel = Join(rel, name);
                break;
            }
            SetLastError(PathError(errno));
            return std::nullopt;
        }
        ::close(fd);
        rel = candidate;
        if (last) {
            r.exists = true;
            r.leaf = candidate.substr(candidate.rfind('/') + 1);
        }
    }
    r.topLevel = parts.size() == 1;
    r.rel = rel;
    const int parent =
        OpenBeneath(r.root.get(), parentRel.empty() ? "." : parentRel, O_PATH | O_DIRECTORY);
    if (parent < 0) {
        SetLastError(PathError(errno));
        return std::nullopt;
    }
    r.parent = Fd(parent);
    return r;
}

} // namespace fs_detail

std::optional<std::filesystem::path> CePathToHostPath(std::u16string_view cePath) {
    using namespace fs_detail;
    auto r = Resolve(cePath, Leaf::Follow);
    if (!r) {
        return std::nullopt;
    }
    char buffer[PATH_MAX];
    if (r->exists) {
        Fd fd(OpenBeneath(r->root.get(), r->rel, O_PATH));
        if (!fd.valid()) {
            SetLastErrorFromErrno(errno);
            return std::nullopt;
        }
        const ssize_t n = ::readlink(ProcFdPath(fd.get()).c_str(), buffer, sizeof buffer);
        return std::filesystem::path(std::string(buffer, n > 0 ? n : 0));
    }
    const ssize_t n = ::readlink(ProcFdPath(r->parent.get()).c_str(), buffer, sizeof buffer);
    return std::filesystem::path(std::string(buffer, n > 0 ? n : 0)) / r->leaf;
}

namespace {

// The CE path of an open descriptor beneath the root, or nullopt when it
// does not lie there.
std::optional<std::u16string> CeOf(int rootFd, int fd) {
    const std::string root = fs_detail::ReadLink(fs_detail::ProcFdPath(rootFd));
    const std::string host = fs_detail::ReadLink(fs_detail::ProcFdPath(fd));
    if (root.empty() || host.empty()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return std::nullopt;
    }
    if (host == root) {
        return u"\\";
    }
    const std::string prefix = root == "/" ? root : root + '/';
    if (!host.starts_with(prefix)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return std::nullopt;
    }
    std::u16string ce = u"\\" + fs_detail::FromUtf8(std::string_view(host).substr(prefix.size()));
    for (char16_t& c : ce) {
        if (c == u'/') {
            c = u'\\';
        }
    }
    return ce;
}

// The components of a CE path after "." and ".." are applied; false when a
// ".." climbs above the root.
bool LexicalParts(std::u16string_view cePath, std::vector<std::u16string_view>& parts) {
    std::size_t start = 0;
    for (std::size_t i = 0; i <= cePath.size(); ++i) {
        if (i < cePath.size() && cePath[i] != u'\\') {
            continue;
        }
        const std::u16string_view part = cePath.substr(start, i - start);
        start = i + 1;
        if (part.empty() || part == u".") {
            continue;
        }
        if (part == u"..") {
            if (parts.empty()) {
                return false;
            }
            parts.pop_back();
            continue;
        }
        parts.push_back(part);
    }
    return true;
}

} // namespace

std::optional<std::u16string> CanonicalCePath(std::u16string_view cePath) {
    using namespace fs_detail;
    std::vector<std::u16string_view> parts;
    if (!LexicalParts(cePath, parts)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return std::nullopt;
    }
    // The longest existing prefix is resolved by the platform's own rules;
    // what is missing beyond it is appended as written.
    for (std::size_t existing = parts.size() + 1; existing-- > 0;) {
        std::u16string prefix;
        for (std::size_t k = 0; k < existing; ++k) {
            prefix += u'\\';
            prefix += parts[k];
        }
        auto r = Resolve(prefix.empty() ? std::u16string_view(u"\\") : prefix, Leaf::Follow);
        if (!r) {
            if (GetLastError() == ERROR_PATH_NOT_FOUND && existing > 0) {
                continue;
            }
            return std::nullopt;
        }
        std::optional<std::u16string> ce;
        if (r->exists) {
            Fd fd(OpenBeneath(r->root.get(), r->rel, O_PATH));
            if (!fd.valid()) {
                SetLastErrorFromErrno(errno);
                return std::nullopt;
            }
            ce = CeOf(r->root.get(), fd.get());
        } else {
            ce = CeOf(r->root.get(), r->parent.get());
            if (ce) {
                if (ce->back() != u'\\') {
                    *ce += u'\\';
                }
                *ce += FromUtf8(r->leaf);
            }
        }
        if (!ce) {
            return std::nullopt;
        }
        for (std::size_t k = existing; k < parts.size(); ++k) {
            if (ce->back() != u'\\') {
                *ce += u'\\';
            }
            *ce += parts[k];
        }
        return ce;
    }
    SetLastError(ERROR_PATH_NOT_FOUND);
    return std::nullopt;
}

bool IsSameOrInside(std::u16string_view inner, std::u16string_view outer) {
    using fs_detail::EqualsIgnoreCase;
    if (outer == u"\\") {
        return true;
    }
    if (inner.size() < outer.size() || !EqualsIgnoreCase(inner.substr(0, outer.size()), outer)) {
        return false;
    }
    return inner.size() == outer.size() || inner[outer.size()] == u'\\';
}

} // namespace hh::sys
