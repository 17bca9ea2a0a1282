#pragma once
// The boot instant of the device root: when the simulated device last
// started, shared by every process of the root through a file of the state
// folder.

#include "platform/system/whole_file.h"

#include <cstdint>
#include <span>

namespace hh::sys::detail {

/// The boot instant as a CLOCK_MONOTONIC reading in milliseconds; the first
/// reader of a new root starts it.
int64_t RealBootMs();

/// Starts the device again now, together with the other state files given:
/// all of them or none (false with the last error set).
bool WriteNewBoot(std::span<const StateFileContents> alongWith);

} // namespace hh::sys::detail
