#pragma once
// The running program's module path. Each program lives in its own folder on
// the storage card, \SDMMC\<deliverable>\<deliverable>.exe, so that "next to
// the program" is a folder in the device root. The deliverable's name is the
// executable's file name (program_invocation_short_name, without ".exe")
// unless the program or a test sets it.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace hh::sys {

/// Sets the deliverable's name ("VARDI"); an empty name restores the default.
void SetModuleName(std::u16string_view deliverable);
/// The deliverable's name in use.
std::u16string GetModuleName();
/// "\SDMMC\<name>\<name>.exe".
std::u16string GetModuleFileName();
/// GetModuleFileNameW into a caller's buffer: the length copied without the
/// terminator; a short buffer gets the truncated path, its full size is
/// returned and the last error is ERROR_INSUFFICIENT_BUFFER.
uint32_t GetModuleFileName(std::span<char16_t> buffer);

} // namespace hh::sys
