#pragma once
// The device backend a program runs on, chosen by HANDHELD_DEVICE at its
// start: "simulated" (the default, also when the variable is unset or empty),
// the simulated handheld of the device root, or "linux", the machine's own
// hardware. No program knows which one answers its drivers.

#include <string>

namespace hh::backend {

inline constexpr const char* kDeviceVariable = "HANDHELD_DEVICE";

/// Registers the chosen backend's drivers and kernel services for this
/// process. False, with nothing registered and a one-line reason in error,
/// when HANDHELD_DEVICE names no backend or the simulated device's state
/// cannot be used; the program then reports it and ends.
[[nodiscard]] bool RegisterDeviceBackend(std::string& error);

/// True when HANDHELD_DEVICE chooses the machine's own hardware ("linux"):
/// the device root then holds only the library's own state (the registry,
/// the recover flag), which a first start may make.
bool RunsOnMachineHardware();

} // namespace hh::backend
