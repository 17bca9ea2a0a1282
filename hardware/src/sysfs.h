#pragma once
// The host files the Linux backend reads and writes: sysfs attributes,
// configfs entries and a few system files, by their host paths. Errors become
// the device's: a missing file or device ERROR_FILE_NOT_FOUND, a refused one
// ERROR_ACCESS_DENIED, a value the kernel rejects ERROR_INVALID_PARAMETER.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hh::hw {

/// An attribute's text without its line end; nullopt with the last error set.
std::optional<std::string> ReadAttribute(const std::string& path);
/// An attribute holding one whole number; ERROR_INVALID_DATA for anything else.
std::optional<int64_t> ReadInteger(const std::string& path);
/// An attribute holding one decimal number ("0.009576", "-12", "101.325");
/// ERROR_INVALID_DATA for anything else.
std::optional<double> ReadDecimal(const std::string& path);
/// Writes text to an existing attribute in one write; false with the last error set.
bool WriteAttribute(const std::string& path, std::string_view text);

/// The names in a folder, sorted, without "." and ".."; empty when there is
/// no such folder or it cannot be read.
std::vector<std::string> FolderEntries(const std::string& path);
/// True when something is at the path.
bool Exists(const std::string& path);
/// The target of a symbolic link; nullopt when the path is not one.
std::optional<std::string> LinkTarget(const std::string& path);

} // namespace hh::hw
