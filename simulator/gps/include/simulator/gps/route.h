#pragma once
// A route for the simulated receiver to travel: the positions of a GPX track
// (or, without a track, of a GPX route) or the fixes of a recorded NMEA log,
// each with the time it is reached. Times come from the file; a GPX file
// without them is walked at 1.4 m/s.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hh::sim {

struct RoutePoint {
    double latitude = 0;  ///< degrees
    double longitude = 0; ///< degrees
    double altitude = 0;  ///< metres above mean sea level (0 when the file gives none)
    double time = 0;      ///< seconds after the first point
    friend bool operator==(const RoutePoint&, const RoutePoint&) = default;
};

/// Reads a GPX document or an NMEA log (told apart by their content). A
/// file with fewer than two positions, a coordinate out of range or times
/// that run backwards is refused: nullopt with a one-line reason in error.
std::optional<std::vector<RoutePoint>> ParseRoute(std::string_view text, std::string& error);

/// Where a traveller on the route is after `elapsed` seconds: on the last
/// point once the route is done, or, with loop, on it again from its start.
struct RoutePosition {
    double latitude = 0;
    double longitude = 0;
    double altitude = 0;
    double speed = 0;  ///< metres a second
    double course = 0; ///< degrees from true north
};
RoutePosition PositionOnRoute(const std::vector<RoutePoint>& route, double elapsed, bool loop);

/// Seconds since 1970 of an ISO 8601 UTC time as GPX writes it
/// ("2024-06-01T12:00:05Z", fractions and a "+02:00" offset allowed).
std::optional<double> ParseIsoTime(std::string_view text);

/// Distance between two points on the Earth's mean sphere, in metres.
double GroundDistance(double lat1, double lon1, double lat2, double lon2);

} // namespace hh::sim
