#pragma once
// What every simulated driver shares: the switch that makes a driver
// unavailable (its opens fail as for a device that is not there), and the
// checked reading and writing of request buffers (platform/system/driver_buffers.h).

#include <platform/system/driver_buffers.h>
#include <platform/system/error.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace hh::sim {

/// The drivers that can be switched off: "BKL1", "PWR1", "UFN1", "ANT1",
/// "ECD1", "SMB1", "PSA1" and "KERNEL" (the kernel's requests and services).
const std::vector<std::string>& SwitchableDrivers();
/// "bkl1", "BKL1:" or "kernel" in any case to its canonical name; empty when unknown.
std::string CanonicalDriverName(std::string_view name);
/// True while the driver is switched on. False with the last error set to
/// offError while it is switched off, and to the store's error when the
/// device state cannot be read (a damaged state is reported, never taken for
/// a driver that is merely off).
bool DriverAvailable(std::string_view canonicalName, uint32_t offError = sys::ERROR_FILE_NOT_FOUND);
/// Stored durably; false with the last error set.
bool SetDriverAvailable(std::string_view canonicalName, bool available);

/// Sets the last error and returns false.
inline bool FailWith(uint32_t error) {
    sys::SetLastError(error);
    return false;
}

using sys::ReadInput;
using sys::WriteOutput;

/// Bytes from hexadecimal text (pairs, separators "-", ":" and blanks
/// allowed); false when the text is not exactly `size` bytes of hexadecimal.
bool ParseHexBytes(std::string_view text, size_t size, std::vector<uint8_t>& bytes);
/// Upper-case hexadecimal without separators.
std::string HexText(std::span<const uint8_t> bytes);

} // namespace hh::sim
