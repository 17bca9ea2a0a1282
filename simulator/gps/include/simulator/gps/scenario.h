#pragma once
// What the device console sets for the simulated receiver: where it stands or
// which route it travels, which satellites are blocked from it, and restarts.
// The scenario is kept as text in the device state, so that every receiver of
// the device (the terminal's COM7, devctl gps serve) follows one scenario.
//
// Commands are counted: a receiver that sees the position-and-route count
// change goes to the position or starts the route from its beginning; one
// that sees the start count change restarts. A receiver that starts up takes
// the scenario as it finds it without restarting.

#include "simulator/gps/route.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hh::sim {

enum class GpsStart {
    Cold, ///< nothing kept: no almanac, time, position or ephemerides
    Warm, ///< almanac, time and position kept; ephemerides collected anew
    Hot,  ///< everything kept; the signals are only found again
};

/// "cold", "warm", "hot".
std::string_view GpsStartName(GpsStart start);
std::optional<GpsStart> GpsStartFromName(std::string_view name);

/// Satellites whose signals do not reach the receiver.
struct GpsBlock {
    enum class Kind { None, Below, Prns, All };
    Kind kind = Kind::None;
    double below = 0;      ///< Below: elevation in degrees under which signals are blocked
    std::vector<int> prns; ///< Prns: the blocked PRNs, ascending
    bool blocks(int prn, double elevation) const;
    friend bool operator==(const GpsBlock&, const GpsBlock&) = default;
};

struct GpsScenario {
    double latitude = 48.1173;
    double longitude = 11.5167;
    double altitude = 545.4; ///< metres above mean sea level
    std::vector<RoutePoint> route;
    bool loop = false;
    uint64_t motions = 0; ///< position and route commands so far
    GpsBlock block;
    uint64_t starts = 0; ///< start commands so far
    GpsStart start = GpsStart::Cold;
    friend bool operator==(const GpsScenario&, const GpsScenario&) = default;
};

/// The scenario as text, and back; nullopt for text that is not one.
std::string SerializeScenario(const GpsScenario& scenario);
std::optional<GpsScenario> ParseScenario(std::string_view text);

} // namespace hh::sim
