#pragma once
// Where this machine keeps what each driver stands for: the sysfs devices,
// IIO channels, input devices and system files the Linux backend reads, found
// afresh at every call (a device may come or go while a program runs). Each
// finder gives nothing, with ERROR_FILE_NOT_FOUND, when the machine has none.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace hh::hw {

/// The backlight: the firmware's interface before the platform's before a raw
/// one, as the kernel's documentation advises; by name within a kind.
struct Backlight {
    std::string path; ///< /sys/class/backlight/<name>
    std::string type; ///< "firmware", "platform" or "raw"
    int64_t max = 0;  ///< max_brightness, above 0
};
std::optional<Backlight> FindBacklight();

/// A power supply: type "Battery", "Mains" or "USB" (and the USB kinds
/// "USB_C", "USB_PD", ...). A battery of a device (a mouse) is not one of the
/// machine's and is left out.
struct PowerSupply {
    std::string path; ///< /sys/class/power_supply/<name>
    std::string type;
};
std::vector<PowerSupply> FindPowerSupplies();
bool IsUsbSupply(const PowerSupply& supply);

/// The storage card: an SD card's mmc device before an MMC's (an eMMC),
/// holding a cid attribute.
std::optional<std::string> FindCard();

/// The IIO devices of the three sensors, by the channels they offer.
enum class IioSensor {
    Accelerometer, ///< in_accel_{x,y,z}_raw
    Magnetometer,  ///< in_magn_{x,y}_raw, or a heading channel
    Barometer,     ///< in_pressure_input or in_pressure_raw
};
std::optional<std::string> FindIio(IioSensor sensor);
/// The heading channel of a magnetometer ("in_rot_from_north_magnetic_tilt_comp",
/// "in_rot_from_north_magnetic"), empty when it has none.
std::string HeadingChannel(const std::string& iioDevice);
/// A channel's value with its offset and scale applied: (raw + offset) × scale,
/// where the offset and scale are the channel's own ("in_accel_x_scale") or
/// its kind's ("in_accel_scale"), or the channel's "_input" where it has one
/// (input channel names: "in_accel_x", kind "in_accel").
std::optional<double> ReadChannel(const std::string& iioDevice, const std::string& channel,
                                  const std::string& kind);

/// The Bluetooth radios among the rfkill switches (/sys/class/rfkill/<name>).
std::vector<std::string> FindBluetoothRadios();

/// The configfs USB gadget (/sys/kernel/config/usb_gadget/<name>) that has a
/// serial or a mass-storage function.
std::optional<std::string> FindUsbGadget();
/// The USB role switches (/sys/class/usb_role/<name>).
std::vector<std::string> FindUsbRoleSwitches();

/// The buzzer: an input device that plays tones (EV_SND with SND_TONE).
struct Beeper {
    std::string node; ///< /dev/input/eventN
    std::string name; ///< the input device's name ("pwm-beeper", "PC Speaker")
};
std::optional<Beeper> FindBeeper();

/// The texts of the machine: the maker and model (DMI's sys_vendor and
/// product_name, or the device tree's model) and the operating system
/// (os-release's PRETTY_NAME and uname). Each names where it came from.
struct MachineText {
    std::string text;
    std::string source;
};
std::optional<MachineText> OemText();
std::optional<MachineText> PlatformText();
std::optional<MachineText> OsText();

} // namespace hh::hw
