#include "simulator/gps/scenario.h"

#include "text_fields.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace hh::sim {

namespace {

void AppendNumber(std::string& out, double value) {
    char buf[32];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
    out.append(buf, ec == std::errc() ? end : buf);
}

void AppendNumber(std::string& out, uint64_t value) {
    out += std::to_string(value);
}

} // namespace

std::string_view GpsStartName(GpsStart start) {
    switch (start) {
    case GpsStart::Cold:
        return "cold";
    case GpsStart::Warm:
        return "warm";
    case GpsStart::Hot:
        return "hot";
    }
    return "cold";
}

std::optional<GpsStart> GpsStartFromName(std::string_view name) {
    for (GpsStart s : {GpsStart::Cold, GpsStart::Warm, GpsStart::Hot}) {
        if (name == GpsStartName(s)) {
            return s;
        }
    }
    return std::nullopt;
}

bool GpsBlock::blocks(int prn, double elevation) const {
    switch (kind) {
    case Kind::None:
        return false;
    case Kind::Below:
        return elevation < below;
    case Kind::Prns:
        return std::binary_search(prns.begin(), prns.end(), prn);
    case Kind::All:
        return true;
    }
    return false;
}

std::string SerializeScenario(const GpsScenario& s) {
    std::string out = "position ";
    AppendNumber(out, s.latitude);
    out += ' ';
    AppendNumber(out, s.longitude);
    out += ' ';
    AppendNumber(out, s.altitude);
    out += "\nmotions ";
    AppendNumber(out, s.motions);
    out += "\nstarts ";
    AppendNumber(out, s.starts);
    out += ' ';
    out += GpsStartName(s.start);
    out += "\nblock ";
    switch (s.block.kind) {
    case GpsBlock::Kind::None:
        out += "none";
        break;
    case GpsBlock::Kind::Below:
        out += "below ";
        AppendNumber(out, s.block.below);
        break;
    case GpsBlock::Kind::Prns:
        out += "prns";
        for (int prn : s.block.prns) {
            out += ' ' + std::to_string(prn);
        }
        break;
    case GpsBlock::Kind::All:
        out += "all";
        break;
    }
    out += s.loop ? "\nloop 1\n" : "\nloop 0\n";
    for (const RoutePoint& p : s.route) {
        out += "point ";
        AppendNumber(out, p.latitude);
        out += ' ';
        AppendNumber(out, p.longitude);
        out += ' ';
        AppendNumber(out, p.altitude);
        out += ' ';
        AppendNumber(out, p.time);
        out += '\n';
    }
    return out;
}

std::optional<GpsScenario> ParseScenario(std::string_view text) {
    GpsScenario s;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::vector<std::string_view> w = Words(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        if (w.empty()) {
            continue;
        }
        bool ok = false;
        if (w[0] == "position" && w.size() == 4) {
            ok = ReadWord(w[1], s.latitude) && ReadWord(w[2], s.longitude) &&
                 ReadWord(w[3], s.altitude);
        } else if (w[0] == "motions" && w.size() == 2) {
            ok = ReadWord(w[1], s.motions);
        } else if (w[0] == "starts" && w.size() == 3) {
            const auto start = GpsStartFromName(w[2]);
            ok = ReadWord(w[1], s.starts) && start;
            s.start = start.value_or(GpsStart::Cold);
        } else if (w[0] == "block" && w.size() >= 2) {
            ok = true;
            if (w[1] == "none" && w.size() == 2) {
                s.block.kind = GpsBlock::Kind::None;
            } else if (w[1] == "all" && w.size() == 2) {
                s.block.kind = GpsBlock::Kind::All;
            } else if (w[1] == "below" && w.size() == 3) {
                s.block.kind = GpsBlock::Kind::Below;
                ok = ReadWord(w[2], s.block.below);
            } else if (w[1] == "prns") {
                s.block.kind = GpsBlock::Kind::Prns;
                for (std::size_t i = 2; i < w.size() && ok; ++i) {
                    int prn = 0;
                    ok = ReadWord(w[i], prn);
                    s.block.prns.push_back(prn);
                }
                std::sort(s.block.prns.begin(), s.block.prns.end());
            } else {
                ok = false;
            }
        } else if (w[0] == "loop" && w.size() == 2) {
            ok = w[1] == "0" || w[1] == "1";
            s.loop = w[1] == "1";
        } else if (w[0] == "point" && w.size() == 5) {
            RoutePoint p;
            ok = ReadWord(w[1], p.latitude) && ReadWord(w[2], p.longitude) &&
                 ReadWord(w[3], p.altitude) && ReadWord(w[4], p.time);
            s.route.push_back(p);
        }
        if (!ok) {
            return std::nullopt;
        }
    }
    return s;
}

} // namespace hh::sim
