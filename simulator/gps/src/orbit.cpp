#include "simulator/gps/orbit.h"

#include <array>
#include <charconv>
#include <chrono>
#include <cmath>
#include <numbers>

namespace hh::sim {

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kMu = 3.986005e14;            // WGS 84 gravitational constant, m^3/s^2
constexpr double kEarthRate = 7.2921151467e-5; // WGS 84 rotation rate, rad/s
constexpr double kWgsA = 6378137.0;            // semi-major axis, m
constexpr double kWgsE2 = 6.69437999014e-3;    // first eccentricity squared
constexpr double kSecondsPerWeek = 604800.0;
constexpr int64_t kGpsEpochUtc = 315964800; // 1980-01-06 00:00:00 UTC

double Radians(double degrees) {
    return degrees * kPi / 180.0;
}

constexpr int64_t UtcOf(int year, unsigned month) {
    using namespace std::chrono;
    return sys_seconds{sys_days{std::chrono::year{year} / month / 1}}.time_since_epoch().count();
}

// The instants at which GPS time moved one more second ahead of UTC.
constexpr std::array<int64_t, 18> kLeapSeconds = {
    UtcOf(1981, 7), UtcOf(1982, 7), UtcOf(1983, 7), UtcOf(1985, 7), UtcOf(1988, 1), UtcOf(1990, 1),
    UtcOf(1991, 1), UtcOf(1992, 7), UtcOf(1993, 7), UtcOf(1994, 7), UtcOf(1996, 1), UtcOf(1997, 7),
    UtcOf(1999, 1), UtcOf(2006, 1), UtcOf(2009, 1), UtcOf(2012, 7), UtcOf(2015, 7), UtcOf(2017, 1)};

// One slot of the baseline constellation: plane right ascension and argument
// of latitude at the defined epoch, in degrees, and the PRN flown in it.
struct Slot {
    double rightAscension;
    double argumentOfLatitude;
    int prn;
};

constexpr Slot kBaselineSlots[] = {
    {272.847, 268.126, 9},  {272.847, 161.786, 31}, {272.847, 11.676, 8},   {272.847, 41.806, 7},
    {332.847, 80.956, 16},  {332.847, 173.336, 25}, {332.847, 309.976, 28}, {332.847, 204.376, 12},
    {32.847, 111.876, 29},  {32.847, 11.796, 3},    {32.847, 339.666, 19},  {32.847, 241.556, 17},
    {92.847, 135.226, 2},   {92.847, 265.446, 1},   {92.847, 35.156, 24},   {92.847, 167.356, 4},
    {152.847, 197.046, 20}, {152.847, 302.596, 5},  {152.847, 66.066, 22},  {152.847, 333.686, 11},
    {212.847, 238.886, 14}, {212.847, 345.226, 15}, {212.847, 105.206, 13}, {212.847, 135.346, 18},
};

// The slots hold at the defined epoch, 00:00 UTC on 1 July 1993, in the
// inertial frame of J2000.
constexpr int64_t kBaselineEpochUtc = UtcOf(1993, 7);
constexpr double kBaselineSemiMajorAxis = 26559.7e3;
// The nodal regression of a 55-degree orbit at that height, degrees a second.
constexpr double kBaselineNodeRateDegrees = -4.4874e-7;

// Greenwich mean sidereal time (the IAU 1982 expression, UT1 taken as UTC).
double GreenwichSiderealRadians(double utc) {
    const double days = (utc - 946728000.0) / 86400.0; // since J2000.0, 2000-01-01 12:00
    const double centuries = days / 36525.0;
    const double degrees = 280.46061837 + 360.98564736629 * days +
                           0.000387933 * centuries * centuries -
                           centuries * centuries * centuries / 38710000.0;
    return Radians(std::fmod(degrees, 360.0));
}

// The slots carried from their epoch to the start of the GPS week of nearUtc,
// as the control segment refers each week's almanac to that week: the
// Earth's rotation within a week is then the almanac's constant rate, while
// across the decades since the epoch it is the sidereal time's.
Almanac MakeBaseline(int64_t nearUtc) {
    const double epochGps = GpsSecondsFromUtc(static_cast<double>(kBaselineEpochUtc));
    const double nearGps = GpsSecondsFromUtc(static_cast<double>(nearUtc));
    const double reference = std::floor(nearGps / kSecondsPerWeek) * kSecondsPerWeek;
    const double elapsed = reference - epochGps;
    // UTC of the reference instant: GPS time less the leap seconds then.
    const double approximateUtc = reference + static_cast<double>(kGpsEpochUtc);
    const double referenceUtc = approximateUtc - (GpsSecondsFromUtc(approximateUtc) - reference);
    const double meanMotion = std::sqrt(kMu / std::pow(kBaselineSemiMajorAxis, 3));
    Almanac almanac;
    for (const Slot& slot : kBaselineSlots) {
        AlmanacEntry e;
        e.prn = slot.prn;
        e.inclination = Radians(55.0);
        e.nodeRate = Radians(kBaselineNodeRateDegrees);
        e.sqrtA = std::sqrt(kBaselineSemiMajorAxis);
        e.nodeLongitude = Radians(slot.rightAscension) + e.nodeRate * elapsed -
                          GreenwichSiderealRadians(referenceUtc);
        // A circular orbit: the argument of latitude is the mean anomaly.
        e.meanAnomaly =
            std::fmod(Radians(slot.argumentOfLatitude) + meanMotion * elapsed, 2.0 * kPi);
        e.reference = reference;
        almanac.satellites.push_back(e);
    }
    return almanac;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
        s.remove_prefix(1);
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
        s.remove_suffix(1);
    }
    return s;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) {
        return false;
    }
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (lower(text[i]) != lower(prefix[i])) {
            return false;
        }
    }
    return true;
}

// The fields of a YUMA record, in the order the file gives them, with the
// range a GPS almanac's value lies in.
enum Field { Id, Health, Ecc, Toa, Incl, Rate, SqrtA, Node, Perigee, Anomaly, Af0, Af1, Week };
struct FieldInfo {
    std::string_view label;
    double min, max;
    bool required;
};
constexpr FieldInfo kFields[] = {
    {"ID", 1, 32, true},
    {"Health", 0, 255, true},
    {"Eccentricity", 0, 0.1, true},
    {"Time of Applicability", 0, kSecondsPerWeek, true},
    {"Orbital Inclination", 0.8, 1.2, true},
    {"Rate of Right Ascen", -1e-7, 1e-7, true},
    {"SQRT(A)", 5000, 5400, true},
    {"Right Ascen at Week", -2 * kPi - 1e-6, 2 * kPi + 1e-6, true},
    {"Argument of Perigee", -2 * kPi - 1e-6, 2 * kPi + 1e-6, true},
    {"Mean Anom", -2 * kPi - 1e-6, 2 * kPi + 1e-6, true},
    {"Af0", -1, 1, false},
    {"Af1", -1, 1, false},
    {"week", 0, 9999, true},
};
constexpr int kFieldCount = sizeof kFields / sizeof kFields[0];

std::optional<double> Number(std::string_view text) {
    double value = 0;
    const char* begin = text.data();
    const char* end = begin + text.size();
    if (begin != end && *begin == '+') {
        ++begin;
    }
    auto [ptr, ec] = std::from_chars(begin, end, value);
    if (text.empty() || ec != std::errc() || ptr != end || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

// Resolves a week number that may have been cut to 10 bits.
int64_t FullWeek(double week, int64_t nearUtc) {
    const auto w = static_cast<int64_t>(week);
    if (w >= 1024) {
        return w;
    }
    const int64_t nearWeek =
        static_cast<int64_t>(GpsSecondsFromUtc(static_cast<double>(nearUtc)) / kSecondsPerWeek);
    int64_t best = w;
    for (int64_t k = w; k <= nearWeek + 1024; k += 1024) {
        if (std::llabs(k - nearWeek) < std::llabs(best - nearWeek)) {
            best = k;
        }
    }
    return best;
}

} // namespace

Almanac BaselineAlmanac(int64_t nearUtc) {
    return MakeBaseline(nearUtc);
}

double GpsSecondsFromUtc(double utc) {
    int leaps = 0;
    for (int64_t at : kLeapSeconds) {
        leaps += utc >= static_cast<double>(at) ? 1 : 0;
    }
    return utc - static_cast<double>(kGpsEpochUtc) + leaps;
}

std::optional<Almanac> ParseYumaAlmanac(std::string_view text, int64_t nearUtc,
                                        std::string& error) {
    Almanac almanac;
    double values[kFieldCount] = {};
    bool seen[kFieldCount] = {};
    bool open = false;
    int lineNumber = 0;
    auto finish = [&]() -> bool {
        for (int f = 0; f < kFieldCount; ++f) {
            if (kFields[f].required && !seen[f]) {
                error = "the record of line " + std::to_string(lineNumber) + " lacks its " +
                        std::string(kFields[f].label);
                return false;
            }
        }
        AlmanacEntry e;
        e.prn = static_cast<int>(values[Id]);
        for (const AlmanacEntry& other : almanac.satellites) {
            if (other.prn == e.prn) {
                error = "PRN " + std::to_string(e.prn) + " has two records";
                return false;
            }
        }
        e.healthy = values[Health] == 0;
        e.eccentricity = values[Ecc];
        e.inclination = values[Incl];
        e.nodeRate = values[Rate];
        e.sqrtA = values[SqrtA];
        e.perigee = values[Perigee];
        e.meanAnomaly = values[Anomaly];
        // The node's longitude is given at the start of the week; the Earth
        // has turned on until the reference time.
        e.nodeLongitude = values[Node] - kEarthRate * values[Toa];
        e.reference =
            static_cast<double>(FullWeek(values[Week], nearUtc)) * kSecondsPerWeek + values[Toa];
        almanac.satellites.push_back(e);
        open = false;
        std::fill(std::begin(seen), std::end(seen), false);
        return true;
    };
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = Trim(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        ++lineNumber;
        if (line.empty() || line.front() == '*') {
            continue;
        }
        const std::size_t colon = line.find(':');
        int field = -1;
        for (int f = 0; f < kFieldCount && colon != std::string_view::npos; ++f) {
            if (StartsWithNoCase(line, kFields[f].label)) {
                field = f;
                break;
            }
        }
        if (field < 0) {
            error = "line " + std::to_string(lineNumber) + " is not a YUMA almanac line";
            return std::nullopt;
        }
        const std::optional<double> value = Number(Trim(line.substr(colon + 1)));
        if (!value || *value < kFields[field].min || *value > kFields[field].max) {
            error = "line " + std::to_string(lineNumber) + ": " +
                    std::string(kFields[field].label) + " is out of range";
            return std::nullopt;
        }
        if (field == Id && open) {
            error = "the record before line " + std::to_string(lineNumber) + " has no week";
            return std::nullopt;
        }
        if (field != Id && !open) {
            error = "line " + std::to_string(lineNumber) + " comes before any ID line";
            return std::nullopt;
        }
        open = true;
        values[field] = *value;
        seen[field] = true;
        if (field == Week && !finish()) {
            return std::nullopt;
        }
    }
    if (open) {
        error = "the last record has no week";
        return std::nullopt;
    }
    if (almanac.satellites.empty()) {
        error = "it holds no almanac record";
        return std::nullopt;
    }
    return almanac;
}

Ecef EcefFromGeodetic(double latitude, double longitude, double height) {
    const double lat = Radians(latitude);
    const double lon = Radians(longitude);
    const double n = kWgsA / std::sqrt(1.0 - kWgsE2 * std::sin(lat) * std::sin(lat));
    return {(n + height) * std::cos(lat) * std::cos(lon),
            (n + height) * std::cos(lat) * std::sin(lon),
            (n * (1.0 - kWgsE2) + height) * std::sin(lat)};
}

Ecef SatellitePosition(const AlmanacEntry& e, double gpsSeconds) {
    const double a = e.sqrtA * e.sqrtA;
    const double tk = gpsSeconds - e.reference;
    const double meanMotion = std::sqrt(kMu / (a * a * a));
    const double m = e.meanAnomaly + meanMotion * tk;
    // Kepler's equation by Newton's method; GPS orbits are nearly circular.
    double ecc = m;
    for (int i = 0; i < 8; ++i) {
        const double delta =
            (ecc - e.eccentricity * std::sin(ecc) - m) / (1.0 - e.eccentricity * std::cos(ecc));
        ecc -= delta;
        if (std::fabs(delta) < 1e-13) {
            break;
        }
    }
    const double trueAnomaly =
        std::atan2(std::sqrt(1.0 - e.eccentricity * e.eccentricity) * std::sin(ecc),
                   std::cos(ecc) - e.eccentricity);
    const double u = trueAnomaly + e.perigee;
    const double r = a * (1.0 - e.eccentricity * std::cos(ecc));
    const double xp = r * std::cos(u);
    const double yp = r * std::sin(u);
    const double node = e.nodeLongitude + (e.nodeRate - kEarthRate) * tk;
    return {xp * std::cos(node) - yp * std::cos(e.inclination) * std::sin(node),
            xp * std::sin(node) + yp * std::cos(e.inclination) * std::cos(node),
            yp * std::sin(e.inclination)};
}

LookAngle LookAngleFrom(double latitude, double longitude, const Ecef& observer,
                        const Ecef& target) {
    const double lat = Radians(latitude);
    const double lon = Radians(longitude);
    const double dx = target.x - observer.x;
    const double dy = target.y - observer.y;
    const double dz = target.z - observer.z;
    const double east = -std::sin(lon) * dx + std::cos(lon) * dy;
    const double north = -std::sin(lat) * std::cos(lon) * dx - std::sin(lat) * std::sin(lon) * dy +
                         std::cos(lat) * dz;
    const double up = std::cos(lat) * std::cos(lon) * dx + std::cos(lat) * std::sin(lon) * dy +
                      std::sin(lat) * dz;
    LookAngle angle;
    angle.elevation = std::atan2(up, std::hypot(east, north)) * 180.0 / kPi;
    angle.azimuth = std::atan2(east, north) * 180.0 / kPi;
    if (angle.azimuth < 0) {
        angle.azimuth += 360.0;
    }
    if (angle.azimuth >= 360.0) {
        angle.azimuth -= 360.0;
    }
    return angle;
}

} // namespace hh::sim
