#include "simulator/gps/route.h"

#include <charconv>
#include <chrono>
#include <cmath>
#include <numbers>
#include <pugixml.hpp>

namespace hh::sim {

namespace {

constexpr double kEarthRadius = 6371008.8;
constexpr double kWalkingSpeed = 1.4;
constexpr double kDay = 86400.0;

double Radians(double degrees) {
    return degrees * std::numbers::pi / 180.0;
}

std::optional<double> Number(std::string_view text) {
    double value = 0;
    auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || ptr != text.data() + text.size() ||
        !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

std::optional<int> Digits(std::string_view text) {
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
    }
    return text.empty() ? std::nullopt : std::optional<int>(value);
}

} // namespace

std::optional<double> ParseIsoTime(std::string_view text) {
    if (text.size() < 19 || text[4] != '-' || text[7] != '-' ||
        (text[10] != 'T' && text[10] != ' ') || text[13] != ':' || text[16] != ':') {
        return std::nullopt;
    }
    const auto year = Digits(text.substr(0, 4));
    const auto month = Digits(text.substr(5, 2));
    const auto day = Digits(text.substr(8, 2));
    const auto hour = Digits(text.substr(11, 2));
    const auto minute = Digits(text.substr(14, 2));
    const auto second = Digits(text.substr(17, 2));
    if (!year || !month || !day || !hour || !minute || !second || *hour > 23 || *minute > 59 ||
        *second > 60) {
        return std::nullopt;
    }
    using namespace std::chrono;
    const year_month_day ymd{std::chrono::year{*year}, std::chrono::month{unsigned(*month)},
                             std::chrono::day{unsigned(*day)}};
    if (!ymd.ok()) {
        return std::nullopt;
    }
    double t = static_cast<double>(sys_seconds{sys_days{ymd}}.time_since_epoch().count()) +
               *hour * 3600.0 + *minute * 60.0 + *second;
    std::string_view rest = text.substr(19);
    if (rest.starts_with('.')) {
        std::size_t n = 1;
        while (n < rest.size() && rest[n] >= '0' && rest[n] <= '9') {
            ++n;
        }
        const auto fraction = Number(std::string("0") + std::string(rest.substr(0, n)));
        if (!fraction || n == 1) {
            return std::nullopt;
        }
        t += *fraction;
        rest.remove_prefix(n);
    }
    if (rest == "Z" || rest.empty()) {
        return t;
    }
    if (rest.size() == 6 && (rest[0] == '+' || rest[0] == '-') && rest[3] == ':') {
        const auto oh = Digits(rest.substr(1, 2));
        const auto om = Digits(rest.substr(4, 2));
        if (oh && om) {
            const double offset = *oh * 3600.0 + *om * 60.0;
            return rest[0] == '+' ? t - offset : t + offset;
        }
    }
    return std::nullopt;
}

namespace {

bool InRange(double lat, double lon) {
    return lat >= -90.0 && lat <= 90.0 && lon >= -180.0 && lon <= 180.0;
}

// Points with absolute times (NaN where the file gives none) to a route whose
// times count from its first point.
std::optional<std::vector<RoutePoint>> Finish(std::vector<RoutePoint> points,
                                              std::vector<double> times, std::string& error) {
    if (points.size() < 2) {
        error = "it holds fewer than two positions";
        return std::nullopt;
    }
    bool timed = true;
    for (double t : times) {
        timed = timed && !std::isnan(t);
    }
    std::vector<RoutePoint> route;
    double first = timed ? times[0] : 0.0;
    for (std::size_t i = 0; i < points.size(); ++i) {
        RoutePoint p = points[i];
        if (timed) {
            p.time = times[i] - first;
            if (!route.empty() && p.time < route.back().time) {
                error = "its times run backwards at position " + std::to_string(i + 1);
                return std::nullopt;
            }
            // A second fix of the same instant adds nothing.
            if (!route.empty() && p.time == route.back().time) {
                continue;
            }
        } else if (!route.empty()) {
            const RoutePoint& last = route.back();
            p.time =
                last.time + GroundDistance(last.latitude, last.longitude, p.latitude, p.longitude) /
                                kWalkingSpeed;
            if (p.time == last.time) {
                continue;
            }
        }
        route.push_back(p);
    }
    if (route.size() < 2) {
        error = "it holds fewer than two distinct positions";
        return std::nullopt;
    }
    return route;
}

std::optional<std::vector<RoutePoint>> ParseGpx(std::string_view text, std::string& error) {
    pugi::xml_document doc;
    const pugi::xml_parse_result parsed = doc.load_buffer(text.data(), text.size());
    if (!parsed) {
        error = std::string("it is not well-formed XML (") + parsed.description() + ")";
        return std::nullopt;
    }
    const pugi::xml_node gpx = doc.child("gpx");
    if (!gpx) {
        error = "it is no GPX document";
        return std::nullopt;
    }
    std::vector<RoutePoint> points;
    std::vector<double> times;
    auto take = [&](pugi::xml_node pt) -> bool {
        const auto lat = Number(pt.attribute("lat").value());
        const auto lon = Number(pt.attribute("lon").value());
        if (!lat || !lon || !InRange(*lat, *lon)) {
            error = "point " + std::to_string(points.size() + 1) +
                    " has no latitude and longitude in range";
            return false;
        }
        RoutePoint p{*lat, *lon, 0, 0};
        if (const auto ele = Number(pt.child_value("ele"))) {
            p.altitude = *ele;
        }
        const std::string_view time = pt.child_value("time");
        const auto t = ParseIsoTime(time);
        if (!time.empty() && !t) {
            error = "point " + std::to_string(points.size() + 1) + " has an unreadable time";
            return false;
        }
        points.push_back(p);
        times.push_back(t ? *t : std::nan(""));
        return true;
    };
    for (pugi::xml_node trk : gpx.children("trk")) {
        for (pugi::xml_node seg : trk.children("trkseg")) {
            for (pugi::xml_node pt : seg.children("trkpt")) {
                if (!take(pt)) {
                    return std::nullopt;
                }
            }
        }
    }
    if (points.empty()) {
        for (pugi::xml_node rte : gpx.children("rte")) {
            for (pugi::xml_node pt : rte.children("rtept")) {
                if (!take(pt)) {
                    return std::nullopt;
                }
            }
        }
    }
    return Finish(std::move(points), std::move(times), error);
}

std::vector<std::string_view> Fields(std::string_view body) {
    std::vector<std::string_view> fields;
    for (;;) {
        const std::size_t comma = body.find(',');
        fields.push_back(body.substr(0, comma));
        if (comma == std::string_view::npos) {
            return fields;
        }
        body.remove_prefix(comma + 1);
    }
}

// ddmm.mmmm / dddmm.mmmm and its hemisphere to signed degrees.
std::optional<double> Coordinate(std::string_view value, std::string_view hemisphere,
                                 int degreeDigits) {
    const std::size_t dot = value.find('.');
    if (value.size() < static_cast<std::size_t>(degreeDigits) + 2 ||
        (dot != std::string_view::npos && dot != static_cast<std::size_t>(degreeDigits) + 2)) {
        return std::nullopt;
    }
    const auto degrees = Digits(value.substr(0, degreeDigits));
    const auto minutes = Number(value.substr(degreeDigits));
    if (!degrees || !minutes || *minutes >= 60.0) {
        return std::nullopt;
    }
    const double v = *degrees + *minutes / 60.0;
    if (hemisphere == "S" || hemisphere == "W") {
        return -v;
    }
    return hemisphere == "N" || hemisphere == "E" ? std::optional<double>(v) : std::nullopt;
}

std::optional<double> TimeOfDay(std::string_view hhmmss) {
    if (hhmmss.size() < 6) {
        return std::nullopt;
    }
    const auto h = Digits(hhmmss.substr(0, 2));
    const auto m = Digits(hhmmss.substr(2, 2));
    const auto s = Number(hhmmss.substr(4));
    if (!h || !m || !s || *h > 23 || *m > 59 || *s >= 61.0) {
        return std::nullopt;
    }
    return *h * 3600.0 + *m * 60.0 + *s;
}

// The sentence body between "$" and "*" when its checksum holds (a sentence
// without one is taken as it is); empty otherwise.
std::string_view CheckedBody(std::string_view line) {
    const std::size_t dollar = line.find('$');
    if (dollar == std::string_view::npos) {
        return {};
    }
    line.remove_prefix(dollar + 1);
    const std::size_t star = line.find('*');
    if (star == std::string_view::npos) {
        return line;
    }
    unsigned stated = 0;
    const std::string_view hex = line.substr(star + 1, 2);
    auto [ptr, ec] = std::from_chars(hex.data(), hex.data() + hex.size(), stated, 16);
    if (hex.size() != 2 || ec != std::errc() || ptr != hex.data() + 2) {
        return {};
    }
    unsigned sum = 0;
    for (char c : line.substr(0, star)) {
        sum ^= static_cast<unsigned char>(c);
    }
    return sum == stated ? line.substr(0, star) : std::string_view{};
}

std::optional<std::vector<RoutePoint>> ParseNmea(std::string_view text, std::string& error) {
    std::vector<RoutePoint> points;
    std::vector<double> times;
    double dayOffset = 0;
    double lastTime = -1;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) {
            line.remove_suffix(1);
        }
        const std::string_view body = CheckedBody(line);
        if (body.size() < 6 || body[0] == 'P') {
            continue;
        }
        const std::string_view type = body.substr(2, 3);
        const std::vector<std::string_view> f = Fields(body);
        std::optional<double> lat, lon, time;
        double altitude = 0;
        if (type == "GGA" && f.size() >= 10 && !f[6].empty() && f[6] != "0") {
            lat = Coordinate(f[2], f[3], 2);
            lon = Coordinate(f[4], f[5], 3);
            time = TimeOfDay(f[1]);
            altitude = Number(f[9]).value_or(0.0);
        } else if (type == "RMC" && f.size() >= 7 && f[2] == "A") {
            lat = Coordinate(f[3], f[4], 2);
            lon = Coordinate(f[5], f[6], 3);
            time = TimeOfDay(f[1]);
        } else {
            continue;
        }
        if (!lat || !lon || !time) {
            continue;
        }
        // Past midnight the time of day starts again.
        if (lastTime >= 0 && *time + dayOffset < lastTime - kDay / 2) {
            dayOffset += kDay;
        }
        const double t = *time + dayOffset;
        if (!points.empty() && t == lastTime) {
            if (type == "GGA") {
                points.back().altitude = altitude;
            }
            continue;
        }
        lastTime = t;
        points.push_back({*lat, *lon, altitude, 0});
        times.push_back(t);
    }
    if (points.empty()) {
        error = "it is neither a GPX document nor an NMEA log with fixes";
        return std::nullopt;
    }
    return Finish(std::move(points), std::move(times), error);
}

} // namespace

double GroundDistance(double lat1, double lon1, double lat2, double lon2) {
    const double p1 = Radians(lat1);
    const double p2 = Radians(lat2);
    const double dp = p2 - p1;
    const double dl = Radians(lon2 - lon1);
    const double h = std::sin(dp / 2) * std::sin(dp / 2) +
                     std::cos(p1) * std::cos(p2) * std::sin(dl / 2) * std::sin(dl / 2);
    return 2.0 * kEarthRadius * std::asin(std::min(1.0, std::sqrt(h)));
}

std::optional<std::vector<RoutePoint>> ParseRoute(std::string_view text, std::string& error) {
    std::size_t start = 0;
    while (start < text.size() && (text[start] == ' ' || text[start] == '\t' ||
                                   text[start] == '\r' || text[start] == '\n')) {
        ++start;
    }
    if (text.substr(start).starts_with("<") || text.substr(start).starts_with("\xEF\xBB\xBF<")) {
        return ParseGpx(text, error);
    }
    return ParseNmea(text, error);
}

RoutePosition PositionOnRoute(const std::vector<RoutePoint>& route, double elapsed, bool loop) {
    RoutePosition at;
    if (route.empty()) {
        return at;
    }
    const double total = route.back().time;
    if (loop && total > 0 && elapsed >= total) {
        elapsed = std::fmod(elapsed, total);
    }
    if (elapsed >= total) {
        const RoutePoint& last = route.back();
        at.latitude = last.latitude;
        at.longitude = last.longitude;
        at.altitude = last.altitude;
        return at;
    }
    elapsed = std::max(elapsed, 0.0);
    // The segment that holds `elapsed`, by bisection.
    std::size_t lo = 0;
    std::size_t hi = route.size() - 1;
    while (hi - lo > 1) {
        const std::size_t mid = (lo + hi) / 2;
        (route[mid].time <= elapsed ? lo : hi) = mid;
    }
    const RoutePoint& a = route[lo];
    const RoutePoint& b = route[hi];
    const double f = (elapsed - a.time) / (b.time - a.time);
    at.latitude = a.latitude + (b.latitude - a.latitude) * f;
    at.longitude = a.longitude + (b.longitude - a.longitude) * f;
    at.altitude = a.altitude + (b.altitude - a.altitude) * f;
    at.speed = GroundDistance(a.latitude, a.longitude, b.latitude, b.longitude) / (b.time - a.time);
    const double dl = Radians(b.longitude - a.longitude);
    const double y = std::sin(dl) * std::cos(Radians(b.latitude));
    const double x = std::cos(Radians(a.latitude)) * std::sin(Radians(b.latitude)) -
                     std::sin(Radians(a.latitude)) * std::cos(Radians(b.latitude)) * std::cos(dl);
    at.course = std::fmod(std::atan2(y, x) * 180.0 / std::numbers::pi + 360.0, 360.0);
    return at;
}

} // namespace hh::sim
