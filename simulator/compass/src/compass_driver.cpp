#include "simulator/compass/compass_driver.h"

#include <platform/system/clock.h>
#include <platform/system/event.h>
#include <platform/system/registry.h>
#include <platform/system/thread.h>
#include <simulator/state/device_state.h>
#include <simulator/state/driver_support.h>

#include <mutex>

namespace hh::sim {

namespace {

enum Phase { kNone, kHall, kSide, kUpright, kGeneral };
constexpr const char* kPhaseNames[] = {"none", "hall", "side", "upright", "general"};

constexpr const char* kPhase = "compass.cal.phase";
constexpr const char* kStart = "compass.cal.start";
constexpr const char* kTarget = "compass.cal.target";
constexpr const char* kRunning = "compass.cal.running";
constexpr const char* kFinal = "compass.cal.samples";

enum EventIndex {
    kTest,
    kProcessing,
    kHallSuccess,
    kSideSuccess,
    kUprightSuccess,
    kFailure,
    kStop,
    kError
};

void Signal(int index) {
    sys::Event event = sys::Event::Create(sys::EventReset::Manual, false,
                                          std::string_view(kCalibrationEvents[index]));
    event.set();
}

// The registry count of a phase; a missing or zero count is stored first.
int TargetCount(Phase phase) {
    bool vertical = phase == kSide || phase == kUpright;
    const char16_t* name = vertical ? u"Calibration_Vertical" : u"Calibration_Horizontal";
    uint32_t fallback = vertical ? 100 : 200;
    sys::HKEY key = nullptr;
    if (sys::RegCreateKeyExW(sys::HKEY_LOCAL_MACHINE, u"Drivers\\BuiltIn\\Compass", 0, nullptr, 0,
                             sys::KEY_ALL_ACCESS, nullptr, &key, nullptr) != sys::ERROR_SUCCESS) {
        return static_cast<int>(fallback);
    }
    uint32_t value = 0;
    uint32_t size = sizeof value;
    uint32_t type = 0;
    if (sys::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<uint8_t*>(&value),
                              &size) != sys::ERROR_SUCCESS ||
        type != sys::REG_DWORD || value == 0) {
        value = fallback;
        sys::RegSetValueExW(key, name, 0, sys::REG_DWORD, reinterpret_cast<uint8_t*>(&value),
                            sizeof value);
    }
    sys::RegCloseKey(key);
    return static_cast<int>(value > 30000 ? 30000 : value);
}

// The samples counted so far of a calibration that runs since start.
std::optional<int> SamplesNow(const CalibrationStatus& status, int64_t start) {
    if (!status.running) {
        return status.samples;
    }
    std::optional<int> rate = CalibrationSampleRate();
    std::optional<std::string> outcome = CalibrationOutcome();
    if (!rate || !outcome) {
        return std::nullopt;
    }
    int64_t elapsed = sys::DeviceUptimeMs() - start;
    int64_t samples = elapsed < 0 ? 0 : elapsed * *rate / 1000;
    int64_t cap = *outcome == "stuck" ? status.target / 2 : status.target;
    return static_cast<int>(samples < cap ? samples : cap);
}

// The thread of this process that ends the calibration it armed.
struct Watcher {
    std::mutex mutex;
    sys::Event cancel;
    sys::Thread thread;
};

Watcher& TheWatcher() {
    static Watcher* watcher = new Watcher; // threads may still use it at exit
    return *watcher;
}

// Ends the calibration armed at start, unless it was armed again or powered
// down meanwhile: the check and the end are one step of the device state.
void Finish(int64_t start) {
    std::string outcome;
    int64_t phase = kNone;
    bool finished = false;
    const bool stored = state::Transact([&] {
        int64_t armedAt = -1, running = 0, target = 0;
        std::optional<std::string> next = CalibrationOutcome();
        if (!state::GetInt(kStart, -1, armedAt) || !state::GetInt(kRunning, 0, running) || !next ||
            !state::GetInt(kPhase, kNone, phase) || !state::GetInt(kTarget, 0, target)) {
            return false;
        }
        outcome = *next;
        if (armedAt != start || running == 0 || outcome == "stuck") {
            return true;
        }
        finished = true;
        return state::SetInts(
            {{kRunning, 0}, {kFinal, outcome == "success" ? target : target / 2}});
    });
    if (!stored || !finished) {
        return;
    }
    if (outcome == "success") {
        Signal(phase == kSide ? kSideSuccess : phase == kUpright ? kUprightSuccess : kHallSuccess);
    } else if (outcome == "failure") {
        Signal(kFailure);
    } else if (outcome == "stop") {
        Signal(kStop);
    } else {
        Signal(kError);
    }
}

void StartWatcher(int64_t start, int64_t end) {
    StopCalibrationWatcher();
    Watcher& w = TheWatcher();
    std::lock_guard lock(w.mutex);
    w.cancel = sys::Event::Create(sys::EventReset::Manual, false);
    sys::Event cancel = w.cancel;
    w.thread = sys::Thread::Start([cancel, start, end]() -> uint32_t {
        // Until the end's device time, also when the thread starts late.
        int64_t left = end - sys::DeviceUptimeMs();
        auto wait = static_cast<uint32_t>(left < 0 ? 0 : left);
        if (sys::WaitForSingleObject(cancel, wait) == sys::WAIT_TIMEOUT) {
            Finish(start);
        }
        return 0;
    });
}

bool Arm(Phase phase) {
    int target = TargetCount(phase);
    int64_t start = sys::DeviceUptimeMs();
    std::optional<int> rate = CalibrationSampleRate();
    if (!rate ||
        !state::SetInts(
            {{kPhase, phase}, {kStart, start}, {kTarget, target}, {kRunning, 1}, {kFinal, 0}})) {
        return false;
    }
    Signal(kProcessing);
    StartWatcher(start, start + (int64_t{target} * 1000 + *rate - 1) / *rate);
    return true;
}

// Stops a running calibration where its count stands: the count is read and
// stored in one step.
bool PowerDown() {
    StopCalibrationWatcher();
    return state::Transact([] {
        std::optional<CalibrationStatus> status = ReadCalibrationStatus();
        return status && state::SetInts({{kRunning, 0}, {kFinal, status->samples}});
    });
}

template <size_t N>
bool Answer(std::span<std::byte> out, uint32_t* bytesReturned) {
    if (out.size() < N) {
        return FailWith(sys::ERROR_INSUFFICIENT_BUFFER);
    }
    std::memset(out.data(), 0, N);
    if (bytesReturned) {
        *bytesReturned = N;
    }
    return true;
}

class CompassDevice : public sys::StreamDevice {
public:
    bool ioControl(uint32_t code, std::span<const std::byte> in, std::span<std::byte> out,
                   uint32_t* bytesReturned) override {
        uint32_t word = 0;
        switch (code) {
        case IOCTL_ECD_MEASURE_SINGLE:
        case IOCTL_ECD_HDOE_LEVEL:
        case IOCTL_ECD_HANDSET_FORMATION:
            return ReadInput(in, word);
        case IOCTL_ECD_POWERDOWN:
            return PowerDown();
        case IOCTL_ECD_CAL_HALL:
            return Arm(kHall);
        case IOCTL_ECD_CAL_SIDE:
            return Arm(kSide);
        case IOCTL_ECD_CAL_UPRIGHT:
            return Arm(kUpright);
        case IOCTL_ECD_CAL_GENERAL:
            return Arm(kGeneral);
        case IOCTL_ECD_GET_HOFFSET:
        case IOCTL_ECD_GET_AOFFSET:
            return Answer<6>(out, bytesReturned);
        case IOCTL_ECD_GET_HDATA:
        case IOCTL_ECD_GET_ADATA:
            return ReadInput(in, word) && Answer<56>(out, bytesReturned);
        case IOCTL_ECD_GET_DEBUG_INFO:
            return Answer<16>(out, bytesReturned);
        case IOCTL_ECD_GET_DIRECTION: {
            if (in.size() < 48) {
                return FailWith(sys::ERROR_INVALID_PARAMETER);
            }
            if (!Answer<20>(out, bytesReturned)) {
                return false;
            }
            std::optional<int16_t> azimuth = CompassAzimuth();
            if (!azimuth) {
                return false;
            }
            std::memcpy(out.data(), &*azimuth, sizeof *azimuth);
            return true;
        }
        case IOCTL_ECD_FCT_TEST: {
            if (!Answer<4004>(out, bytesReturned)) {
                return false;
            }
            const std::u16string text = u"Compass self test passed";
            std::memcpy(out.data(), text.c_str(), (text.size() + 1) * sizeof(char16_t));
            Signal(kTest);
            return true;
        }
        default:
            return FailWith(sys::ERROR_NOT_SUPPORTED);
        }
    }
};

} // namespace

bool IsCalibrationOutcome(std::string_view outcome) {
    return outcome == "success" || outcome == "failure" || outcome == "error" ||
           outcome == "stop" || outcome == "stuck";
}

std::optional<std::string> CalibrationOutcome() {
    std::string outcome;
    if (!state::GetText("compass.next", "success", outcome)) {
        return std::nullopt;
    }
    return outcome;
}

bool StoreCalibrationOutcome(std::string_view outcome) {
    if (!IsCalibrationOutcome(outcome)) {
        return FailWith(sys::ERROR_INVALID_PARAMETER);
    }
    return state::SetText("compass.next", outcome);
}

std::optional<int> CalibrationSampleRate() {
    int64_t rate = kDefaultSampleRate;
    if (!state::GetInt("compass.rate", kDefaultSampleRate, rate)) {
        return std::nullopt;
    }
    return rate < 1 || rate > 10000 ? kDefaultSampleRate : static_cast<int>(rate);
}

bool StoreCalibrationSampleRate(int samplesPerSecond) {
    if (samplesPerSecond < 1 || samplesPerSecond > 10000) {
        return FailWith(sys::ERROR_INVALID_PARAMETER);
    }
    return state::SetInt("compass.rate", samplesPerSecond);
}

std::optional<int16_t> CompassAzimuth() {
    int64_t azimuth = 135;
    if (!state::GetInt("compass.azimuth", 135, azimuth)) {
        return std::nullopt;
    }
    return static_cast<int16_t>(azimuth);
}

bool StoreCompassAzimuth(int16_t degrees) {
    return state::SetInt("compass.azimuth", degrees);
}

std::optional<CalibrationStatus> ReadCalibrationStatus() {
    CalibrationStatus status;
    int64_t phase = kNone, running = 0, target = 0, samples = 0, start = 0;
    if (!state::GetInt(kPhase, kNone, phase) || !state::GetInt(kRunning, 0, running) ||
        !state::GetInt(kTarget, 0, target) || !state::GetInt(kFinal, 0, samples) ||
        !state::GetInt(kStart, 0, start)) {
        return std::nullopt;
    }
    status.phase = kPhaseNames[phase >= kNone && phase <= kGeneral ? phase : int64_t{kNone}];
    status.running = running != 0;
    status.target = static_cast<int>(target);
    status.samples = static_cast<int>(samples);
    std::optional<int> now = SamplesNow(status, start);
    if (!now) {
        return std::nullopt;
    }
    status.samples = *now;
    return status;
}

void StopCalibrationWatcher() {
    Watcher& w = TheWatcher();
    std::lock_guard lock(w.mutex);
    if (w.thread) {
        w.cancel.set();
        sys::WaitForSingleObject(w.thread, sys::INFINITE);
        w.thread.close();
        w.cancel.close();
    }
}

std::unique_ptr<sys::StreamDevice> CompassDriver::open(const sys::OpenRequest& request) {
    if (request.index != 1) {
        FailWith(sys::ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    if (!DriverAvailable("ECD1")) {
        return nullptr;
    }
    return std::make_unique<CompassDevice>();
}

} // namespace hh::sim
