#pragma once
// The simulated backlight driver "BKL1:" (also reached as "bkl1:"): the
// backlight level, the screen switched on or off, and the buzzer, whose tone
// requests it keeps in a log with the device tick of each.
//
// Requests: IOCTL_BKL_SET_LEVEL, IOCTL_BKL_GET_LEVEL, IOCTL_BKL_SCREEN_ON,
// IOCTL_BKL_SCREEN_OFF and IOCTL_BKL_TONE of the device protocol. Other codes fail with
// ERROR_NOT_SUPPORTED, short buffers with ERROR_INVALID_PARAMETER or ERROR_INSUFFICIENT_BUFFER.

#include <platform/protocol/device_protocol.h>
#include <platform/system/stream_device.h>

#include <cstdint>
#include <optional>
#include <vector>

namespace hh::sim {

using protocol::IOCTL_BKL_GET_LEVEL;
using protocol::IOCTL_BKL_SCREEN_OFF;
using protocol::IOCTL_BKL_SCREEN_ON;
using protocol::IOCTL_BKL_SET_LEVEL;
using protocol::IOCTL_BKL_TONE;

inline constexpr uint32_t kDefaultBacklightLevel = 50;

/// The driver's state as the console and the device screen read it.
struct BacklightState {
    uint32_t level = kDefaultBacklightLevel;
    bool screenOn = true;
    /// The last tone request had a non-zero level.
    bool sounding = false;
};
/// Nothing, with the last error set, when the device state cannot be read.
std::optional<BacklightState> ReadBacklightState();
bool StoreBacklightLevel(uint32_t level);
bool StoreScreenOn(bool on);

/// One tone request: when it came (device tick), its level and scale.
struct ToneRequest {
    int64_t atMs = 0;
    uint32_t level = 0;
    uint8_t scale = 0;
    friend bool operator==(const ToneRequest&, const ToneRequest&) = default;
};
/// The tone log, oldest first; false with the last error set when the state cannot be read.
bool ReadToneLog(std::vector<ToneRequest>& tones);
bool ClearToneLog();

/// The "BKL" stream driver.
class BacklightDriver : public sys::StreamDriver {
public:
    std::unique_ptr<sys::StreamDevice> open(const sys::OpenRequest& request) override;
};

} // namespace hh::sim
