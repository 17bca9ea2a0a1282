#pragma once
// What this machine offers each driver of the Linux backend and where it is
// read, for a technician to see at once what the device test application can
// exercise: "backlight: /sys/class/backlight/intel_backlight (max 19393)",
// "barometer: none".

#include <string>
#include <vector>

namespace hh::hw {

struct ProbeLine {
    std::string what;   ///< "backlight", "battery", ...
    std::string source; ///< where it is read, with what it holds; "none"
};

/// One line per function, in the order of the drivers, then the kernel
/// services and whether changes are allowed.
std::vector<ProbeLine> ProbeMachine();

} // namespace hh::hw
