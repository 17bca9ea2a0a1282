// The "COM" stream driver: resolves COM<n> to its host device and keeps each
// port exclusive, as the device's serial driver does.

#include "platform/system/error.h"
#include "platform/system/posix.h"
#include "platform/system/serial_port.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <map>
#include <mutex>
#include <set>

namespace hh::sys {

namespace {

constexpr unsigned kGpsPort = 7;

struct SerialRegistry {
    std::mutex mutex;
    std::map<std::string, SerialTargetProvider, std::less<>> providers;
    std::set<unsigned> openPorts;
};

SerialRegistry& registry() {
    static SerialRegistry r;
    return r;
}

std::optional<SerialTarget> OpenHostPath(const std::string& path) {
    posix::Fd fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    // Another process holding the same device gets the same answer as a
    // second open in this one.
    if (!fd.valid() || ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        posix::FailErrno(ErrnoContext::OpenDevice);
        return std::nullopt;
    }
    return SerialTarget{fd.release(), {}};
}

std::optional<SerialTarget> ResolveTarget(std::string_view mapping) {
    if (mapping.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return std::nullopt;
    }
    if (mapping.front() == '/') {
        return OpenHostPath(std::string(mapping));
    }
    std::string_view scheme = mapping;
    std::string_view argument;
    if (auto colon = mapping.find(':'); colon != std::string_view::npos) {
        scheme = mapping.substr(0, colon);
        argument = mapping.substr(colon + 1);
    }
    SerialTargetProvider provider;
    {
        auto& r = registry();
        std::lock_guard lock(r.mutex);
        if (auto it = r.providers.find(scheme); it != r.providers.end()) {
            provider = it->second;
        }
    }
    if (!provider) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return std::nullopt;
    }
    return provider(argument);
}

class ComDriver final : public StreamDriver {
public:
    std::unique_ptr<StreamDevice> open(const OpenRequest& request) override {
        auto mapping = SerialPortMapping(request.index);
        if (!mapping) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return nullptr;
        }
        auto& r = registry();
        {
            std::lock_guard lock(r.mutex);
            if (!r.openPorts.insert(request.index).second) {
                SetLastError(ERROR_ACCESS_DENIED);
                return nullptr;
            }
        }
        auto release = [index = request.index] {
            auto& reg = registry();
            std::lock_guard lock(reg.mutex);
            reg.openPorts.erase(index);
        };
        auto target = ResolveTarget(*mapping);
        if (!target) {
            uint32_t error = GetLastError();
            release();
            SetLastError(error);
            return nullptr;
        }
        // The port runs the target's own clean-up first, then frees the COM number.
        target->afterClose = [inner = std::move(target->afterClose), release] {
            if (inner) {
                inner();
            }
            release();
        };
        return SerialPort::Open(std::move(*target));
    }
};

} // namespace

void RegisterSerialDriver() {
    RegisterStreamDriver("COM", std::make_shared<ComDriver>());
}

void RegisterSerialTargetProvider(std::string_view scheme, SerialTargetProvider provider) {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    r.providers[std::string(scheme)] = std::move(provider);
}

void UnregisterSerialTargetProvider(std::string_view scheme) {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    if (auto it = r.providers.find(scheme); it != r.providers.end()) {
        r.providers.erase(it);
    }
}

std::optional<std::string> SerialPortMapping(unsigned index) {
    if (index >= kSerialPortCount) {
        return std::nullopt;
    }
    std::string variable = "HANDHELD_COM" + std::to_string(index);
    if (const char* value = std::getenv(variable.c_str()); value && *value) {
        return std::string(value);
    }
    if (index == kGpsPort) {
        return std::string("gps");
    }
    return std::nullopt;
}

std::unique_ptr<SerialPort> OpenSerialTarget(std::string_view mapping) {
    auto target = ResolveTarget(mapping);
    if (!target) {
        return nullptr;
    }
    return SerialPort::Open(std::move(*target));
}

} // namespace hh::sys
