#include "simulator/receiver/gps_scenario_store.h"
#include "simulator/receiver/receiver_host.h"

#include <platform/system/clock.h>
#include <platform/system/device_root.h>

#include <unistd.h>

#include <ctime>
#include <filesystem>

namespace hh::sim {

namespace {

constexpr int64_t kPublishEveryMs = 1000;

} // namespace

std::string ReceiverName(std::string_view what) {
    return std::string(what) + " (process " + std::to_string(::getpid()) + ")";
}

std::string GpsSource::nextBurst() {
    if (!name_.empty()) {
        followDevice();
    }
    std::string burst = receiver_.nextBurst();
    if (!name_.empty()) {
        publishSky();
    }
    return burst;
}

void GpsSource::followDevice() {
    // A store that cannot be read leaves the receiver as it is: a receiver
    // does not stop for its console.
    int64_t revision = 0;
    if (!GpsScenarioRevision(revision) || revision == revision_) {
        return;
    }
    if (const std::optional<GpsScenario> scenario = LoadGpsScenario()) {
        receiver_.follow(*scenario);
        revision_ = revision;
    }
}

void GpsSource::publishSky() {
    // Only a device that exists is told: a serve without one makes none
    // (not even the device clock's start record).
    std::error_code ec;
    if (!std::filesystem::is_directory(sys::DeviceStateDir(), ec)) {
        return;
    }
    const int64_t now = sys::DeviceUptimeMs();
    if (published_ && now - publishedAtMs_ < kPublishEveryMs) {
        return;
    }
    published_ = true;
    publishedAtMs_ = now;
    GpsSky sky;
    sky.receiver = name_;
    sky.publishedAt = static_cast<int64_t>(std::time(nullptr));
    sky.utc = receiver_.utc();
    sky.fix = receiver_.fixType();
    sky.satellites = receiver_.satellites();
    PublishGpsSky(sky);
}

} // namespace hh::sim
