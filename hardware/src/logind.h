#pragma once
// The login manager (systemd-logind) on the system bus, through sd-bus:
// org.freedesktop.login1.Manager's Reboot, PowerOff and Suspend, asked
// without interaction, so that a machine that would ask for a password
// refuses instead (ERROR_ACCESS_DENIED). DBUS_SYSTEM_BUS_ADDRESS names
// another bus than the machine's (the tests' private one).

#include <optional>
#include <string>

namespace hh::hw {

/// Calls the manager's method ("Reboot", "PowerOff", "Suspend"); false with
/// the last error set: ERROR_FILE_NOT_FOUND without a bus or a login
/// manager on it, ERROR_ACCESS_DENIED when it refuses.
bool CallLoginManager(const char* method);

/// The login manager's unique name on the bus (":1.4"); nothing, with the
/// last error set, when it cannot be reached.
std::optional<std::string> LoginManagerOwner();

} // namespace hh::hw
