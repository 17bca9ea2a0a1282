#pragma once
// CE paths of the device. "\SDMMC\a.txt" names <root>/SDMMC/a.txt; no CE path
// ever reaches outside the device root or into its state folder.
//
// Rules, applied by every file function of the platform:
// - "\" separates components; a path without a leading "\" is taken from the
//   device's root, as the device has no current directory.
// - "." is dropped and ".." goes up one folder; a ".." above "\" is refused.
// - "/" (a host separator), a drive letter or any ":", and NUL are refused, so
//   no host path can be smuggled in. These refusals, and every symbolic link
//   that would lead outside the root or into <root>/.device, give
//   ERROR_ACCESS_DENIED. Links are resolved by the kernel beneath the root
//   (openat2 with RESOLVE_BENEATH), so a link swapped in during a call cannot
//   lead outside either; a link with an absolute target is always refused.
// - Names are case-insensitive as on the device: a component that does not
//   exist as written is matched case-insensitively among its folder's entries
//   (the first match in the order the folder lists them); new names are
//   created as written.
// - A path holds fewer than MAX_PATH characters (ERROR_FILENAME_EXCED_RANGE).

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace hh::sys {

/// The device's path limit, terminator included.
inline constexpr std::size_t MAX_PATH = 260;

/// The host location a CE path stands for, case-corrected, with links beneath
/// the root followed; the last component need not exist. nullopt with the
/// last error set when the path is refused or a folder on the way is missing.
std::optional<std::filesystem::path> CePathToHostPath(std::u16string_view cePath);

/// The place a CE path names, as a CE path: links beneath the root followed,
/// ".", ".." and repeated separators gone, every existing component spelled
/// as it exists. Components that do not exist (yet) follow as written. Two
/// paths name the same place when their canonical forms are equal ignoring
/// case ("\" for the root). nullopt with the last error set when the path is
/// refused (ERROR_ACCESS_DENIED for one that would leave the root).
std::optional<std::u16string> CanonicalCePath(std::u16string_view cePath);

/// Whether the CE path `inner` names `outer` or a place inside it; both
/// canonical, compared ignoring case.
bool IsSameOrInside(std::u16string_view inner, std::u16string_view outer);

} // namespace hh::sys
