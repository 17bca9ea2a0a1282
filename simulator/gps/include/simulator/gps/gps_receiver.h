#pragma once
// The simulated GPS receiver: a pure model, no I/O and no clock of its own.
// The host that owns the serial line calls nextBurst() once a second and writes
// the text to the line, and hands every byte written to the line to receive().
//
// Each burst is what a receiver sends once a second: "$GPGGA", "$GPGSA", up to
// three "$GPGSV" and "$GPRMC", each with its checksum and CR LF.
//
// What the numbers say comes from a model of a twelve-channel L1 receiver:
// - the satellites fly on the orbits of an almanac (orbit.h) and are in view
//   above the horizon, where they rise and set; "$GPGSV" lists them as the
//   almanac predicts them, tracked or not, and only those above a 5-degree
//   elevation mask enter the fix (low signals bend and reflect too much);
// - each signal's C/N0 follows the elevation, with a satellite's own offset,
//   slow fades and, low in the sky, obstructions that break the tracking;
//   the scenario's block list takes signals away;
// - a satellite is found some seconds after a start, its signal settles over
//   a few seconds, and its ephemeris is complete once subframes 1 to 3 of the
//   broadcast navigation message (six seconds each, every thirty seconds of
//   GPS time) have been received whole;
// - a fix uses the tracked satellites with ephemeris: 2D on three, 3D on four
//   or more; PDOP, HDOP and VDOP are those of their geometry (dop.h);
// - the reported position is the true one (a fixed point or a route) with an
//   error that wanders slowly in proportion to the DOPs; the speed comes from
//   Doppler with a noise of a few centimetres a second.
// Starts: cold forgets almanac, time, position and ephemerides (time and date
// stay empty until the navigation message gives them, and satellites are
// listed as they are found); warm keeps almanac, time and position; hot keeps
// the ephemerides too. Power-on is a warm start. "$PGNVS,RSET,COLD" starts a
// cold start, "$PGNVS,RSET,WARM" and "$PGNVS,RSET,HOT" the others; a "*hh"
// checksum may follow and must then be right. Everything random comes from
// the seed, so a seed gives the same bursts every time.

#include "simulator/gps/dop.h"
#include "simulator/gps/orbit.h"
#include "simulator/gps/scenario.h"

#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hh::sim {

/// Fix type as "$GPGSA" reports it.
enum class GpsFix : int { None = 1, Fix2D = 2, Fix3D = 3 };

/// Elevation under which satellites are not in view.
inline constexpr double kHorizon = 0.0;
/// Elevation under which satellites in view are not used in the fix.
inline constexpr double kElevationMask = 5.0;

struct GpsReceiverOptions {
    uint64_t seed = 1;
    double latitude = 48.1173;     ///< start point, degrees north (negative: south)
    double longitude = 11.5167;    ///< start point, degrees east (negative: west)
    double altitude = 545.4;       ///< metres above mean sea level
    int64_t utcStart = 1717243200; ///< UTC of the first burst, seconds since 1970
    /// The almanac the satellites fly by; the baseline constellation when null.
    std::shared_ptr<const Almanac> almanac;
};

/// One satellite as the last burst described it.
struct GpsSatellite {
    int prn = 0;
    int elevation = 0;       ///< degrees
    int azimuth = 0;         ///< degrees, 0..359
    int snr = 0;             ///< dB-Hz; 0 while not tracked (empty in "$GPGSV")
    bool listed = false;     ///< in "$GPGSV"
    bool used = false;       ///< in the "$GPGSA" used list
    bool anglesKnown = true; ///< false: elevation and azimuth empty in "$GPGSV"
    double exactElevation = 0;
    double exactAzimuth = 0;
};

class GpsReceiver {
public:
    explicit GpsReceiver(const GpsReceiverOptions& options = {});

    /// The sentences of the next second; the model moves on by one second.
    std::string nextBurst();

    /// Bytes the terminal wrote to the receiver; a restart command line (CR LF
    /// or LF ended, possibly split over several calls) restarts it.
    void receive(std::string_view bytes);

    /// Restarts the receiver as a cold, warm or hot start.
    void restart(GpsStart kind);
    /// Follows the device console's scenario: moves, blocks and restarts as
    /// its counts say (see scenario.h). The first call only takes it.
    void follow(const GpsScenario& scenario);

    /// Fix of the last burst (GpsFix::None before the first).
    GpsFix fixType() const { return m_fix; }
    /// Seconds of output so far: the number of bursts made.
    int64_t bursts() const { return m_second; }
    /// Bursts since power-on or the last restart.
    int64_t secondsSinceReset() const { return m_second - m_resetAt; }
    /// Restarts so far (commands and scenario), and cold starts among them.
    int restarts() const { return m_restarts; }
    int coldStarts() const { return m_coldStarts; }
    /// Seconds after the last reset at which the first 2D (or better) and the
    /// first 3D fix came; nothing before they came.
    std::optional<int64_t> secondsToFix(GpsFix fix) const;

    /// Satellites in view (above the horizon), in PRN order, as the last burst
    /// described them; those not listed in "$GPGSV" have listed false.
    const std::vector<GpsSatellite>& satellites() const { return m_view; }
    int satellitesUsed() const;
    /// The DOPs of the last burst's fix.
    const Dop& dop() const { return m_dop; }
    /// True position now, in degrees (reported only with a fix).
    double latitude() const { return m_truth.latitude; }
    double longitude() const { return m_truth.longitude; }
    /// UTC of the last burst, seconds since 1970.
    int64_t utc() const { return m_utcStart + m_second - 1; }
    /// True when the last burst carried the time, and the date.
    bool timeKnown() const { return m_timeKnown; }
    bool dateKnown() const { return m_dateKnown; }

private:
    static constexpr double kNever = std::numeric_limits<double>::infinity();

    // What the receiver holds of one satellite of the almanac.
    struct Channel {
        const AlmanacEntry* entry = nullptr;
        double elevation = -90;
        double azimuth = 0;
        double offset = 0; ///< the satellite's own C/N0 offset, dB
        double fade = 0;   ///< slow fade, dB
        bool obstructed = false;
        double obstructionLoss = 0;
        double cn0 = 0;      ///< C/N0 reaching the antenna now, dB-Hz
        bool listed = false; ///< holds one of the twelve channels
        bool tracked = false;
        double trackedSince = 0;
        double lostAt = -kNever;
        double acquireAt = kNever;
        double ephemerisAt = kNever;
        bool ephemeris = false;
        double reported = 0; ///< C/N0 as reported, after the loops settle
        bool used = false;
    };

    struct Truth {
        double latitude = 0;
        double longitude = 0;
        double altitude = 0;
        double north = 0; ///< velocity, metres a second
        double east = 0;
    };

    uint64_t random();
    double uniform();
    double gauss();
    void updateTruth();
    void updateSky(double gps);
    void updateSignals();
    void updateTracking(double now, double gps);
    void updateChannels();
    void updateFix(double now);
    void updateErrors();
    void writeBurst(std::string& out) const;
    double acquisitionDelay(const Channel& c, double now);

    std::shared_ptr<const Almanac> m_almanac;
    uint64_t m_rng;
    int64_t m_utcStart;
    int64_t m_second = 0;
    int64_t m_resetAt = 0;
    int m_restarts = 0;
    int m_coldStarts = 0;
    double m_bootUntil = 0;

    // What the receiver knows.
    bool m_almanacKnown = true;
    bool m_timeKnown = true;
    bool m_dateKnown = true;
    bool m_positionKnown = true;
    double m_timeAt = kNever;
    double m_dateAt = kNever;
    double m_almanacAt = kNever;
    double m_heldAltitude = 0;
    bool m_altitudeKnown = false;
    std::optional<int64_t> m_first2D;
    std::optional<int64_t> m_first3D;

    // The scenario.
    GpsScenario m_scenario;
    bool m_following = false;
    double m_routeStart = 0;

    std::vector<Channel> m_channels;
    std::vector<GpsSatellite> m_view;
    GpsFix m_fix = GpsFix::None;
    Dop m_dop;
    Truth m_truth;

    // The reported solution's errors: slowly wandering, unit variance.
    double m_errorEast = 0;
    double m_errorNorth = 0;
    double m_errorUp = 0;
    double m_speedNorth = 0;
    double m_speedEast = 0;
    std::optional<double> m_course;

    std::string m_line;
    bool m_lineTooLong = false;
};

/// The NMEA checksum of a sentence body (the text between "$" and "*").
uint8_t NmeaChecksum(std::string_view body);

} // namespace hh::sim
