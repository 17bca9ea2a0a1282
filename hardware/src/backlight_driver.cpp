// "BKL1:" over /sys/class/backlight/<d>/{brightness,max_brightness,bl_power}
// and the buzzer over an evdev beeper. The device's levels 1 to 100 map to
// the brightness range (conversions.h). A tone sounds at the frequency of its
// scale; the beeper has no loudness, so any level above 0 sounds alike.

#include "drivers.h"
#include "machine.h"
#include "sysfs.h"
#include "writes.h"

#include <platform/protocol/device_protocol.h>
#include <platform/system/driver_buffers.h>
#include <platform/system/posix.h>

#include <fcntl.h>
#include <hardware/conversions.h>
#include <linux/input.h>
#include <unistd.h>

#include <string>

namespace hh::hw {

namespace {

namespace posix = sys::posix;

// bl_power's values (the framebuffer's blanking levels).
constexpr const char* kScreenOn = "0";
constexpr const char* kScreenOff = "4";

bool SetLevel(uint32_t level) {
    if (level < 1 || level > 100) {
        return posix::Fail(sys::ERROR_INVALID_PARAMETER);
    }
    std::optional<Backlight> light = FindBacklight();
    return light && MayChangeMachine("the backlight level") &&
           WriteAttribute(light->path + "/brightness",
                          std::to_string(BrightnessOfLevel(level, light->max)));
}

bool GetLevel(std::span<std::byte> out, uint32_t* bytesReturned) {
    std::optional<Backlight> light = FindBacklight();
    if (!light) {
        return false;
    }
    std::optional<int64_t> brightness = ReadInteger(light->path + "/brightness");
    return brightness &&
           sys::WriteOutput(out, LevelOfBrightness(*brightness, light->max), bytesReturned);
}

bool SetScreen(bool on) {
    std::optional<Backlight> light = FindBacklight();
    return light && MayChangeMachine(on ? "the screen (on)" : "the screen (off)") &&
           WriteAttribute(light->path + "/bl_power", on ? kScreenOn : kScreenOff);
}

bool Tone(std::span<const std::byte> in) {
    // Level and scale; the three bytes after them are not the caller's to fill.
    uint32_t level = 0;
    if (in.size() < 5 || !sys::ReadInput(in, level)) {
        return posix::Fail(sys::ERROR_INVALID_PARAMETER);
    }
    const auto scale = static_cast<uint8_t>(in[4]);
    std::optional<Beeper> beeper = FindBeeper();
    // Silence is always allowed: it can only end a tone, never start one.
    if (!beeper || (level != 0 && !MayChangeMachine("the buzzer"))) {
        return false;
    }
    posix::Fd fd(::open(beeper->node.c_str(), O_WRONLY | O_CLOEXEC));
    if (!fd.valid()) {
        return posix::FailErrno(sys::ErrnoContext::OpenDevice);
    }
    input_event event{};
    event.type = EV_SND;
    event.code = SND_TONE;
    event.value = level == 0 ? 0 : ToneFrequency(scale);
    return posix::WriteAll(fd.get(), std::as_bytes(std::span(&event, 1))) ||
           posix::FailErrno(sys::ErrnoContext::DeviceIo);
}

class BacklightDevice : public sys::StreamDevice {
public:
    bool ioControl(uint32_t code, std::span<const std::byte> in, std::span<std::byte> out,
                   uint32_t* bytesReturned) override {
        if (bytesReturned) {
            *bytesReturned = 0;
        }
        uint32_t level = 0;
        switch (code) {
        case protocol::IOCTL_BKL_SET_LEVEL:
            return sys::ReadInput(in, level) && SetLevel(level);
        case protocol::IOCTL_BKL_GET_LEVEL:
            return GetLevel(out, bytesReturned);
        case protocol::IOCTL_BKL_SCREEN_ON:
        case protocol::IOCTL_BKL_SCREEN_OFF:
            return SetScreen(code == protocol::IOCTL_BKL_SCREEN_ON);
        case protocol::IOCTL_BKL_TONE:
            return Tone(in);
        default:
            return posix::Fail(sys::ERROR_NOT_SUPPORTED);
        }
    }
};

} // namespace

std::unique_ptr<sys::StreamDevice> BacklightDriver::open(const sys::OpenRequest& request) {
    return OpenedDevice(request, FindBacklight() || FindBeeper(),
                        std::make_unique<BacklightDevice>());
}

} // namespace hh::hw
