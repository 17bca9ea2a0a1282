#pragma once
// The recovery tool's requests to the power driver "PWR1:" and the kernel.
// Each request opens the driver (read and write, shared, open always), sends
// one request and closes it again.

#include <platform/protocol/device_protocol.h>

#include <cstdint>

namespace recovery {

inline constexpr uint32_t RECOVER_REQUESTED = hh::protocol::kRecoverRequested;
inline constexpr uint32_t RECOVER_PENDING = hh::protocol::kRecoverPending;

/// Request 7 with the value 1, then, whether or not "PWR1:" opened, the
/// kernel's restart. On success the device restarts and the call does not
/// come back; otherwise the restart request's result.
int RebootDevice();
/// Request 11 with value: non-zero when done, 0 when the driver cannot be
/// opened or refuses (the last error tells why).
int WriteRecoverFlag(uint32_t value);
/// Request 12: the request's result; value is written only when the driver
/// opened (the caller presets it).
int ReadRecoverFlag(uint32_t& value);

} // namespace recovery
