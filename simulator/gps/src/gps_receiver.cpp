#include "simulator/gps/gps_receiver.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <numbers>

namespace hh::sim {
namespace {

// Longer lines are not commands; dropping them bounds the line buffer.
constexpr std::size_t kMaxCommandLine = 128;
constexpr std::string_view kCommandPrefix = "PGNVS,RSET,";
constexpr double kMetresPerDegree = 111320.0;
constexpr double kKnotsPerMps = 1.943844;
constexpr double kGeoidSeparation = 47.6;
constexpr std::size_t kChannels = 12;

// Signal levels, dB-Hz: a search finds a signal from kAcquireCn0 on, the
// tracking loops hold it down to kLoseCn0, the navigation message decodes
// from kDecodeCn0 and a measurement enters the fix from kUseCn0.
constexpr double kAcquireCn0 = 27.0;
constexpr double kLoseCn0 = 20.0;
constexpr double kDecodeCn0 = 26.0;
constexpr double kUseCn0 = 24.0;
// C/N0 at the zenith and how far it falls toward the horizon.
constexpr double kZenithCn0 = 48.0;
constexpr double kHorizonDrop = 18.0;
// The loops settle over a few seconds after acquisition: the reported level
// starts this far below and rises by kSettleRate a second.
constexpr double kSettleDeficit = 6.0;
constexpr double kSettleRate = 1.5;
// Slow fades (multipath as the satellite moves): a first-order Gauss-Markov
// process of this deviation and correlation time.
constexpr double kFadeSigma = 2.5;
constexpr double kFadeSeconds = 90.0;
constexpr double kNoiseSigma = 0.8;
// Low satellites are hidden behind buildings and trees part of the time: at
// most this share of the time at the horizon, falling to kOpenSkyShare (a
// roof edge, a passing lorry) at kClearElevation and above.
constexpr double kObstructedShare = 0.8;
constexpr double kOpenSkyShare = 0.04;
constexpr double kClearElevation = 35.0;
constexpr double kObstructionSeconds = 40.0;
// Satellites lost less than this long ago are found again at once.
constexpr double kReacquireWithin = 60.0;
// One satellite broadcasts the whole almanac in 25 frames of 30 s.
constexpr double kAlmanacSeconds = 750.0;
// Range error of one measurement (user equivalent range error), metres, and
// how long the position error takes to wander.
constexpr double kUere = 2.5;
constexpr double kErrorSeconds = 60.0;
// Doppler velocity noise per unit of HDOP, metres a second per axis.
constexpr double kVelocitySigma = 0.06;
// Below this speed the course is not updated (it would only show the noise).
constexpr double kCourseSpeed = 0.5;
// Receivers give no fix from a poorer geometry than this PDOP (their PDOP
// mask): four satellites near one cone would put the position hundreds of
// metres off.
constexpr double kPdopMask = 25.0;
// Power-on: the receiver's boot before its search begins, seconds.
constexpr double kBootSeconds = 2.0;

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

// GPS time at which the ephemeris (subframes 1, 2 and 3, each six seconds
// long at the start of every thirty-second frame) is complete for a receiver
// whose frame sync came at GPS time `sync`; subframes of two frames combine.
double EphemerisComplete(double sync) {
    double done = 0;
    for (int j = 0; j < 3; ++j) {
        const double start = 30.0 * std::ceil((sync - 6.0 * j) / 30.0) + 6.0 * j;
        done = std::max(done, start + 6.0);
    }
    return done + 0.5;
}

// The command a line asks for: "$PGNVS,RSET,COLD", optionally with a right
// "*hh" checksum; noise before the "$" is ignored.
std::optional<GpsStart> Command(std::string_view line) {
    const std::size_t dollar = line.rfind('$');
    if (dollar == std::string_view::npos) {
        return std::nullopt;
    }
    std::string_view body = line.substr(dollar + 1);
    if (const std::size_t star = body.find('*'); star != std::string_view::npos) {
        char expected[3];
        std::snprintf(expected, sizeof expected, "%02X", NmeaChecksum(body.substr(0, star)));
        const std::string_view given = body.substr(star + 1);
        if (given.size() != 2 ||
            std::toupper(static_cast<unsigned char>(given[0])) != expected[0] ||
            std::toupper(static_cast<unsigned char>(given[1])) != expected[1]) {
            return std::nullopt;
        }
        body = body.substr(0, star);
    }
    if (!body.starts_with(kCommandPrefix)) {
        return std::nullopt;
    }
    body.remove_prefix(kCommandPrefix.size());
    if (body == "COLD") {
        return GpsStart::Cold;
    }
    if (body == "WARM") {
        return GpsStart::Warm;
    }
    if (body == "HOT") {
        return GpsStart::Hot;
    }
    return std::nullopt;
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
    : m_almanac(options.almanac), m_rng(options.seed), m_utcStart(options.utcStart) {
    if (!m_almanac) {
        m_almanac = std::make_shared<const Almanac>(BaselineAlmanac(options.utcStart));
    }
    for (const AlmanacEntry& entry : m_almanac->satellites) {
        if (entry.healthy) {
            Channel c;
            c.entry = &entry;
            c.offset = std::clamp(gauss() * 2.0, -4.0, 4.0);
            m_channels.push_back(c);
        }
    }
    std::sort(m_channels.begin(), m_channels.end(),
              [](const Channel& a, const Channel& b) { return a.entry->prn < b.entry->prn; });
    m_scenario.latitude = options.latitude;
    m_scenario.longitude = options.longitude;
    m_scenario.altitude = options.altitude;
    m_truth.latitude = options.latitude;
    m_truth.longitude = options.longitude;
    m_truth.altitude = options.altitude;
    m_errorEast = gauss();
    m_errorNorth = gauss();
    m_errorUp = gauss();
    // Power-on keeps what the backup memory holds: almanac, time, position.
    m_bootUntil = kBootSeconds;
}

uint64_t GpsReceiver::random() {
    // splitmix64: small, fast and the same on every platform.
    uint64_t z = (m_rng += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

double GpsReceiver::uniform() {
    return static_cast<double>(random() >> 11) * 0x1.0p-53;
}

double GpsReceiver::gauss() {
    // Box-Muller; 1 - u keeps the logarithm finite.
    const double u = 1.0 - uniform();
    const double v = uniform();
    return std::sqrt(-2.0 * std::log(u)) * std::cos(2.0 * std::numbers::pi * v);
}

void GpsReceiver::restart(GpsStart kind) {
    const double now = static_cast<double>(m_second);
    m_resetAt = m_second;
    ++m_restarts;
    m_fix = GpsFix::None;
    m_first2D.reset();
    m_first3D.reset();
    m_bootUntil = now + 1.0;
    if (kind == GpsStart::Cold) {
        ++m_coldStarts;
        m_almanacKnown = false;
        m_timeKnown = false;
        m_dateKnown = false;
        m_positionKnown = false;
        m_altitudeKnown = false;
        m_timeAt = m_dateAt = m_almanacAt = kNever;
        m_course.reset();
    }
    for (Channel& c : m_channels) {
        c.tracked = false;
        c.used = false;
        c.acquireAt = kNever;
        // A hot start still knows where each signal was.
        c.lostAt = kind == GpsStart::Hot ? now : -kNever;
        if (kind != GpsStart::Hot) {
            c.ephemeris = false;
            c.ephemerisAt = kNever;
        }
        if (kind == GpsStart::Cold) {
            c.listed = false;
        }
    }
}

void GpsReceiver::follow(const GpsScenario& scenario) {
    const bool first = !m_following;
    m_following = true;
    const bool moved = first || scenario.motions != m_scenario.motions;
    const bool restarted = !first && scenario.starts != m_scenario.starts;
    m_scenario = scenario;
    if (moved) {
        m_routeStart = static_cast<double>(m_second);
    }
    if (restarted) {
        restart(scenario.start);
    }
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
        if (!m_lineTooLong) {
            if (const std::optional<GpsStart> start = Command(line)) {
                restart(*start);
            }
        }
        m_line.clear();
        m_lineTooLong = false;
    }
}

int GpsReceiver::satellitesUsed() const {
    return static_cast<int>(
        std::count_if(m_view.begin(), m_view.end(), [](const GpsSatellite& s) { return s.used; }));
}

std::optional<int64_t> GpsReceiver::secondsToFix(GpsFix fix) const {
    return fix == GpsFix::Fix3D ? m_first3D : m_first2D;
}

void GpsReceiver::updateTruth() {
    const double now = static_cast<double>(m_second);
    if (m_scenario.route.empty()) {
        m_truth = {m_scenario.latitude, m_scenario.longitude, m_scenario.altitude, 0, 0};
        return;
    }
    const RoutePosition at = PositionOnRoute(m_scenario.route, now - m_routeStart, m_scenario.loop);
    m_truth.latitude = at.latitude;
    m_truth.longitude = at.longitude;
    m_truth.altitude = at.altitude;
    m_truth.north = at.speed * std::cos(Radians(at.course));
    m_truth.east = at.speed * std::sin(Radians(at.course));
}

void GpsReceiver::updateSky(double gps) {
    const Ecef here =
        EcefFromGeodetic(m_truth.latitude, m_truth.longitude, m_truth.altitude + kGeoidSeparation);
    for (Channel& c : m_channels) {
        const LookAngle angle = LookAngleFrom(m_truth.latitude, m_truth.longitude, here,
                                              SatellitePosition(*c.entry, gps));
        c.elevation = angle.elevation;
        c.azimuth = angle.azimuth;
    }
}

void GpsReceiver::updateChannels() {
    std::size_t held = 0;
    for (Channel& c : m_channels) {
        if (c.elevation < kHorizon) {
            // Set: its ephemeris will be stale by its next pass.
            c.listed = c.tracked = c.ephemeris = false;
            c.acquireAt = c.ephemerisAt = kNever;
            c.obstructed = false;
        }
        held += c.listed ? 1 : 0;
    }
    if (!m_almanacKnown) {
        return; // without an almanac, a satellite takes a channel when found
    }
    // Free channels go to the highest satellites in view that have none.
    while (held < kChannels) {
        Channel* best = nullptr;
        for (Channel& c : m_channels) {
            if (!c.listed && c.elevation >= kHorizon && (!best || c.elevation > best->elevation)) {
                best = &c;
            }
        }
        if (!best) {
            break;
        }
        best->listed = true;
        ++held;
    }
}

void GpsReceiver::updateSignals() {
    const double fadeKeep = std::exp(-1.0 / kFadeSeconds);
    const double fadeNew = std::sqrt(1.0 - fadeKeep * fadeKeep) * kFadeSigma;
    for (Channel& c : m_channels) {
        if (c.elevation < kHorizon) {
            c.cn0 = 0;
            continue;
        }
        c.fade = fadeKeep * c.fade + fadeNew * gauss();
        const double share =
            kOpenSkyShare +
            (kObstructedShare - kOpenSkyShare) *
                std::clamp((kClearElevation - c.elevation) / kClearElevation, 0.0, 1.0);
        const double leave = 1.0 / kObstructionSeconds;
        const double enter = share < 1.0 ? share / (1.0 - share) * leave : 1.0;
        if (c.obstructed) {
            c.obstructed = uniform() >= leave;
        } else if (uniform() < enter) {
            c.obstructed = true;
            c.obstructionLoss = 12.0 + 18.0 * uniform();
        }
        const double sinEl = std::sin(Radians(c.elevation));
        c.cn0 = kZenithCn0 - kHorizonDrop * (1.0 - std::sqrt(sinEl)) + c.offset + c.fade +
                kNoiseSigma * gauss() - (c.obstructed ? c.obstructionLoss : 0.0);
        if (m_scenario.block.blocks(c.entry->prn, c.elevation)) {
            c.cn0 = 0;
        }
    }
}

double GpsReceiver::acquisitionDelay(const Channel& c, double now) {
    if (now - c.lostAt < kReacquireWithin) {
        return 0.5 + 2.5 * uniform();
    }
    if (m_almanacKnown && m_timeKnown) {
        // The almanac says where to look: a narrow Doppler search.
        return 1.0 + 2.0 * uniform();
    }
    // A cold search over every code phase and Doppler bin.
    const double u = uniform();
    return 1.0 + 4.0 * u * std::sqrt(u);
}

void GpsReceiver::updateTracking(double now, double gps) {
    std::size_t held = 0;
    for (const Channel& c : m_channels) {
        held += c.listed ? 1 : 0;
    }
    for (Channel& c : m_channels) {
        if (c.elevation < kHorizon) {
            continue;
        }
        if (c.tracked) {
            if (c.cn0 < kLoseCn0) {
                c.tracked = false;
                c.lostAt = now;
            }
        } else if (c.cn0 >= kAcquireCn0 && now >= m_bootUntil && (c.listed || held < kChannels)) {
            if (c.acquireAt == kNever) {
                c.acquireAt = now + acquisitionDelay(c, now);
            }
            if (now >= c.acquireAt) {
                c.tracked = true;
                c.trackedSince = now;
                c.acquireAt = kNever;
                if (!c.listed) {
                    c.listed = true;
                    ++held;
                }
                // Bit and frame sync, then the navigation message.
                const double sync = gps + 0.5 + 0.5 * uniform();
                if (!c.ephemeris) {
                    // Parity checks and matching issues of the three
                    // subframes take the receiver a little longer each time.
                    c.ephemerisAt = EphemerisComplete(sync) + 2.5 * uniform();
                }
                if (!m_timeKnown) {
                    m_timeAt = std::min(m_timeAt, 6.0 * std::ceil(sync / 6.0) + 1.0);
                }
                if (!m_dateKnown) {
                    m_dateAt = std::min(m_dateAt, 30.0 * std::ceil(sync / 30.0) + 2.0);
                }
                if (!m_almanacKnown) {
                    m_almanacAt = std::min(m_almanacAt, sync + kAlmanacSeconds);
                }
            }
        } else if (c.cn0 < kLoseCn0) {
            c.acquireAt = kNever;
        }
        if (c.tracked && !c.ephemeris && gps >= c.ephemerisAt) {
            // A weak signal garbles a word; the next frame brings another chance.
            if (c.cn0 >= kDecodeCn0) {
                c.ephemeris = true;
            } else {
                c.ephemerisAt += 30.0;
            }
        }
        c.reported =
            c.tracked ? c.cn0 - std::max(0.0, kSettleDeficit - kSettleRate * (now - c.trackedSince))
                      : 0.0;
    }
    m_timeKnown = m_timeKnown || gps >= m_timeAt;
    m_dateKnown = m_dateKnown || gps >= m_dateAt;
    m_almanacKnown = m_almanacKnown || gps >= m_almanacAt;
}

void GpsReceiver::updateFix(double now) {
    std::vector<Channel*> usable;
    for (Channel& c : m_channels) {
        c.used = false;
        if (c.tracked && c.ephemeris && c.listed && c.reported >= kUseCn0 &&
            c.elevation >= kElevationMask && m_timeKnown && now >= m_bootUntil) {
            usable.push_back(&c);
        }
    }
    if (usable.size() > kChannels) {
        std::sort(usable.begin(), usable.end(),
                  [](const Channel* a, const Channel* b) { return a->elevation > b->elevation; });
        usable.resize(kChannels);
    }
    // The DOPs are those of the sky as GSV reports it, in whole degrees: with
    // four satellites near one cone (PDOP 20 and more) the fractions of a
    // degree move the DOPs by several percent, and a reader that recomputes
    // them from GSV, as gpsd does, would find them off.
    std::vector<SkyDirection> directions;
    for (const Channel* c : usable) {
        directions.push_back({static_cast<double>(std::lround(c->elevation)),
                              static_cast<double>(std::lround(c->azimuth) % 360)});
    }
    std::optional<Dop> dop;
    GpsFix fix = GpsFix::None;
    if (usable.size() >= 4) {
        dop = ComputeDop(directions);
        fix = GpsFix::Fix3D;
    } else if (usable.size() == 3) {
        dop = ComputeDop(directions, true);
        fix = GpsFix::Fix2D;
    }
    if (!dop || dop->pdop > kPdopMask) {
        m_fix = GpsFix::None;
        m_dop = {};
        return;
    }
    m_fix = fix;
    m_dop = *dop;
    for (Channel* c : usable) {
        c->used = true;
    }
    m_positionKnown = true;
    const int64_t since = m_second - m_resetAt;
    if (!m_first2D) {
        m_first2D = since;
    }
    if (fix == GpsFix::Fix3D && !m_first3D) {
        m_first3D = since;
    }
}

void GpsReceiver::updateErrors() {
    const double keep = std::exp(-1.0 / kErrorSeconds);
    const double fresh = std::sqrt(1.0 - keep * keep);
    m_errorEast = keep * m_errorEast + fresh * gauss();
    m_errorNorth = keep * m_errorNorth + fresh * gauss();
    m_errorUp = keep * m_errorUp + fresh * gauss();
    const double sigma = kVelocitySigma * std::max(m_dop.hdop, 0.5);
    m_speedNorth = m_truth.north + sigma * gauss();
    m_speedEast = m_truth.east + sigma * gauss();
    if (m_fix == GpsFix::Fix3D) {
        m_heldAltitude = m_truth.altitude + m_errorUp * kUere * m_dop.vdop;
        m_altitudeKnown = true;
    }
    if (m_fix != GpsFix::None && std::hypot(m_speedNorth, m_speedEast) >= kCourseSpeed) {
        m_course = std::fmod(
            std::atan2(m_speedEast, m_speedNorth) * 180.0 / std::numbers::pi + 360.0, 360.0);
    }
}

std::string GpsReceiver::nextBurst() {
    const double now = static_cast<double>(m_second);
    const double gps = GpsSecondsFromUtc(static_cast<double>(m_utcStart + m_second));
    updateTruth();
    updateSky(gps);
    updateChannels();
    updateSignals();
    updateTracking(now, gps);
    updateFix(now);
    updateErrors();
    m_view.clear();
    for (const Channel& c : m_channels) {
        if (c.elevation < kHorizon) {
            continue;
        }
        GpsSatellite s;
        s.prn = c.entry->prn;
        s.exactElevation = c.elevation;
        s.exactAzimuth = c.azimuth;
        s.elevation = static_cast<int>(std::lround(c.elevation));
        s.azimuth = static_cast<int>(std::lround(c.azimuth)) % 360;
        s.snr = c.tracked ? std::clamp(static_cast<int>(std::lround(c.reported)), 1, 99) : 0;
        s.listed = c.listed;
        s.used = c.used;
        s.anglesKnown = m_almanacKnown || (c.ephemeris && m_positionKnown);
        m_view.push_back(s);
    }
    std::string out;
    out.reserve(512);
    writeBurst(out);
    ++m_second;
    return out;
}

void GpsReceiver::writeBurst(std::string& out) const {
    const Utc now = SplitUtc(m_utcStart + m_second);
    const bool fix = m_fix != GpsFix::None;
    const int used = satellitesUsed();
    const double cosLat = std::cos(Radians(m_truth.latitude));
    const double sigmaH = kUere * m_dop.hdop / std::numbers::sqrt2;
    const double latitude = m_truth.latitude + m_errorNorth * sigmaH / kMetresPerDegree;
    const double longitude =
        m_truth.longitude + m_errorEast * sigmaH / (kMetresPerDegree * std::max(cosLat, 1e-6));
    const double altitude = m_altitudeKnown ? m_heldAltitude : 0.0;
    std::string body;

    body = "GPGGA,";
    if (m_timeKnown) {
        AppendTime(body, now);
    }
    if (fix) {
        body += ',';
        AppendCoordinate(body, latitude, 2, 'N', 'S');
        body += ',';
        AppendCoordinate(body, longitude, 3, 'E', 'W');
        body += ",1,";
        AppendInt(body, used, 2);
        body += ',';
        AppendFixed(body, m_dop.hdop, 2);
        body += ',';
        AppendFixed(body, altitude, 1);
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
    for (const GpsSatellite& s : m_view) {
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
    AppendFixed(body, fix ? std::min(m_dop.pdop, 99.99) : 99.99, 2);
    body += ',';
    AppendFixed(body, fix ? std::min(m_dop.hdop, 99.99) : 99.99, 2);
    body += ',';
    AppendFixed(body, fix ? std::min(m_dop.vdop, 99.99) : 99.99, 2);
    AppendSentence(out, body);

    std::vector<const GpsSatellite*> listed;
    for (const GpsSatellite& s : m_view) {
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
            if (s.anglesKnown) {
                AppendInt(body, s.elevation, 2);
            }
            body += ',';
            if (s.anglesKnown) {
                AppendInt(body, s.azimuth, 3);
            }
            body += ',';
            if (s.snr > 0) {
                AppendInt(body, s.snr, 2);
            }
        }
        AppendSentence(out, body);
    }

    body = "GPRMC,";
    if (m_timeKnown) {
        AppendTime(body, now);
    }
    if (fix) {
        body += ",A,";
        AppendCoordinate(body, latitude, 2, 'N', 'S');
        body += ',';
        AppendCoordinate(body, longitude, 3, 'E', 'W');
        body += ',';
        AppendFixed(body, std::hypot(m_speedNorth, m_speedEast) * kKnotsPerMps, 3);
        body += ',';
        if (m_course) {
            AppendFixed(body, *m_course, 2);
        }
        body += ',';
        if (m_dateKnown) {
            AppendDate(body, now);
        }
        body += ",,,A";
    } else {
        body += ",V,,,,,,,";
        if (m_dateKnown) {
            AppendDate(body, now);
        }
        body += ",,,N";
    }
    AppendSentence(out, body);
}

} // namespace hh::sim
