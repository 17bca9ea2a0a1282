#pragma once
// The device backend a program runs on, chosen by HANDHELD_DEVICE at its
// start: "simulated" (the default, also when the variable is unset or empty),
// the simulated handheld of the device root, or "linux", the machine's own
// hardware. No program knows which one answers its drivers.

#include <string>
#include <string_view>

namespace hh::backend {

inline constexpr const char* kDeviceVariable = "HANDHELD_DEVICE";

/// The variables of the choice for a program's --help, in its columns.
inline constexpr std::string_view kDeviceBackendHelp =
    "  HANDHELD_DEVICE               the device: simulated (the default) or linux,\n"
    "                                this machine's own hardware\n"
    "  HANDHELD_HARDWARE_WRITES      1 lets the linux device change the machine's\n"
    "                                hardware; otherwise a change is refused\n";

/// Registers the chosen backend's drivers and kernel services for this
/// process. False, with nothing registered and a one-line reason in error,
/// when HANDHELD_DEVICE names no backend or the simulated device's state
/// cannot be used; the program then reports it and ends.
[[nodiscard]] bool RegisterDeviceBackend(std::string& error);

/// A program's device at its start: prepares the device root and registers
/// the chosen backend. False after printing "<program>: <reason>" as one line
/// on standard error; the program then ends with a failure.
[[nodiscard]] bool StartDevice(std::string_view program);

/// True when HANDHELD_DEVICE chooses the machine's own hardware ("linux"):
/// the device root then holds only the library's own state (the registry,
/// the recover flag), which a first start may make.
bool RunsOnMachineHardware();

} // namespace hh::backend
