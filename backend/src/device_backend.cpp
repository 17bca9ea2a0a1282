#include <platform/system/device_image.h>
#include <simulator/device/simulated_device.h>
#include <simulator/state/device_state.h>

#include <backend/device_backend.h>
#include <hardware/linux_device.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace hh::backend {

namespace {

std::string_view ChosenName() {
    const char* chosen = std::getenv(kDeviceVariable);
    return chosen ? chosen : "";
}

} // namespace

bool RunsOnMachineHardware() {
    return ChosenName() == "linux";
}

bool RegisterDeviceBackend(std::string& error) {
    const std::string_view name = ChosenName();
    if (name.empty() || name == "simulated") {
        if (!sim::RegisterSimulatedDevice()) {
            error = sim::state::StateErrorText();
            return false;
        }
        return true;
    }
    if (name == "linux") {
        hw::RegisterLinuxDevice();
        return true;
    }
    error = std::string(kDeviceVariable) + " is \"" + std::string(name) +
            "\", which names no device backend (simulated or linux)";
    return false;
}

bool StartDevice(std::string_view program) {
    std::string error;
    if (sys::PrepareDeviceRoot(error) && RegisterDeviceBackend(error)) {
        return true;
    }
    std::fprintf(stderr, "%.*s: %s\n", static_cast<int>(program.size()), program.data(),
                 error.c_str());
    return false;
}

} // namespace hh::backend
