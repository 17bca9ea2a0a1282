#include "simulator/backlight/backlight_driver.h"

#include <platform/system/clock.h>
#include <platform/system/device_display.h>
#include <simulator/state/device_state.h>
#include <simulator/state/driver_support.h>

namespace hh::sim {

namespace {

constexpr const char* kLevel = "bkl.level";
constexpr const char* kScreen = "bkl.screen";

class BacklightDevice : public sys::StreamDevice {
public:
    bool ioControl(uint32_t code, std::span<const std::byte> in, std::span<std::byte> out,
                   uint32_t* bytesReturned) override {
        switch (code) {
        case IOCTL_BKL_SET_LEVEL: {
            uint32_t level = 0;
            return ReadInput(in, level) && StoreBacklightLevel(level);
        }
        case IOCTL_BKL_GET_LEVEL: {
            int64_t level = 0;
            if (!state::GetInt(kLevel, kDefaultBacklightLevel, level)) {
                return false;
            }
            return WriteOutput(out, static_cast<uint32_t>(level), bytesReturned);
        }
        case IOCTL_BKL_SCREEN_ON:
        case IOCTL_BKL_SCREEN_OFF:
            return StoreScreenOn(code == IOCTL_BKL_SCREEN_ON);
        case IOCTL_BKL_TONE: {
            // Level and scale; the three bytes after them are not the caller's to fill.
            if (in.size() < 5) {
                return FailWith(sys::ERROR_INVALID_PARAMETER);
            }
            uint32_t level = 0;
            std::memcpy(&level, in.data(), sizeof level);
            auto scale = static_cast<uint8_t>(in[4]);
            bool ok = state::AppendLog(state::kToneLog, {sys::DeviceUptimeMs(), level, scale});
            sys::DisplayStateChanged();
            return ok;
        }
        default:
            return FailWith(sys::ERROR_NOT_SUPPORTED);
        }
    }
};

} // namespace

std::optional<BacklightState> ReadBacklightState() {
    int64_t level = 0, screen = 1;
    state::LogEntry last;
    bool found = false;
    if (!state::GetInt(kLevel, kDefaultBacklightLevel, level) ||
        !state::GetInt(kScreen, 1, screen) || !state::LastLogEntry(state::kToneLog, last, found)) {
        return std::nullopt;
    }
    return BacklightState{static_cast<uint32_t>(level), screen != 0, found && last.a != 0};
}

bool StoreBacklightLevel(uint32_t level) {
    bool ok = state::SetInt(kLevel, level);
    sys::DisplayStateChanged();
    return ok;
}

bool StoreScreenOn(bool on) {
    bool ok = state::SetInt(kScreen, on ? 1 : 0);
    sys::DisplayStateChanged();
    return ok;
}

bool ReadToneLog(std::vector<ToneRequest>& tones) {
    std::vector<state::LogEntry> entries;
    tones.clear();
    if (!state::ReadLog(state::kToneLog, entries)) {
        return false;
    }
    for (const state::LogEntry& e : entries) {
        tones.push_back({e.atMs, static_cast<uint32_t>(e.a), static_cast<uint8_t>(e.b & 0xFF)});
    }
    return true;
}

bool ClearToneLog() {
    bool ok = state::ClearLog(state::kToneLog);
    sys::DisplayStateChanged();
    return ok;
}

std::unique_ptr<sys::StreamDevice> BacklightDriver::open(const sys::OpenRequest& request) {
    if (request.index != 1) {
        FailWith(sys::ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    if (!DriverAvailable("BKL1")) {
        return nullptr;
    }
    return std::make_unique<BacklightDevice>();
}

} // namespace hh::sim
