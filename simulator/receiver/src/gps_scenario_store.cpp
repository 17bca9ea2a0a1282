#include "simulator/receiver/gps_scenario_store.h"

#include <platform/system/error.h>
#include <simulator/state/device_state.h>

namespace hh::sim {

namespace {

constexpr std::string_view kScenario = "gps.scenario";
constexpr std::string_view kRevision = "gps.revision";
constexpr std::string_view kSky = "gps.sky";

std::optional<GpsScenario> Read() {
    std::string text;
    if (!state::GetText(kScenario, "", text)) {
        return std::nullopt;
    }
    std::optional<GpsScenario> scenario = ParseScenario(text);
    if (!scenario) {
        sys::SetLastError(sys::ERROR_FILE_CORRUPT);
    }
    return scenario;
}

} // namespace

std::optional<GpsScenario> LoadGpsScenario() {
    return Read();
}

bool GpsScenarioRevision(int64_t& revision) {
    return state::GetInt(kRevision, 0, revision);
}

bool ChangeGpsScenario(const std::function<bool(GpsScenario&)>& change) {
    return state::Transact([&] {
        std::optional<GpsScenario> scenario = Read();
        int64_t revision = 0;
        if (!scenario || !state::GetInt(kRevision, 0, revision) || !change(*scenario)) {
            return false;
        }
        return state::SetText(kScenario, SerializeScenario(*scenario)) &&
               state::SetInt(kRevision, revision + 1);
    });
}

bool PublishGpsSky(const GpsSky& sky) {
    return state::SetText(kSky, SerializeGpsSky(sky));
}

bool ReadGpsSky(std::optional<GpsSky>& sky) {
    std::string text;
    sky.reset();
    if (!state::GetText(kSky, "", text)) {
        return false;
    }
    if (!text.empty()) {
        sky = ParseGpsSky(text);
    }
    return true;
}

} // namespace hh::sim
