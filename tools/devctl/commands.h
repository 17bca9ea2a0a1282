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

} // namespace hh::devctl
