#include "platform/system/error.h"
#include "platform/system/serial_port.h"
#include "simulator/receiver/receiver_host.h"

#include <cerrno>
#include <ctime>

namespace hh::sim {

namespace {

// The port closes the device end; the host thread sees it and ends, and the
// host is released with the port.
std::optional<sys::SerialTarget> Serve(std::unique_ptr<BurstSource> source) {
    std::shared_ptr<PtyReceiverHost> host =
        PtyReceiverHost::Start(std::move(source), Pacing::RealTime);
    if (!host) {
        return std::nullopt;
    }
    int fd = host->takeDeviceFd();
    return sys::SerialTarget{fd, [host] { host->stop(); }};
}

} // namespace

void RegisterSimulatedPorts() {
    sys::RegisterSerialTargetProvider("gps", [](std::string_view) {
        GpsReceiverOptions options;
        options.utcStart = static_cast<int64_t>(std::time(nullptr));
        options.seed = static_cast<uint64_t>(options.utcStart);
        return Serve(
            std::make_unique<GpsSource>(options, ReceiverName(program_invocation_short_name)));
    });
    sys::RegisterSerialTargetProvider(
        "replay", [](std::string_view file) -> std::optional<sys::SerialTarget> {
            auto source = ReplaySource::Load(std::string(file));
            if (!source) {
                return std::nullopt;
            }
            return Serve(std::move(source));
        });
}

} // namespace hh::sim
