#pragma once
// The simulated backlight driver "BKL1:" (also reached as "bkl1:"): the
// backlight level, the screen switched on or off, and the buzzer, whose tone
// requests it keeps in a log with the device tick of each.
//
// Requests:
//   0x00220004  set the level      input: 32-bit level
//   0x00220008  read the level     output: 32-bit level
//   0x00010005  screen on          no buffers
//   0x00010006  screen off         no buffers
//   0x00000005  tone               input: 8 bytes, 32-bit level (0 = silence), 8-bit scale
// Other codes fail with ERROR_NOT_SUPPORTED, short buffers with
// ERROR_INVALID_PARAMETER or ERROR_INSUFFICIENT_BUFFER.

#include <platform/system/stream_device.h>

#include <cstdint>
#include <optional>
#include <vector>

namespace hh::sim {

inline constexpr uint32_t IOCTL_BKL_SET_LEVEL = 0x00220004;
inline constexpr uint32_t IOCTL_BKL_GET_LEVEL = 0x00220008;
inline constexpr uint32_t IOCTL_BKL_SCREEN_ON = 0x00010005;
inline constexpr uint32_t IOCTL_BKL_SCREEN_OFF = 0x00010006;
inline constexpr uint32_t IOCTL_BKL_TONE = 0x00000005;

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
