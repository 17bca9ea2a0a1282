#include "drivers.h"
#include "logind.h"
#include "machine.h"
#include "sysfs.h"
#include "writes.h"

#include <platform/system/error.h>

#include <hardware/probe.h>
#include <systemd/sd-id128.h>

#include <cstdlib>

namespace hh::hw {

namespace {

constexpr const char* kNone = "none";

std::string Online(const std::string& supply) {
    return ReadInteger(supply + "/online").value_or(0) != 0 ? "online" : "offline";
}

std::string Supplies(const std::vector<PowerSupply>& supplies, bool (*kind)(const PowerSupply&),
                     std::string (*describe)(const PowerSupply&)) {
    std::string text;
    for (const PowerSupply& supply : supplies) {
        if (kind(supply)) {
            text += (text.empty() ? "" : ", ") + supply.path + " (" + describe(supply) + ")";
        }
    }
    return text.empty() ? kNone : text;
}

std::string Battery(const PowerSupply& supply) {
    std::string capacity = ReadAttribute(supply.path + "/capacity").value_or("?");
    return capacity + " %, " + ReadAttribute(supply.path + "/status").value_or("status unknown");
}

std::string Backlights() {
    std::optional<Backlight> light = FindBacklight();
    if (!light) {
        return kNone;
    }
    return light->path + " (max " + std::to_string(light->max) + ")";
}

std::string Buzzer() {
    std::optional<Beeper> beeper = FindBeeper();
    return beeper ? beeper->node + " (" + beeper->name + ")" : kNone;
}

std::string Card() {
    std::optional<std::string> card = FindCard();
    if (!card) {
        return kNone;
    }
    return *card + " (" + ReadAttribute(*card + "/type").value_or("card") + ", cid " +
           ReadAttribute(*card + "/cid").value_or("unreadable") + ")";
}

std::string UsbFunction() {
    if (std::optional<std::string> gadget = FindUsbGadget()) {
        return *gadget + " (configfs gadget)";
    }
    std::string text = kNone;
    for (const std::string& roleSwitch : FindUsbRoleSwitches()) {
        text += (text == kNone ? " (" : ", ") + roleSwitch + ": role " +
                ReadAttribute(roleSwitch + "/role").value_or("unknown");
    }
    return text == kNone ? text : text + "; no gadget offers a choice of function)";
}

std::string Bluetooth() {
    std::vector<std::string> radios = FindBluetoothRadios();
    if (radios.empty()) {
        return kNone;
    }
    std::string text;
    for (const std::string& radio : radios) {
        text += (text.empty() ? "" : ", ") + radio;
    }
    return text + (BluetoothRadioOn().value_or(false) ? " (on)" : " (off)");
}

std::string Iio(IioSensor sensor) {
    std::optional<std::string> device = FindIio(sensor);
    if (!device) {
        return kNone;
    }
    std::string name = ReadAttribute(*device + "/name").value_or("");
    if (sensor == IioSensor::Magnetometer) {
        const std::string heading = HeadingChannel(*device);
        name += std::string(name.empty() ? "" : ", ") +
                (heading.empty() ? "heading from in_magn_x and in_magn_y" : heading) +
                ", no calibration";
    }
    return *device + (name.empty() ? "" : " (" + name + ")");
}

std::string Identifier() {
    sd_id128_t id{};
    if (sd_id128_get_machine(&id) < 0) {
        return kNone;
    }
    return "/etc/machine-id (hashed with the application's key)";
}

// The OS text's parts are separated by "&" for the library; here by commas.
std::string Text(std::optional<MachineText> text) {
    if (!text) {
        return kNone;
    }
    std::string shown;
    for (char c : text->text) {
        shown += c == '&' ? std::string(", ") : std::string(1, c);
    }
    return shown + " (" + text->source + ")";
}

std::string LoginManager() {
    std::optional<std::string> owner = LoginManagerOwner();
    if (!owner) {
        const uint32_t error = sys::GetLastError();
        return std::string(kNone) + " (" +
               (error == sys::ERROR_FILE_NOT_FOUND ? "no login manager on the system bus"
                                                   : sys::ErrorText(error)) +
               ")";
    }
    return "org.freedesktop.login1 on the system bus (" + *owner + ")";
}

std::string Changes() {
    const char* allowed = std::getenv(kWritesVariable);
    return allowed && std::string_view(allowed) == "1"
               ? std::string("allowed (") + kWritesVariable + "=1)"
               : std::string("refused (") + kWritesVariable + "=1 allows them)";
}

} // namespace

std::vector<ProbeLine> ProbeMachine() {
    std::vector<PowerSupply> supplies = FindPowerSupplies();
    return {
        {"backlight", Backlights()},
        {"buzzer", Buzzer()},
        {"battery",
         Supplies(
             supplies, [](const PowerSupply& s) { return s.type == "Battery"; }, Battery)},
        {"mains", Supplies(
                      supplies, [](const PowerSupply& s) { return s.type == "Mains"; },
                      [](const PowerSupply& s) { return Online(s.path); })},
        {"usb supply",
         Supplies(supplies, IsUsbSupply, [](const PowerSupply& s) { return Online(s.path); })},
        {"storage card", Card()},
        {"usb function", UsbFunction()},
        {"bluetooth", Bluetooth()},
        {"compass", Iio(IioSensor::Magnetometer)},
        {"g-sensor", Iio(IioSensor::Accelerometer)},
        {"barometer", Iio(IioSensor::Barometer)},
        {"identifier", Identifier()},
        {"oem", Text(OemText())},
        {"platform", Text(PlatformText())},
        {"os", Text(OsText())},
        {"power", LoginManager()},
        {"hardware changes", Changes()},
    };
}

} // namespace hh::hw
