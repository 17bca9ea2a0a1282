#pragma once
// Shared by the file, image and process services: descriptors, UTF-16/UTF-8
// conversion, name folding and the confined resolution of CE paths.

#include "platform/system/posix.h"

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace hh::sys::fs_detail {

using posix::Fd;

/// UTF-8 for host names; false on unpaired surrogates.
bool ToUtf8(std::u16string_view text, std::string& out);
/// Host names are taken as UTF-8; invalid bytes become U+FFFD.
std::u16string FromUtf8(std::string_view text);

/// Case folding of the device's file system (Latin, Greek, Cyrillic).
char16_t FoldCase(char16_t c);
bool EqualsIgnoreCase(std::u16string_view a, std::u16string_view b);
/// "*" and "?" wildcards, case-insensitive; "*.*" matches every name.
bool MatchesPattern(std::u16string_view pattern, std::u16string_view name);

/// Whether a character may stand in a name (not a control character, a
/// wildcard or one of " < > |).
bool ValidComponentChar(char16_t c);

/// "/proc/self/fd/<fd>", optionally followed by "/<name>".
std::string ProcFdPath(int fd, std::string_view name = {});

/// Whether the last component is followed when it is a symbolic link.
enum class Leaf { Follow, NoFollow };

/// A CE path resolved beneath the device root.
struct Resolved {
    Fd root;               ///< the device root (O_PATH)
    Fd parent;             ///< the folder holding the last component (O_PATH)
    std::string rel;       ///< host path relative to the root, case-corrected; "." for "\"
    std::string leaf;      ///< last component as found, or as written when missing
    bool isRoot = false;   ///< the path is "\"
    bool exists = false;   ///< the last component exists
    bool topLevel = false; ///< a direct child of "\"
};

/// Resolves a CE path (no wildcards) beneath the root, or returns nullopt with the last error
/// set. Missing folders on the way give ERROR_PATH_NOT_FOUND; a missing last
/// component is reported through `exists`.
std::optional<Resolved> Resolve(std::u16string_view cePath, Leaf leafMode);

/// The error of a path whose resolution failed with errno: a missing or
/// non-folder component is ERROR_PATH_NOT_FOUND.
uint32_t PathError(int errnoValue);

/// openat2 beneath dirFd (RESOLVE_BENEATH|RESOLVE_NO_MAGICLINKS and the extra
/// `resolve` flags), O_CLOEXEC added, retried on EINTR and EAGAIN. -1 with
/// errno set on failure.
int OpenAt2(int dirFd, const char* path, int flags, mode_t mode, uint64_t resolve);

/// openat2 of `rel` beneath the root with RESOLVE_BENEATH|RESOLVE_NO_MAGICLINKS,
/// refusing anything inside the state folder. -1 with errno set on failure.
int OpenBeneath(int rootFd, const std::string& rel, int flags, mode_t mode = 0);

/// True when `rel` has no ".." and does not start with the state folder: then
/// only a symbolic link on the way could lead into the state folder.
bool LeavesStateFolderAside(std::string_view rel);

/// True when an open descriptor lies in <root>/.device.
bool InStateFolder(int rootFd, int fd);

/// "ResidentFlash" or "SDMMC" (any case): the names of the volume roots.
bool IsVolumeName(std::u16string_view name);

/// Attribute bits kept for a file or folder (read-only, hidden, system,
/// archive, temporary), read through a path such as ProcFdPath(fd).
uint32_t StoredAttributes(const std::string& path, bool followLink);

} // namespace hh::sys::fs_detail
