#include "simulator/gps/gps_receiver.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <numbers>

namespace hh::sim {
namespace {

constexpr std::string_view kColdCommand = "$PGNVS,RSET,COLD";
// Longer lines are not commands; dropping them bounds the line buffer.
constexpr std::size_t kMaxCommandLine = 128;
constexpr double kMetresPerDegree = 111320.0;
constexpr double kKnotsPerMps = 1.943844;
constexpr double kGeoidSeparation = 47.6;
// How far the walk may stray before it turns back toward the start point.
constexpr double kWalkRadius = 300.0;
constexpr int kUsableSnr = 20;
constexpr int kUsableElevation = 10;

double Radians(double degrees) {
    return degrees * std::numbers::pi / 180.0;
}

void AppendInt(std::string& out, long long value, int width) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%0*lld", width, value);
    out += buf;
}

// Fixed-point text through integers, so that the host's locale never turns
// the decimal point into a comma.
void AppendFixed(std::string& out, double value, int decimals, int intWidth = 1) {
    long long scale = 1;
    for (int i = 0; i < decimals; ++i) {
        scale *= 10;
    }
    long long scaled = std::llround(value * static_cast<double>(scale));
    if (scaled < 0) {
        out += '-';
        scaled = -scaled;
    }
    AppendInt(out, scaled / scale, intWidth);
    if (decimals > 0) {
        out += '.';
        AppendInt(out, scaled % scale, decimals);
    }
}

// ddmm.mmmm or dddmm.mmmm, then the hemisphere field.
void AppendCoordinate(std::string& out, double degrees, int degreeWidth, char positive,
                      char negative) {
    const long long total = std::llround(std::fabs(degrees) * 60.0 * 10000.0);
    AppendInt(out, total / 600000, degreeWidth);
    AppendInt(out, (total % 600000) / 10000, 2);
    out += '.';
    AppendInt(out, total % 10000, 4);
    out += ',';
    out += degrees < 0 ? negative : positive;
}

void AppendSentence(std::string& out, std::string_view body) {
    char tail[8];
    std::snprintf(tail, sizeof tail, "*%02X\r\n", NmeaChecksum(body));
    out += '$';
    out += body;
    out += tail;
}

struct Utc {
    int hour, minute, second;
    int day, month, year;
};

Utc SplitUtc(int64_t utc) {
    using namespace std::chrono;
    const int64_t days = utc >= 0 ? utc / 86400 : (utc - 86399) / 86400;
    const int64_t secs = utc - days * 86400;
    const year_month_day ymd{sys_days{std::chrono::days{days}}};
    return {static_cast<int>(secs / 3600),
            static_cast<int>(secs / 60 % 60),
            static_cast<int>(secs % 60),
            static_cast<int>(static_cast<unsigned>(ymd.day())),
            static_cast<int>(static_cast<unsigned>(ymd.month())),
            static_cast<int>(ymd.year())};
}

void AppendTime(std::string& out, const Utc& t) {
    AppendInt(out, t.hour, 2);
    AppendInt(out, t.minute, 2);
    AppendInt(out, t.second, 2);
    out += ".00";
}

void AppendDate(std::string& out, const Utc& t) {
    AppendInt(out, t.day, 2);
    AppendInt(out, t.month, 2);
    AppendInt(out, t.year % 100, 2);
}

} // namespace

uint8_t NmeaChecksum(std::string_view body) {
    uint8_t sum = 0;
    for (char ch : body) {
        sum ^= static_cast<uint8_t>(ch);
    }
    return sum;
}

GpsReceiver::GpsReceiver(const GpsReceiverOptions& options)
    : m_options(options), m_rng(options.seed), m_utcStart(options.utcStart),
      m_lat(options.latitude), m_lon(options.longitude), m_altitude(options.altitude) {
    const int count = randomInt(8, 12);
    std::vector<int> prns;
    while (static_cast<int>(prns.size()) < count) {
        const int prn = randomInt(1, 32);
        if (std::find(prns.begin(), prns.end(), prn) == prns.end()) {
            prns.push_back(prn);
        }
    }
    std::sort(prns.begin(), prns.end());
    for (int prn : prns) {
        Orbit o{};
        o.elevPhase = randomUnit() * 2.0 * std::numbers::pi;
        // A pass takes hours: a degree of elevation every few minutes at most.
        o.elevRate = (0.5 + randomUnit()) * 2.0 * std::numbers::pi / (6.0 * 3600.0);
        o.azimuth = randomUnit() * 360.0;
        o.azimuthRate = (randomUnit() - 0.5) * 0.01;
        o.snrOffset = (randomUnit() - 0.5) * 8.0;
        m_orbits.push_back(o);
        GpsSatellite s;
        s.prn = prn;
        m_sats.push_back(s);
    }
    m_heading = randomUnit() * 360.0;
    plan(false);
}

uint64_t GpsReceiver::random() {
    // splitmix64: small, fast and the same on every platform.
    uint64_t z = (m_rng += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

int GpsReceiver::randomInt(int lo, int hi) {
    return lo + static_cast<int>(random() % static_cast<uint64_t>(hi - lo + 1));
}

double GpsReceiver::randomUnit() {
    return static_cast<double>(random() >> 11) * 0x1.0p-53;
}

void GpsReceiver::plan(bool cold) {
    // Without an almanac the receiver searches the whole sky first, so a cold
    // start takes clearly longer than power-on with a kept almanac.
    m_cold = cold;
    m_to2D = cold ? randomInt(45, 60) : randomInt(30, 38);
    m_to3D = m_to2D + (cold ? randomInt(4, 8) : randomInt(3, 6));
    for (Orbit& o : m_orbits) {
        o.acquireAfter = cold ? randomInt(8, m_to2D - 3) : randomInt(3, m_to2D - 4);
    }
}

void GpsReceiver::coldStart() {
    m_resetAt = m_second;
    ++m_coldStarts;
    m_fix = GpsFix::None;
    plan(true);
}

void GpsReceiver::receive(std::string_view bytes) {
    for (char ch : bytes) {
        if (ch != '\n') {
            if (m_line.size() < kMaxCommandLine) {
                m_line += ch;
            } else {
                m_lineTooLong = true;
            }
            continue;
        }
        std::string_view line = m_line;
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        // Noise before the "$" of the command (a half-typed line) is ignored.
        if (const auto dollar = line.rfind('$'); dollar != std::string_view::npos) {
            line.remove_prefix(dollar);
        }
        if (!m_lineTooLong && line == kColdCommand) {
            coldStart();
        }
        m_line.clear();
        m_lineTooLong = false;
    }
}

int GpsReceiver::satellitesUsed() const {
    return static_cast<int>(
        std::count_if(m_sats.begin(), m_sats.end(), [](const GpsSatellite& s) { return s.used; }));
}

void GpsReceiver::step() {
    const double t = static_cast<double>(m_second);
    const int64_t sinceReset = secondsSinceReset();
    m_fix = sinceReset >= m_to3D   ? GpsFix::Fix3D
            : sinceReset >= m_to2D ? GpsFix::Fix2D
                                   : GpsFix::None;
    for (std::size_t i = 0; i < m_sats.size(); ++i) {
        const Orbit& o = m_orbits[i];
        GpsSatellite& s = m_sats[i];
        const double elevation = 5.0 + 80.0 * (0.5 + 0.5 * std::sin(o.elevPhase + o.elevRate * t));
        s.elevation = static_cast<int>(std::lround(elevation));
        s.azimuth =
            static_cast<int>(std::lround(std::fmod(o.azimuth + o.azimuthRate * t + 360.0, 360.0))) %
            360;
        const bool tracked = sinceReset >= o.acquireAfter;
        const int noise = randomInt(-1, 1);
        s.snr =
            tracked
                ? std::clamp(static_cast<int>(std::lround(28.0 + elevation * 0.22 + o.snrOffset)) +
                                 noise,
                             12, 52)
                : 0;
        s.listed = !m_cold || tracked || m_fix == GpsFix::Fix3D;
        s.used = false;
    }
    if (m_fix == GpsFix::None) {
        return;
    }
    std::vector<std::size_t> order(m_sats.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        order[i] = i;
    }
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return m_sats[a].snr > m_sats[b].snr; });
    // A 2D fix takes the three strongest signals; a 3D fix at least four and
    // every other satellite high and strong enough.
    const std::size_t least = m_fix == GpsFix::Fix2D ? 3 : 4;
    for (std::size_t k = 0; k < order.size(); ++k) {
        GpsSatellite& s = m_sats[order[k]];
        const bool usable = s.snr >= kUsableSnr && s.elevation >= kUsableElevation;
        s.used = s.snr > 0 && (k < least || (m_fix == GpsFix::Fix3D && usable));
    }
}

void GpsReceiver::moveOn() {
    // A walk: the heading wanders a few degrees a second and turns back toward
    // the start point once the walker strays too far.
    m_heading += (randomUnit() - 0.5) * 10.0;
    const double north = (m_lat - m_options.latitude) * kMetresPerDegree;
    const double east =
        (m_lon - m_options.longitude) * kMetresPerDegree * std::cos(Radians(m_options.latitude));
    if (std::hypot(north, east) > kWalkRadius) {
        const double home = std::atan2(-east, -north) * 180.0 / std::numbers::pi;
        double turn = std::fmod(home - m_heading + 540.0, 360.0) - 180.0;
        m_heading += std::clamp(turn, -15.0, 15.0);
    }
    m_heading = std::fmod(m_heading + 360.0, 360.0);
    m_speed = 1.1 + randomUnit() * 0.6;
    m_lat += m_speed * std::cos(Radians(m_heading)) / kMetresPerDegree;
    m_lon += m_speed * std::sin(Radians(m_heading)) / (kMetresPerDegree * std::cos(Radians(m_lat)));
    m_altitude = std::clamp(m_altitude + (randomUnit() - 0.5) * 0.4, m_options.altitude - 3.0,
                            m_options.altitude + 3.0);
}

std::string GpsReceiver::nextBurst() {
    step();
    std::string out;
    out.reserve(512);
    writeBurst(out);
    moveOn();
    ++m_second;
    return out;
}

void GpsReceiver::writeBurst(std::string& out) const {
    const Utc now = SplitUtc(m_utcStart + m_second);
    const bool fix = m_fix != GpsFix::None;
    const int used = satellitesUsed();
    const double hdop = fix ? 0.7 + 3.2 / used : 99.99;
    const double pdop = fix ? hdop * (m_fix == GpsFix::Fix3D ? 1.6 : 1.9) : 99.99;
    const double vdop = fix ? std::sqrt(pdop * pdop - hdop * hdop) : 99.99;
    std::string body;

    body = "GPGGA,";
    AppendTime(body, now);
    if (fix) {
        body += ',';
        AppendCoordinate(body, m_lat, 2, 'N', 'S');
        body += ',';
        AppendCoordinate(body, m_lon, 3, 'E', 'W');
        body += ",1,";
        AppendInt(body, used, 2);
        body += ',';
        AppendFixed(body, hdop, 2);
        body += ',';
        AppendFixed(body, m_altitude, 1);
        body += ",M,";
        AppendFixed(body, kGeoidSeparation, 1);
        body += ",M,,";
    } else {
        body += ",,,,,0,00,99.99,,,,,,";
    }
    AppendSentence(out, body);

    body = "GPGSA,A,";
    AppendInt(body, static_cast<int>(m_fix), 1);
    int slots = 0;
    for (const GpsSatellite& s : m_sats) {
        if (s.used && slots < 12) {
            body += ',';
            AppendInt(body, s.prn, 2);
            ++slots;
        }
    }
    for (; slots < 12; ++slots) {
        body += ',';
    }
    body += ',';
    AppendFixed(body, pdop, 2);
    body += ',';
    AppendFixed(body, hdop, 2);
    body += ',';
    AppendFixed(body, vdop, 2);
    AppendSentence(out, body);

    std::vector<const GpsSatellite*> listed;
    for (const GpsSatellite& s : m_sats) {
        if (s.listed) {
            listed.push_back(&s);
        }
    }
    const int messages = std::max<int>(1, static_cast<int>((listed.size() + 3) / 4));
    for (int m = 0; m < messages; ++m) {
        body = "GPGSV,";
        AppendInt(body, messages, 1);
        body += ',';
        AppendInt(body, m + 1, 1);
        body += ',';
        AppendInt(body, static_cast<long long>(listed.size()), 2);
        for (std::size_t i = static_cast<std::size_t>(m) * 4;
             i < listed.size() && i < static_cast<std::size_t>(m) * 4 + 4; ++i) {
            const GpsSatellite& s = *listed[i];
            body += ',';
            AppendInt(body, s.prn, 2);
            body += ',';
            AppendInt(body, s.elevation, 2);
            body += ',';
            AppendInt(body, s.azimuth, 3);
            body += ',';
            if (s.snr > 0) {
                AppendInt(body, s.snr, 2);
            }
        }
        AppendSentence(out, body);
    }

    body = "GPRMC,";
    AppendTime(body, now);
    if (fix) {
        body += ",A,";
        AppendCoordinate(body, m_lat, 2, 'N', 'S');
        body += ',';
        AppendCoordinate(body, m_lon, 3, 'E', 'W');
        body += ',';
        AppendFixed(body, m_speed * kKnotsPerMps, 3);
        body += ',';
        AppendFixed(body, m_heading, 2);
        body += ',';
        AppendDate(body, now);
        body += ",,,A";
    } else {
        body += ",V,,,,,,,";
        AppendDate(body, now);
        body += ",,,N";
    }
    AppendSentence(out, body);
}

} // namespace hh::sim
