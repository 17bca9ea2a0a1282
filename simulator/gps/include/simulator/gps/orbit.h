#pragma once
// Where the GPS satellites are: almanac elements (Keplerian, in the form the
// satellites broadcast them), their propagation to an Earth-fixed position,
// and the elevation and azimuth under which a receiver sees them.
//
// Two almanacs: the published 24-slot baseline constellation (six planes of
// four slots, circular orbits of 26,559.7 km at 55 degrees, slots given at
// 00:00 UTC on 1 July 1993), and a YUMA almanac file as the control segment
// publishes one every day. Both propagate with the broadcast almanac
// equations: mean motion from the semi-major axis, Kepler's equation for the
// eccentric anomaly, the node regressing at its rate while the Earth turns
// under it. No perturbations beyond the node's regression, as a receiver's own
// almanac prediction has none.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hh::sim {

/// One satellite's almanac elements. Angles in radians, times in seconds.
struct AlmanacEntry {
    int prn = 0;
    bool healthy = true;
    double eccentricity = 0;
    double inclination = 0;
    double nodeRate = 0;      ///< rate of right ascension, rad/s (negative: regression)
    double sqrtA = 0;         ///< square root of the semi-major axis, sqrt(m)
    double nodeLongitude = 0; ///< longitude of the ascending node at the reference time
    double perigee = 0;       ///< argument of perigee
    double meanAnomaly = 0;   ///< at the reference time
    double reference = 0;     ///< reference time, GPS seconds since 1980-01-06
};

struct Almanac {
    std::vector<AlmanacEntry> satellites;
};

/// The baseline 24-slot constellation with a PRN in every slot, as an
/// almanac referred to the start of the GPS week of nearUtc.
Almanac BaselineAlmanac(int64_t nearUtc);

/// Reads a YUMA almanac. A 10-bit week (below 1024) is taken as the week of
/// that number nearest to nearUtc. Nullopt with a one-line reason in error
/// when the text is not a YUMA almanac or a value is out of range.
std::optional<Almanac> ParseYumaAlmanac(std::string_view text, int64_t nearUtc, std::string& error);

/// GPS seconds since 1980-01-06 00:00:00 of a UTC instant (seconds since 1970),
/// with the leap seconds inserted since then.
double GpsSecondsFromUtc(double utc);

struct Ecef {
    double x = 0, y = 0, z = 0; ///< metres, WGS 84 Earth-centred Earth-fixed
};

/// A WGS 84 geodetic position (degrees, metres above the ellipsoid) in ECEF.
Ecef EcefFromGeodetic(double latitude, double longitude, double height);

/// The satellite's Earth-fixed position at a GPS time.
Ecef SatellitePosition(const AlmanacEntry& entry, double gpsSeconds);

struct LookAngle {
    double elevation = 0; ///< degrees above the horizon
    double azimuth = 0;   ///< degrees from true north, 0 <= azimuth < 360
};

/// Under what angles an observer at a geodetic position sees a point.
LookAngle LookAngleFrom(double latitude, double longitude, const Ecef& observer,
                        const Ecef& target);

} // namespace hh::sim
