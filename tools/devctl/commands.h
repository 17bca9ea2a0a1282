#pragma once
// The verbs of the device console. Each verb lives in its own file and adds
// its subcommand to the parser; a verb reports bad input by throwing
// CommandError, which main prints as one line on standard error.

#include <CLI/CLI.hpp>
#include <stdexcept>

namespace hh::devctl {

struct CommandError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

/// Throws CommandError unless the device root holds a device (its state
/// folder). Reading verbs call it first, so that a read never makes a device.
void RequireDevice();

/// devctl reg get|set|delete|list: the device registry.
void AddRegCommand(CLI::App& app);

/// devctl power flag [N], devctl restart: the recover flag and the simulated restart.
void AddPowerCommand(CLI::App& app);

/// devctl notify CODE [--wait-answer [SECONDS]]: the notification component.
void AddNotifyCommand(CLI::App& app);

/// devctl key back|up|down|ok press|release: the hardware keys.
void AddKeyCommand(CLI::App& app);

/// The simulated device's hardware (one file each): battery, backlight, bt,
/// usb, card, accel, baro, compass, buzzer, driver, uuid, osinfo.
void AddBatteryCommand(CLI::App& app);
void AddBacklightCommand(CLI::App& app);
void AddBluetoothCommand(CLI::App& app);
void AddUsbCommand(CLI::App& app);
void AddCardCommand(CLI::App& app);
void AddAccelCommand(CLI::App& app);
void AddBaroCommand(CLI::App& app);
void AddCompassCommand(CLI::App& app);
void AddBuzzerCommand(CLI::App& app);
void AddDriverCommand(CLI::App& app);
void AddUuidCommand(CLI::App& app);
void AddOsInfoCommand(CLI::App& app);

/// devctl call EXPORT [ARGS]: one export of libHalvix.so.
void AddCallCommand(CLI::App& app);

/// devctl probe: the machine's hardware as the Linux backend finds it.
void AddProbeCommand(CLI::App& app);

/// devctl gps: the simulated receiver's scenario, its sky, the receiver on a
/// pseudo-terminal (serve) and time-to-first-fix measurements (ttff).
void AddGpsCommand(CLI::App& app);

} // namespace hh::devctl
