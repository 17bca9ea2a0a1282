#pragma once
// The Linux backend reads the machine freely but changes it (backlight,
// screen, radio, USB function, buzzer, power) only when HANDHELD_HARDWARE_WRITES
// is 1: the device test application and devctl call then really switch the
// hardware of the machine they run on.

#include <string_view>

namespace hh::hw {

inline constexpr const char* kWritesVariable = "HANDHELD_HARDWARE_WRITES";

/// True when changes to the machine are allowed. Otherwise sets
/// ERROR_ACCESS_DENIED, says once per process on standard error how to allow
/// them (naming what, "the backlight level"), and returns false.
bool MayChangeMachine(std::string_view what);

} // namespace hh::hw
