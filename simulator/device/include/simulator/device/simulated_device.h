#pragma once
// The whole simulated handheld in one call: every driver ("PWR1:", "BKL1:",
// "UFN1:", "ANT1:", "ECD1:", "SMB1:", "PSA1:"), the kernel services, the
// simulated receivers behind the serial ports, and the display state the
// device screen shows (screen on, backlight level, buzzer sounding,
// suspended). Each program calls it at start; a real-hardware backend would
// register its own drivers instead.

#include <simulator/power/power_driver.h>

namespace hh::sim {

/// Registers everything for this process; calling it again replaces the
/// program end of a restart. False, with nothing registered and the one-line
/// reason in state::StateErrorText(), when the device's state cannot be used
/// (damaged or not ours): the program then reports it and ends.
[[nodiscard]] bool RegisterSimulatedDevice(ProgramEnd programEnd = {});

} // namespace hh::sim
