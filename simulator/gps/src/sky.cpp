#include "simulator/gps/sky.h"

#include "text_fields.h"

#include <cmath>
#include <cstdio>

namespace hh::sim {

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
            ok = ReadWord(w[1], sky.publishedAt);
        } else if (ok && w[0] == "utc" && w.size() == 2) {
            ok = ReadWord(w[1], sky.utc);
        } else if (ok && w[0] == "fix" && w.size() == 2) {
            int fix = 0;
            ok = ReadWord(w[1], fix) && fix >= 1 && fix <= 3;
            sky.fix = static_cast<GpsFix>(fix);
        } else if (ok && w[0] == "sat" && w.size() == 7) {
            GpsSatellite s;
            int used = 0;
            int listed = 0;
            ok = ReadWord(w[1], s.prn) && ReadWord(w[2], s.exactElevation) &&
                 ReadWord(w[3], s.exactAzimuth) && ReadWord(w[4], s.snr) && ReadWord(w[5], used) &&
                 ReadWord(w[6], listed);
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

} // namespace hh::sim
