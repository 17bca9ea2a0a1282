#include "machine.h"

#include "sysfs.h"

#include <platform/system/posix.h>

#include <sys/utsname.h>

#include <array>
#include <cstdlib>
#include <string_view>

namespace hh::hw {

namespace {

namespace posix = sys::posix;

constexpr const char* kBacklights = "/sys/class/backlight";
constexpr const char* kPowerSupplies = "/sys/class/power_supply";
constexpr const char* kMmcDevices = "/sys/bus/mmc/devices";
constexpr const char* kIioDevices = "/sys/bus/iio/devices";
constexpr const char* kRfkills = "/sys/class/rfkill";
constexpr const char* kGadgets = "/sys/kernel/config/usb_gadget";
constexpr const char* kRoleSwitches = "/sys/class/usb_role";
constexpr const char* kInputDevices = "/sys/class/input";
constexpr const char* kDmi = "/sys/class/dmi/id";
constexpr const char* kDeviceTreeModel = "/sys/firmware/devicetree/base/model";

// SND_TONE of the input layer's sound events, a bit of capabilities/snd.
constexpr unsigned kSoundTone = 2;

template <typename T>
std::optional<T> NotFound() {
    posix::Fail(sys::ERROR_FILE_NOT_FOUND);
    return std::nullopt;
}

std::string Join(const std::string& folder, const std::string& name) {
    return folder + "/" + name;
}

std::string AttributeOr(const std::string& path, std::string fallback) {
    return ReadAttribute(path).value_or(std::move(fallback));
}

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// The names in folder that begin with prefix.
std::vector<std::string> EntriesStartingWith(const std::string& folder, std::string_view prefix) {
    std::vector<std::string> found;
    for (const std::string& name : FolderEntries(folder)) {
        if (StartsWith(name, prefix)) {
            found.push_back(name);
        }
    }
    return found;
}

// A value of an os-release line: unquoted, or in double or single quotes
// with backslash escapes in double quotes.
std::string OsReleaseValue(std::string_view value) {
    if (value.size() >= 2 && value.front() == '\'' && value.back() == '\'') {
        return std::string(value.substr(1, value.size() - 2));
    }
    if (value.size() < 2 || value.front() != '"' || value.back() != '"') {
        return std::string(value);
    }
    std::string text;
    value = value.substr(1, value.size() - 2);
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size()) {
            ++i;
        }
        text += value[i];
    }
    return text;
}

std::optional<std::string> PrettyName(const std::string& file) {
    std::optional<std::string> content = ReadAttribute(file);
    if (!content) {
        return std::nullopt;
    }
    std::string_view rest = *content;
    while (!rest.empty()) {
        std::size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        if (StartsWith(line, "PRETTY_NAME=")) {
            return OsReleaseValue(line.substr(12));
        }
    }
    return std::nullopt;
}

// DMI's texts, or nothing when the machine has no DMI table (most boards with
// a device tree).
std::optional<std::string> DmiText(const char* attribute) {
    std::optional<std::string> text = ReadAttribute(Join(kDmi, attribute));
    return text && !text->empty() ? text : std::nullopt;
}

} // namespace

std::optional<Backlight> FindBacklight() {
    static constexpr std::array<std::string_view, 3> kPreference = {"firmware", "platform", "raw"};
    std::optional<Backlight> best;
    std::size_t bestRank = kPreference.size();
    for (const std::string& name : FolderEntries(kBacklights)) {
        Backlight light{Join(kBacklights, name),
                        AttributeOr(Join(kBacklights, name) + "/type", "")};
        std::optional<int64_t> max = ReadInteger(light.path + "/max_brightness");
        if (!max || *max <= 0) {
            continue;
        }
        light.max = *max;
        std::size_t rank = 0;
        while (rank < kPreference.size() && kPreference[rank] != light.type) {
            ++rank;
        }
        if (!best || rank < bestRank) {
            best = light;
            bestRank = rank;
        }
    }
    return best ? best : NotFound<Backlight>();
}

std::vector<PowerSupply> FindPowerSupplies() {
    std::vector<PowerSupply> supplies;
    for (const std::string& name : FolderEntries(kPowerSupplies)) {
        const std::string path = Join(kPowerSupplies, name);
        if (AttributeOr(path + "/scope", "System") == "Device") {
            continue;
        }
        if (std::optional<std::string> type = ReadAttribute(path + "/type")) {
            supplies.push_back({path, *type});
        }
    }
    return supplies;
}

bool IsUsbSupply(const PowerSupply& supply) {
    return StartsWith(supply.type, "USB");
}

std::optional<std::string> FindCard() {
    std::optional<std::string> other;
    for (const std::string& name : FolderEntries(kMmcDevices)) {
        const std::string path = Join(kMmcDevices, name);
        if (!Exists(path + "/cid")) {
            continue;
        }
        if (AttributeOr(path + "/type", "") == "SD") {
            return path;
        }
        if (!other) {
            other = path;
        }
    }
    return other ? other : NotFound<std::string>();
}

std::string HeadingChannel(const std::string& iioDevice) {
    for (const char* channel :
         {"in_rot_from_north_magnetic_tilt_comp", "in_rot_from_north_magnetic"}) {
        if (Exists(iioDevice + "/" + channel + "_raw")) {
            return channel;
        }
    }
    return "";
}

std::optional<std::string> FindIio(IioSensor sensor) {
    for (const std::string& name : FolderEntries(kIioDevices)) {
        const std::string path = Join(kIioDevices, name);
        bool offers = false;
        switch (sensor) {
        case IioSensor::Accelerometer:
            offers = Exists(path + "/in_accel_x_raw") && Exists(path + "/in_accel_y_raw") &&
                     Exists(path + "/in_accel_z_raw");
            break;
        case IioSensor::Magnetometer:
            offers = (Exists(path + "/in_magn_x_raw") && Exists(path + "/in_magn_y_raw")) ||
                     !HeadingChannel(path).empty();
            break;
        case IioSensor::Barometer:
            offers = Exists(path + "/in_pressure_input") || Exists(path + "/in_pressure_raw");
            break;
        }
        if (offers) {
            return path;
        }
    }
    return NotFound<std::string>();
}

std::optional<double> ReadChannel(const std::string& iioDevice, const std::string& channel,
                                  const std::string& kind) {
    const std::string base = iioDevice + "/" + channel;
    if (Exists(base + "_input")) {
        return ReadDecimal(base + "_input");
    }
    std::optional<double> raw = ReadDecimal(base + "_raw");
    if (!raw) {
        return std::nullopt;
    }
    // The channel's own offset and scale, else its kind's; none means 0 and 1.
    auto shared = [&](const char* suffix, double fallback) -> std::optional<double> {
        for (const std::string& path : {base + suffix, iioDevice + "/" + kind + suffix}) {
            if (Exists(path)) {
                return ReadDecimal(path);
            }
        }
        return fallback;
    };
    std::optional<double> offset = shared("_offset", 0.0);
    std::optional<double> scale = shared("_scale", 1.0);
    if (!offset || !scale) {
        return std::nullopt;
    }
    return (*raw + *offset) * *scale;
}

std::vector<std::string> FindBluetoothRadios() {
    std::vector<std::string> radios;
    for (const std::string& name : FolderEntries(kRfkills)) {
        const std::string path = Join(kRfkills, name);
        if (AttributeOr(path + "/type", "") == "bluetooth") {
            radios.push_back(path);
        }
    }
    return radios;
}

std::optional<std::string> FindUsbGadget() {
    for (const std::string& name : FolderEntries(kGadgets)) {
        const std::string functions = Join(kGadgets, name) + "/functions";
        for (const std::string& function : FolderEntries(functions)) {
            if (StartsWith(function, "acm.") || StartsWith(function, "gser.") ||
                StartsWith(function, "mass_storage.")) {
                return Join(kGadgets, name);
            }
        }
    }
    return NotFound<std::string>();
}

std::vector<std::string> FindUsbRoleSwitches() {
    std::vector<std::string> switches;
    for (const std::string& name : FolderEntries(kRoleSwitches)) {
        switches.push_back(Join(kRoleSwitches, name));
    }
    return switches;
}

std::optional<Beeper> FindBeeper() {
    for (const std::string& name : EntriesStartingWith(kInputDevices, "input")) {
        const std::string path = Join(kInputDevices, name);
        std::optional<std::string> sounds = ReadAttribute(path + "/capabilities/snd");
        // One hexadecimal word: the sound events fit in it.
        if (!sounds || ((std::strtoul(sounds->c_str(), nullptr, 16) >> kSoundTone) & 1) == 0) {
            continue;
        }
        for (const std::string& event : EntriesStartingWith(path, "event")) {
            std::string node = "/dev/input/" + event;
            std::optional<std::string> uevent = ReadAttribute(Join(path, event) + "/uevent");
            std::size_t at = uevent ? uevent->find("DEVNAME=") : std::string::npos;
            if (at != std::string::npos) {
                std::string devname = uevent->substr(at + 8, uevent->find('\n', at) - at - 8);
                node = StartsWith(devname, "/") ? devname : "/dev/" + devname;
            }
            return Beeper{node, AttributeOr(path + "/name", name)};
        }
    }
    return NotFound<Beeper>();
}

std::optional<MachineText> OemText() {
    std::optional<std::string> vendor = DmiText("sys_vendor");
    std::optional<std::string> product = DmiText("product_name");
    if (vendor || product) {
        std::string text = vendor.value_or("");
        if (product) {
            text += (text.empty() ? "" : " ") + *product;
        }
        return MachineText{text, kDmi};
    }
    if (std::optional<std::string> model = ReadAttribute(kDeviceTreeModel)) {
        return MachineText{*model, kDeviceTreeModel};
    }
    return NotFound<MachineText>();
}

std::optional<MachineText> PlatformText() {
    if (std::optional<std::string> product = DmiText("product_name")) {
        return MachineText{*product, kDmi};
    }
    if (std::optional<std::string> model = ReadAttribute(kDeviceTreeModel)) {
        return MachineText{*model, kDeviceTreeModel};
    }
    return NotFound<MachineText>();
}

std::optional<MachineText> OsText() {
    // os-release(5): /etc/os-release, else the vendor's /usr/lib/os-release.
    std::string source = "/etc/os-release";
    std::optional<std::string> name = PrettyName(source);
    if (!name) {
        source = "/usr/lib/os-release";
        name = PrettyName(source);
    }
    utsname system{};
    if (::uname(&system) != 0) {
        posix::FailErrno();
        return std::nullopt;
    }
    // The parts are separated by "&", which the library shows as line ends.
    std::string text = name.value_or("Linux");
    text += std::string("&") + system.sysname + " " + system.release + "&" + system.machine;
    return MachineText{text, (name ? source + ", " : std::string()) + "uname"};
}

} // namespace hh::hw
