#pragma once
// A machine for the Linux backend's tests: a umockdev testbed stands in for
// /sys and /dev, so that the backend meets a handheld, a laptop or a machine
// without any of its hardware, without hardware and without root. The
// descriptions live in machines/*.umockdev (umockdev-run -d takes them too).

#include <umockdev.h>

#include <filesystem>
#include <string>
#include <vector>

namespace hh::hw::testing {

/// Starts this test program again with umockdev's preload when it runs
/// without it; the sanitizer runtime of a sanitizer build is preloaded ahead
/// of it, since the sanitizers must come first. Call it first in main.
void RunUnderUmockdev(char** argv);

enum class MachineKind {
    /// A backlight (370 of 1000), a battery at 57 % with mains (offline) and
    /// USB (online) supplies, a Bluetooth rfkill (blocked), an accelerometer
    /// (9.61 m/s² on Z), a magnetometer (heading 45°), a barometer (95.46 kPa,
    /// 24.5 °C), an SD card, a pwm beeper, a device tree model and a
    /// configfs gadget with serial and mass-storage functions (serial linked).
    Handheld,
    /// Two backlights (a firmware one preferred), a charging battery at 81 %
    /// with mains online, a mouse's battery, a Bluetooth and a WWAN rfkill, a
    /// keyboard, DMI texts; no sensors, card, beeper, USB supply or gadget.
    Laptop,
    /// None of the hardware.
    Bare,
};

/// Paths of the handheld, as the backend sees them.
inline constexpr const char* kHandheldBrightness = "/sys/class/backlight/backlight/brightness";
inline constexpr const char* kHandheldScreen = "/sys/class/backlight/backlight/bl_power";
inline constexpr const char* kHandheldRadio = "/sys/class/rfkill/rfkill0/soft";
inline constexpr const char* kHandheldGadget = "/sys/kernel/config/usb_gadget/g1";
inline constexpr const char* kHandheldBeeper = "/dev/input/event3";

class Testbed {
public:
    explicit Testbed(MachineKind kind);
    ~Testbed();
    Testbed(const Testbed&) = delete;
    Testbed& operator=(const Testbed&) = delete;

    /// The host path of a testbed path ("/sys/class/...").
    std::filesystem::path host(const std::string& path) const;
    /// A file's text without its line end ("" when it cannot be read).
    std::string read(const std::string& path) const;
    void write(const std::string& path, const std::string& text) const;
    /// The functions linked into the handheld gadget's configuration, sorted.
    std::vector<std::string> linkedFunctions() const;
    /// The tone values (Hz, 0 for silence) the beeper was sent since the last call.
    std::vector<int> tones();

private:
    UMockdevTestbed* testbed_;
    std::filesystem::path root_;
};

} // namespace hh::hw::testing
