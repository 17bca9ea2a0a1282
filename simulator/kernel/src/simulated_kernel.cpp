#include "simulator/kernel/simulated_kernel.h"

#include <platform/system/clock.h>
#include <platform/system/code_page.h>
#include <platform/system/device_display.h>
#include <simulator/state/device_state.h>
#include <simulator/state/driver_support.h>

namespace hh::sim {

namespace {

constexpr const char* kDefaultUuid = "4A7F2C913B6E4D089C15E2B7A0D4F863";

std::string DefaultText(const std::string& which) {
    if (which == "platform") {
        return "V5520";
    }
    if (which == "oem") {
        return "Vekta V5520 Navigator";
    }
    return "Windows CE 6.00&Build 3122&ARMV4I";
}

bool Available() {
    return DriverAvailable("KERNEL", sys::ERROR_NOT_SUPPORTED);
}

// Copies text and its NUL into a buffer of `capacity` characters.
bool CopyText(const std::string& text, char16_t* buffer, size_t capacity) {
    std::u16string wide = sys::Utf8ToUtf16(text);
    if (!buffer) {
        return FailWith(sys::ERROR_INVALID_PARAMETER);
    }
    if (wide.size() + 1 > capacity) {
        if (capacity > 0) {
            wide.copy(buffer, capacity - 1);
            buffer[capacity - 1] = u'\0';
        }
        return FailWith(sys::ERROR_INSUFFICIENT_BUFFER);
    }
    wide.copy(buffer, wide.size());
    buffer[wide.size()] = u'\0';
    return true;
}

} // namespace

std::optional<Battery> ReadBattery() {
    Battery b;
    int64_t percent = 0, charging = 0, ac = 0, absent = 0;
    if (!state::GetInt("battery.percent", b.percent, percent) ||
        !state::GetInt("battery.charging", b.charging, charging) ||
        !state::GetInt("battery.ac", b.ac, ac) ||
        !state::GetInt("battery.absent", b.absent, absent)) {
        return std::nullopt;
    }
    return Battery{static_cast<int>(percent), charging != 0, ac != 0, absent != 0};
}

bool StoreBattery(const Battery& b) {
    return ChangeBattery({b.percent, b.charging, b.ac, b.absent});
}

bool ChangeBattery(const BatteryChange& change) {
    if (change.percent && (*change.percent < 0 || *change.percent > 100)) {
        return FailWith(sys::ERROR_INVALID_PARAMETER);
    }
    std::vector<state::Change> changes;
    if (change.percent) {
        changes.push_back({"battery.percent", *change.percent});
    }
    for (auto [name, part] :
         {std::pair{"battery.charging", change.charging}, std::pair{"battery.ac", change.ac},
          std::pair{"battery.absent", change.absent}}) {
        if (part) {
            changes.push_back({name, *part ? 1 : 0});
        }
    }
    return state::SetInts(changes);
}

sys::SystemPowerStatusEx PowerStatusOf(const Battery& b) {
    sys::SystemPowerStatusEx s;
    s.ACLineStatus = b.ac ? 1 : 0;
    if (b.absent) {
        s.BatteryFlag = 0x80;
        s.BatteryLifePercent = 0xFF;
        return s;
    }
    // Charging is reported alone, as the device's driver does.
    s.BatteryFlag = b.charging        ? 8
                    : b.percent <= 5  ? 4
                    : b.percent < 33  ? 2
                    : b.percent >= 66 ? 1
                                      : 0;
    s.BatteryLifePercent = static_cast<uint8_t>(b.percent);
    return s;
}

std::optional<std::vector<uint8_t>> DeviceUuid() {
    std::string text;
    if (!state::GetText("kernel.uuid", kDefaultUuid, text)) {
        return std::nullopt;
    }
    std::vector<uint8_t> uuid;
    if (!ParseHexBytes(text, 16, uuid)) {
        ParseHexBytes(kDefaultUuid, 16, uuid);
    }
    return uuid;
}

bool StoreDeviceUuid(const std::vector<uint8_t>& uuid) {
    if (uuid.size() != 16) {
        return FailWith(sys::ERROR_INVALID_PARAMETER);
    }
    return state::SetText("kernel.uuid", HexText(uuid));
}

std::optional<std::string> DeviceText(const std::string& which) {
    std::string text;
    if (!state::GetText("kernel.text." + which, DefaultText(which), text)) {
        return std::nullopt;
    }
    return text;
}

bool StoreDeviceText(const std::string& which, const std::string& text) {
    if (which != "platform" && which != "oem" && which != "os") {
        return FailWith(sys::ERROR_INVALID_PARAMETER);
    }
    return state::SetText("kernel.text." + which, text);
}

std::optional<bool> DeviceSuspended() {
    int64_t suspended = 0;
    if (!state::GetInt("power.suspended", 0, suspended)) {
        return std::nullopt;
    }
    return suspended != 0;
}

bool SetDeviceSuspended(bool suspended) {
    bool ok = state::SetInt("power.suspended", suspended ? 1 : 0) &&
              state::AppendLog(state::kPowerLog,
                               {sys::DeviceUptimeMs(),
                                suspended ? sys::POWER_STATE_SUSPEND : sys::POWER_STATE_ON, 0});
    sys::DisplayStateChanged();
    return ok;
}

SimulatedKernel::SimulatedKernel(RestartAction restart) : m_restart(std::move(restart)) {}

bool SimulatedKernel::kernelIoControl(uint32_t code, std::span<const std::byte> in,
                                      std::span<std::byte> out, uint32_t* bytesReturned) {
    if (bytesReturned) {
        *bytesReturned = 0;
    }
    if (!Available()) {
        return false;
    }
    switch (code) {
    case IOCTL_HAL_GET_UUID: {
        std::optional<std::vector<uint8_t>> read = DeviceUuid();
        if (!read) {
            return false;
        }
        const std::vector<uint8_t>& uuid = *read;
        if (out.size() < uuid.size()) {
            return FailWith(sys::ERROR_INSUFFICIENT_BUFFER);
        }
        std::memcpy(out.data(), uuid.data(), uuid.size());
        if (bytesReturned) {
            *bytesReturned = static_cast<uint32_t>(uuid.size());
        }
        return true;
    }
    case IOCTL_HAL_GET_DEVICE_INFO: {
        uint32_t selector = 0;
        if (!ReadInput(in, selector)) {
            return false;
        }
        if (selector != kOsVersionSelector) {
            return FailWith(sys::ERROR_NOT_SUPPORTED);
        }
        std::optional<std::string> os = DeviceText("os");
        if (!os) {
            return false;
        }
        std::u16string text = sys::Utf8ToUtf16(*os);
        size_t capacity = out.size() / sizeof(char16_t);
        std::vector<char16_t> buffer(capacity > 0 ? capacity : 1);
        bool ok = CopyText(*os, buffer.data(), capacity);
        size_t written = capacity == 0 ? 0 : (ok ? text.size() + 1 : capacity);
        std::memcpy(out.data(), buffer.data(), written * sizeof(char16_t));
        if (bytesReturned) {
            *bytesReturned = static_cast<uint32_t>(written * sizeof(char16_t));
        }
        return ok || FailWith(sys::ERROR_INSUFFICIENT_BUFFER);
    }
    case IOCTL_HAL_REBOOT:
        return m_restart();
    default:
        return FailWith(sys::ERROR_NOT_SUPPORTED);
    }
}

bool SimulatedKernel::systemParametersInfo(uint32_t action, uint32_t uiParam, void* pvParam,
                                           uint32_t) {
    if (!Available()) {
        return false;
    }
    if (action != sys::SPI_GETPLATFORMTYPE && action != sys::SPI_GETOEMINFO) {
        return FailWith(sys::ERROR_NOT_SUPPORTED);
    }
    std::optional<std::string> text =
        DeviceText(action == sys::SPI_GETOEMINFO ? "oem" : "platform");
    return text && CopyText(*text, static_cast<char16_t*>(pvParam), uiParam);
}

bool SimulatedKernel::powerStatus(sys::SystemPowerStatusEx& status, bool) {
    if (!Available()) {
        return false;
    }
    std::optional<Battery> battery = ReadBattery();
    if (!battery) {
        return false;
    }
    status = PowerStatusOf(*battery);
    return true;
}

uint32_t SimulatedKernel::setSystemPowerState(const char16_t* name, uint32_t stateFlags, uint32_t) {
    if (!Available()) {
        return sys::ERROR_NOT_SUPPORTED;
    }
    if ((name && *name) ||
        (stateFlags != sys::POWER_STATE_SUSPEND && stateFlags != sys::POWER_STATE_ON)) {
        return sys::ERROR_INVALID_PARAMETER;
    }
    return SetDeviceSuspended(stateFlags == sys::POWER_STATE_SUSPEND) ? sys::ERROR_SUCCESS
                                                                      : sys::GetLastError();
}

} // namespace hh::sim
