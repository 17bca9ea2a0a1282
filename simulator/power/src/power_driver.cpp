#include <platform/system/clock.h>
#include <platform/system/device_root.h>
#include <platform/system/error.h>
#include <simulator/power/power_driver.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>

namespace hh::sim {

namespace {

constexpr const char* kFlagFile = "recover_flag";
constexpr const char* kLockFile = "power.lock";

std::filesystem::path StateDir() {
    std::filesystem::path dir = sys::DeviceStateDir();
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    return dir;
}

// Serialises read-modify-write of the flag between the programs of a device
// root; the kernel drops the lock with a process that dies holding it.
class StateLock {
public:
    StateLock() {
        m_fd = ::open((StateDir() / kLockFile).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (m_fd >= 0) {
            while (::flock(m_fd, LOCK_EX) != 0 && errno == EINTR) {
            }
        }
    }
    ~StateLock() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    StateLock(const StateLock&) = delete;
    StateLock& operator=(const StateLock&) = delete;

private:
    int m_fd = -1;
};

bool Fail(int error) {
    sys::SetLastErrorFromErrno(error);
    return false;
}

bool WriteFlagFile(uint32_t value) {
    std::filesystem::path dir = StateDir();
    std::string text = std::to_string(value) + "\n";
    std::string temp = (dir / (std::string(".") + kFlagFile + ".XXXXXX")).string();
    int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        return Fail(errno);
    }
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            int error = errno;
            ::close(fd);
            ::unlink(temp.c_str());
            return Fail(error);
        }
        done += static_cast<size_t>(n);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        int error = errno;
        ::unlink(temp.c_str());
        return Fail(error);
    }
    if (::rename(temp.c_str(), (dir / kFlagFile).c_str()) != 0) {
        int error = errno;
        ::unlink(temp.c_str());
        return Fail(error);
    }
    int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0) {
        return Fail(errno);
    }
    bool synced = ::fsync(dirFd) == 0;
    int error = errno;
    ::close(dirFd);
    return synced || Fail(error);
}

class PowerDevice : public sys::StreamDevice {
public:
    bool ioControl(uint32_t code, std::span<const std::byte> in, std::span<std::byte> out,
                   uint32_t* bytesReturned) override {
        if (bytesReturned) {
            *bytesReturned = 0;
        }
        switch (code) {
        case IOCTL_POWER_PREPARE_RESTART:
            // Nothing of the simulated device needs saving before a restart:
            // the flag and the registry are on disk already.
            if (in.size() < sizeof(uint32_t)) {
                sys::SetLastError(sys::ERROR_INVALID_PARAMETER);
                return false;
            }
            std::fflush(nullptr);
            return true;
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

void EndProgram() {
    std::fflush(nullptr);
    // Other threads of the program may still run: end at once, as the
    // device's restart does, without running static destructors under them.
    ::_exit(0);
}

} // namespace

std::optional<uint32_t> ReadStoredRecoverFlag() {
    std::filesystem::path path = sys::DeviceStateDir() / kFlagFile;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR) {
            return 0u;
        }
        sys::SetLastErrorFromErrno(errno);
        return std::nullopt;
    }
    char text[32] = {};
    ssize_t n = ::read(fd, text, sizeof text - 1);
    int error = errno;
    ::close(fd);
    if (n < 0) {
        sys::SetLastErrorFromErrno(error);
        return std::nullopt;
    }
    uint32_t value = 0;
    auto [end, ec] = std::from_chars(text, text + n, value);
    if (ec != std::errc() || (end != text + n && *end != '\n')) {
        sys::SetLastError(sys::ERROR_INVALID_DATA);
        return std::nullopt;
    }
    return value;
}

bool StoreRecoverFlag(uint32_t value) {
    StateLock lock;
    return WriteFlagFile(value);
}

bool RestartSimulatedDevice() {
    bool ok = true;
    {
        StateLock lock;
        std::optional<uint32_t> flag = ReadStoredRecoverFlag();
        if (!flag) {
            ok = false;
        } else if (*flag == kRecoverRequested) {
            ok = WriteFlagFile(kRecoverPending);
        }
    }
    sys::RestartDeviceClock();
    return ok;
}

std::unique_ptr<sys::StreamDevice> PowerDriver::open(const sys::OpenRequest& request) {
    if (request.index != 1) {
        sys::SetLastError(sys::ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    return std::make_unique<PowerDevice>();
}

SimulatedKernel::SimulatedKernel(ProgramEnd programEnd) : m_programEnd(std::move(programEnd)) {}

bool SimulatedKernel::kernelIoControl(uint32_t code, std::span<const std::byte>,
                                      std::span<std::byte>, uint32_t* bytesReturned) {
    if (bytesReturned) {
        *bytesReturned = 0;
    }
    if (code != IOCTL_HAL_REBOOT) {
        sys::SetLastError(sys::ERROR_NOT_SUPPORTED);
        return false;
    }
    RestartSimulatedDevice();
    m_programEnd();
    return true;
}

void RegisterSimulatedPower(ProgramEnd programEnd) {
    if (!programEnd) {
        programEnd = EndProgram;
    }
    sys::RegisterStreamDriver("PWR", std::make_shared<PowerDriver>());
    sys::RegisterKernelServices(std::make_shared<SimulatedKernel>(std::move(programEnd)));
}

} // namespace hh::sim
