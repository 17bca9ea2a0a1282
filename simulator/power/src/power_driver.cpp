#include <platform/system/clock.h>
#include <platform/system/error.h>
#include <platform/system/process.h>
#include <platform/system/recover_flag.h>
#include <platform/system/whole_file.h>
#include <simulator/card/storage_card.h>
#include <simulator/compass/compass_driver.h>
#include <simulator/power/power_driver.h>
#include <simulator/state/device_state.h>
#include <simulator/state/driver_support.h>

#include <cstdio>
#include <cstring>

namespace hh::sim {

namespace {

bool Record(uint32_t code, uint32_t value) {
    return state::AppendLog(state::kPowerLog, {sys::DeviceUptimeMs(), code, value});
}

class PowerDevice : public sys::StreamDevice {
public:
    bool ioControl(uint32_t code, std::span<const std::byte> in, std::span<std::byte> out,
                   uint32_t* bytesReturned) override {
        if (bytesReturned) {
            *bytesReturned = 0;
        }
        uint32_t value = 0;
        switch (code) {
        case IOCTL_POWER_PREPARE_SUSPEND:
            return ReadInput(in, value) && Record(code, value);
        case IOCTL_POWER_RESTORE_REGISTRY:
            return Record(code, 0);
        case IOCTL_POWER_USB_ADAPTER: {
            std::optional<uint32_t> status = UsbAdapterStatus();
            return status && WriteOutput(out, *status, bytesReturned);
        }
        case IOCTL_POWER_SAMPLE_COUNT: {
            std::optional<CalibrationStatus> calibration = ReadCalibrationStatus();
            if (!calibration) {
                return false;
            }
            int samples = calibration->samples;
            return WriteOutput(out, static_cast<int16_t>(samples > 32767 ? 32767 : samples),
                               bytesReturned);
        }
        case IOCTL_POWER_CARD_ID: {
            if (!CardPresent()) {
                return FailWith(sys::ERROR_NOT_READY);
            }
            std::optional<std::vector<uint8_t>> read = CardId();
            if (!read) {
                return false;
            }
            const std::vector<uint8_t>& cid = *read;
            if (out.size() < cid.size()) {
                return FailWith(sys::ERROR_INSUFFICIENT_BUFFER);
            }
            std::memcpy(out.data(), cid.data(), cid.size());
            if (bytesReturned) {
                *bytesReturned = static_cast<uint32_t>(cid.size());
            }
            return true;
        }
        case IOCTL_POWER_PREPARE_RESTART:
            // Nothing of the simulated device needs saving before a restart:
            // the flag and the registry are on disk already.
            if (!ReadInput(in, value)) {
                return false;
            }
            std::fflush(nullptr);
            return Record(code, value);
        case IOCTL_POWER_WRITE_RECOVER_FLAG: {
            if (in.size() < sizeof(uint32_t)) {
                sys::SetLastError(sys::ERROR_INVALID_PARAMETER);
                return false;
            }
            uint32_t value = 0;
            std::memcpy(&value, in.data(), sizeof value);
            return StoreRecoverFlag(value);
        }
        case IOCTL_POWER_READ_RECOVER_FLAG: {
            if (out.size() < sizeof(uint32_t)) {
                sys::SetLastError(sys::ERROR_INSUFFICIENT_BUFFER);
                return false;
            }
            std::optional<uint32_t> value = ReadStoredRecoverFlag();
            if (!value) {
                return false;
            }
            std::memcpy(out.data(), &*value, sizeof *value);
            if (bytesReturned) {
                *bytesReturned = sizeof *value;
            }
            return true;
        }
        default:
            sys::SetLastError(sys::ERROR_NOT_SUPPORTED);
            return false;
        }
    }
};

// The kernel of a program that needs only the restart (the recovery tool).
class RestartKernel : public sys::KernelServices {
public:
    explicit RestartKernel(RestartAction restart) : m_restart(std::move(restart)) {}
    bool kernelIoControl(uint32_t code, std::span<const std::byte>, std::span<std::byte>,
                         uint32_t* bytesReturned) override {
        if (bytesReturned) {
            *bytesReturned = 0;
        }
        if (code != IOCTL_HAL_REBOOT) {
            return FailWith(sys::ERROR_NOT_SUPPORTED);
        }
        return m_restart();
    }

private:
    RestartAction m_restart;
};

// Other threads of the program may still run: end at once, as the device's
// restart does, without running static destructors under them.
void EndProgram() {
    sys::ExitProcessNow(0);
}

} // namespace

bool RestartSimulatedDevice() {
    sys::StateFileLock lock(sys::kRecoverFlagLock);
    if (!lock.Held()) {
        return false;
    }
    std::optional<uint32_t> flag = ReadStoredRecoverFlag();
    if (!flag) {
        return false;
    }
    // The new boot instant and the flag's new value are one step: a restart
    // that cannot store both (a full disk) has not happened.
    std::vector<sys::StateFileContents> changes;
    if (*flag == kRecoverRequested) {
        changes.push_back(sys::RecoverFlagContents(kRecoverPending));
    }
    return sys::RestartDeviceClock(changes);
}

std::optional<uint32_t> UsbAdapterStatus() {
    int64_t status = 0;
    if (!state::GetInt("usb.adapter", 0, status)) {
        return std::nullopt;
    }
    return static_cast<uint32_t>(status);
}

bool StoreUsbAdapterStatus(uint32_t status) {
    return state::SetInt("usb.adapter", status);
}

bool ReadPowerRequests(std::vector<PowerRequest>& requests) {
    std::vector<state::LogEntry> entries;
    requests.clear();
    if (!state::ReadLog(state::kPowerLog, entries)) {
        return false;
    }
    for (const state::LogEntry& e : entries) {
        requests.push_back({e.atMs, static_cast<uint32_t>(e.a), static_cast<uint32_t>(e.b)});
    }
    return true;
}

std::unique_ptr<sys::StreamDevice> PowerDriver::open(const sys::OpenRequest& request) {
    if (request.index != 1) {
        FailWith(sys::ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    if (!DriverAvailable("PWR1")) {
        return nullptr;
    }
    return std::make_unique<PowerDevice>();
}

RestartAction RestartAndEnd(ProgramEnd programEnd) {
    if (!programEnd) {
        programEnd = EndProgram;
    }
    return [programEnd] {
        if (!RestartSimulatedDevice()) {
            return false;
        }
        programEnd();
        return true;
    };
}

void RegisterSimulatedPower(ProgramEnd programEnd) {
    sys::RegisterStreamDriver("PWR", std::make_shared<PowerDriver>());
    sys::RegisterKernelServices(
        std::make_shared<RestartKernel>(RestartAndEnd(std::move(programEnd))));
}

} // namespace hh::sim
