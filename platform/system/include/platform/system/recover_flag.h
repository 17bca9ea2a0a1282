#pragma once
// The recover flag: a 32-bit value the device's power driver keeps across
// restarts (the recovery tool stores 100 and restarts; the restart turns it
// into 101, and the next start restores the device). Every backend keeps it
// in the device root's state folder as "recover_flag", decimal text and a
// line end, replaced durably, so that a power loss leaves the old or the new
// value.

#include <platform/system/whole_file.h>

#include <cstdint>
#include <optional>
#include <string_view>

namespace hh::sys {

/// The lock that serialises a read-modify-write of the flag between the
/// programs of a device root (a StateFileLock of this name).
inline constexpr std::string_view kRecoverFlagLock = "power.lock";

/// The stored flag of the current device root; 0 when none was ever stored.
/// Nullopt with the last error set when it cannot be read (ERROR_INVALID_DATA
/// for a file that holds anything but the number).
std::optional<uint32_t> ReadStoredRecoverFlag();
/// Stores the flag durably under the lock; false with the last error set
/// (ERROR_DISK_FULL...).
bool StoreRecoverFlag(uint32_t value);
/// The flag's file holding value, for a caller that already holds the lock
/// and writes it along with other state files (WriteStateFiles).
StateFileContents RecoverFlagContents(uint32_t value);

} // namespace hh::sys
