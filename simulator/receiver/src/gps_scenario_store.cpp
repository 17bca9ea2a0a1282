#include "simulator/receiver/gps_scenario_store.h"

#include <platform/system/error.h>
#include <simulator/state/device_state.h>

#include <charconv>
#include <cmath>

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

template <typename T>
bool Take(std::string_view word, T& value) {
    auto [ptr, ec] = std::from_chars(word.data(), word.data() + word.size(), value);
    return !word.empty() && ec == std::errc() && ptr == word.data() + word.size();
}

std::vector<std::string_view> Words(std::string_view line) {
    std::vector<std::string_view> words;
    while (!line.empty()) {
        const std::size_t blank = line.find(' ');
        words.push_back(line.substr(0, blank));
        line = blank == std::string_view::npos ? std::string_view{} : line.substr(blank + 1);
    }
    return words;
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

std::string SerializeGpsSky(const GpsSky& sky) {
    std::string out = "receiver " + sky.receiver + "\npublished " +
                      std::to_string(sky.publishedAt) + "\nutc " + std::to_string(sky.utc) +
                      "\nfix " + std::to_string(static_cast<int>(sky.fix)) + "\n";
    for (const GpsSatellite& s : sky.satellites) {
        char line[96];
        std::snprintf(line, sizeof line, "sat %d %.1f %.1f %d %d %d\n", s.prn, s.exactElevation,
                      s.exactAzimuth, s.snr, s.used ? 1 : 0, s.listed ? 1 : 0);
        out += line;
    }
    return out;
}

std::optional<GpsSky> ParseGpsSky(std::string_view text) {
    GpsSky sky;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        if (line.starts_with("receiver ")) {
            sky.receiver = std::string(line.substr(9));
            continue;
        }
        const std::vector<std::string_view> w = Words(line);
        bool ok = !w.empty();
        if (ok && w[0] == "published" && w.size() == 2) {
            ok = Take(w[1], sky.publishedAt);
        } else if (ok && w[0] == "utc" && w.size() == 2) {
            ok = Take(w[1], sky.utc);
        } else if (ok && w[0] == "fix" && w.size() == 2) {
            int fix = 0;
            ok = Take(w[1], fix) && fix >= 1 && fix <= 3;
            sky.fix = static_cast<GpsFix>(fix);
        } else if (ok && w[0] == "sat" && w.size() == 7) {
            GpsSatellite s;
            int used = 0;
            int listed = 0;
            ok = Take(w[1], s.prn) && Take(w[2], s.exactElevation) && Take(w[3], s.exactAzimuth) &&
                 Take(w[4], s.snr) && Take(w[5], used) && Take(w[6], listed);
            s.used = used != 0;
            s.listed = listed != 0;
            s.elevation = static_cast<int>(std::lround(s.exactElevation));
            s.azimuth = static_cast<int>(std::lround(s.exactAzimuth)) % 360;
            sky.satellites.push_back(s);
        } else if (!line.empty()) {
            ok = false;
        }
        if (!ok && !line.empty()) {
            return std::nullopt;
        }
    }
    return sky;
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
