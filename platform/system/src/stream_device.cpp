#include "platform/system/stream_device.h"

#include "platform/system/error.h"

#include <dlfcn.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <map>
#include <mutex>

namespace hh::sys {

namespace {
struct Registry {
    std::mutex mutex;
    std::map<std::string, std::shared_ptr<StreamDriver>> drivers;
    std::shared_ptr<KernelServices> kernel;
};

// Lives to the end of the process: a thread may still open a device while
// the process exits.
Registry& registry() {
    static Registry* r = new Registry;
    return *r;
}

std::atomic<bool> g_loadOnDemand{false};
std::mutex g_loadMutex;
bool g_loadTried = false;
// Set on the thread that runs the module's entry, whose own registration
// must not start a second load.
thread_local bool t_loading = false;

bool KernelRegistered() {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    return r.kernel != nullptr;
}

// The platform library's own folder, where the backend module lies.
std::filesystem::path PlatformLibraryFolder() {
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void*>(&LoadBackendOnDemand), &info) || !info.dli_fname) {
        return {};
    }
    return std::filesystem::path(info.dli_fname).parent_path();
}

void LoadBackendModule() {
    const std::filesystem::path module = PlatformLibraryFolder() / kBackendModule;
    // The module stays for the life of the process: its drivers are registered.
    void* handle = ::dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (!handle) {
        std::fprintf(stderr, "the device's backend could not be loaded: %s\n", ::dlerror());
        return;
    }
    auto entry = reinterpret_cast<int (*)()>(::dlsym(handle, kBackendEntry));
    if (!entry) {
        std::fprintf(stderr, "the device's backend %s has no %s\n", module.c_str(), kBackendEntry);
        return;
    }
    t_loading = true;
    entry();
    t_loading = false;
}

// Loads the backend once when a device is asked for and no program
// registered one; the others asking meanwhile wait for it.
void EnsureBackend() {
    if (!g_loadOnDemand.load() || t_loading || KernelRegistered()) {
        return;
    }
    std::lock_guard lock(g_loadMutex);
    if (g_loadTried) {
        return;
    }
    g_loadTried = true;
    const uint32_t error = GetLastError();
    LoadBackendModule();
    SetLastError(error);
}

std::string Upper(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return out;
}
} // namespace

bool StreamDevice::ioControl(uint32_t, std::span<const std::byte>, std::span<std::byte>,
                             uint32_t* bytesReturned) {
    if (bytesReturned) {
        *bytesReturned = 0;
    }
    SetLastError(ERROR_NOT_SUPPORTED);
    return false;
}

bool StreamDevice::read(std::span<std::byte>, uint32_t& bytesRead) {
    bytesRead = 0;
    SetLastError(ERROR_NOT_SUPPORTED);
    return false;
}

bool StreamDevice::write(std::span<const std::byte>, uint32_t& bytesWritten) {
    bytesWritten = 0;
    SetLastError(ERROR_NOT_SUPPORTED);
    return false;
}

void RegisterStreamDriver(std::string_view prefix, std::shared_ptr<StreamDriver> driver) {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    r.drivers[Upper(prefix)] = std::move(driver);
}

void UnregisterStreamDriver(std::string_view prefix) {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    r.drivers.erase(Upper(prefix));
}

void RegisterKernelServices(std::shared_ptr<KernelServices> services) {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    r.kernel = std::move(services);
}

void LoadBackendOnDemand() {
    g_loadOnDemand = true;
}

bool ParseStreamDeviceName(std::u16string_view name, OpenRequest& request) {
    // Three letters, one or two digits, a colon: "COM10:", "bkl1:".
    if (name.size() < 5 || name.size() > 6 || name.back() != u':') {
        return false;
    }
    std::string prefix;
    for (size_t i = 0; i < 3; ++i) {
        char16_t c = name[i];
        bool letter = (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
        if (!letter) {
            return false;
        }
        prefix += static_cast<char>(c);
    }
    unsigned index = 0;
    for (size_t i = 3; i + 1 < name.size(); ++i) {
        char16_t c = name[i];
        if (c < u'0' || c > u'9') {
            return false;
        }
        index = index * 10 + static_cast<unsigned>(c - u'0');
    }
    request.prefix = Upper(prefix);
    request.index = index;
    return true;
}

std::unique_ptr<StreamDevice> OpenStreamDevice(std::u16string_view name, uint32_t access,
                                               uint32_t shareMode, uint32_t disposition,
                                               uint32_t flags) {
    OpenRequest request;
    if (!ParseStreamDeviceName(name, request)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    request.access = access;
    request.shareMode = shareMode;
    request.disposition = disposition;
    request.flags = flags;
    EnsureBackend();
    std::shared_ptr<StreamDriver> driver;
    {
        auto& r = registry();
        std::lock_guard lock(r.mutex);
        auto it = r.drivers.find(request.prefix);
        if (it != r.drivers.end()) {
            driver = it->second;
        }
    }
    if (!driver) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    return driver->open(request);
}

bool KernelServices::systemParametersInfo(uint32_t, uint32_t, void*, uint32_t) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return false;
}

bool KernelServices::powerStatus(SystemPowerStatusEx&, bool) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return false;
}

uint32_t KernelServices::setSystemPowerState(const char16_t*, uint32_t, uint32_t) {
    return ERROR_NOT_SUPPORTED;
}

namespace {
std::shared_ptr<KernelServices> Kernel() {
    EnsureBackend();
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    return r.kernel;
}
} // namespace

bool SystemParametersInfoW(uint32_t action, uint32_t uiParam, void* pvParam, uint32_t winIni) {
    std::shared_ptr<KernelServices> kernel = Kernel();
    if (!kernel) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return false;
    }
    return kernel->systemParametersInfo(action, uiParam, pvParam, winIni);
}

bool GetSystemPowerStatusEx(SystemPowerStatusEx* status, bool update) {
    std::shared_ptr<KernelServices> kernel = Kernel();
    if (!status || !kernel) {
        SetLastError(status ? ERROR_NOT_SUPPORTED : ERROR_INVALID_PARAMETER);
        return false;
    }
    return kernel->powerStatus(*status, update);
}

uint32_t SetSystemPowerState(const char16_t* state, uint32_t stateFlags, uint32_t options) {
    std::shared_ptr<KernelServices> kernel = Kernel();
    if (!kernel) {
        return ERROR_NOT_SUPPORTED;
    }
    return kernel->setSystemPowerState(state, stateFlags, options);
}

bool KernelIoControl(uint32_t code, std::span<const std::byte> in, std::span<std::byte> out,
                     uint32_t* bytesReturned) {
    std::shared_ptr<KernelServices> kernel = Kernel();
    if (!kernel) {
        if (bytesReturned) {
            *bytesReturned = 0;
        }
        SetLastError(ERROR_NOT_SUPPORTED);
        return false;
    }
    return kernel->kernelIoControl(code, in, out, bytesReturned);
}

} // namespace hh::sys
