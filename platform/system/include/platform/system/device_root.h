#pragma once
// The device root: one host directory that stands for the device's file system
// and its persistent state.

#include <filesystem>
#include <string>

namespace hh::sys {

/// The host directory of the device: $HANDHELD_ROOT when set, otherwise
/// $XDG_DATA_HOME/handheld-device, otherwise ~/.local/share/handheld-device.
/// Always absolute; read from the environment at every call.
std::filesystem::path DeviceRootDir();

/// <root>/.device: the simulated device's own state (registry database, power
/// driver flag, boot time, named-object bookkeeping). No CE path reaches it.
std::filesystem::path DeviceStateDir();

/// Name of the state folder inside the root (".device").
inline constexpr const char* kDeviceStateFolder = ".device";

/// A short stable tag derived from the root path, so that named objects of
/// two device roots on one host never meet.
std::string DeviceRootTag();

} // namespace hh::sys
