#pragma once
// The simulated GPS receiver: a pure model, no I/O and no clock of its own.
// The host that owns the serial line calls nextBurst() once a second and writes
// the text to the line, and hands every byte written to the line to receive().
//
// Each burst is what a receiver sends once a second: "$GPGGA", "$GPGSA", up to
// three "$GPGSV" and "$GPRMC", each with its checksum and CR LF. The receiver
// tracks 8 to 12 satellites whose elevation, azimuth and signal move slowly,
// starts without a fix (empty position fields, GSA fix 1, GGA quality 0,
// RMC status V), gets a 2D fix after about half a minute and a 3D fix a few
// seconds later, while its position walks around the start point. On
// "$PGNVS,RSET,COLD" it forgets fix and almanac and acquires again, taking
// longer than at power-on. Everything random comes from the seed, so a seed
// gives the same bursts every time.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace hh::sim {

/// Fix type as "$GPGSA" reports it.
enum class GpsFix : int { None = 1, Fix2D = 2, Fix3D = 3 };

struct GpsReceiverOptions {
    uint64_t seed = 1;
    double latitude = 48.1173;     ///< start point, degrees north (negative: south)
    double longitude = 11.5167;    ///< start point, degrees east (negative: west)
    double altitude = 545.4;       ///< metres above mean sea level
    int64_t utcStart = 1717243200; ///< UTC of the first burst, seconds since 1970
};

/// One satellite as the last burst described it.
struct GpsSatellite {
    int prn = 0;
    int elevation = 0;   ///< degrees
    int azimuth = 0;     ///< degrees, 0..359
    int snr = 0;         ///< dB-Hz; 0 while not tracked (empty in "$GPGSV")
    bool listed = false; ///< in "$GPGSV": always, except before a cold start's almanac
    bool used = false;   ///< in the "$GPGSA" used list
};

class GpsReceiver {
public:
    explicit GpsReceiver(const GpsReceiverOptions& options = {});

    /// The sentences of the next second; the model moves on by one second.
    std::string nextBurst();

    /// Bytes the terminal wrote to the receiver; a "$PGNVS,RSET,COLD" line
    /// (CR LF or LF ended, possibly split over several calls) starts a cold start.
    void receive(std::string_view bytes);

    /// Fix of the last burst (GpsFix::None before the first).
    GpsFix fixType() const { return m_fix; }
    /// Seconds of output so far: the number of bursts made.
    int64_t bursts() const { return m_second; }
    /// Bursts since power-on or the last cold start.
    int64_t secondsSinceReset() const { return m_second - m_resetAt; }
    /// Number of cold starts received.
    int coldStarts() const { return m_coldStarts; }
    /// When the 2D and 3D fixes come, in seconds after the last reset.
    int secondsTo2D() const { return m_to2D; }
    int secondsTo3D() const { return m_to3D; }

    /// Satellites as the last burst described them, in "$GPGSV" order.
    const std::vector<GpsSatellite>& satellites() const { return m_sats; }
    int satellitesUsed() const;
    /// True position now, in degrees (reported only with a fix).
    double latitude() const { return m_lat; }
    double longitude() const { return m_lon; }
    /// UTC of the last burst, seconds since 1970.
    int64_t utc() const { return m_utcStart + m_second - 1; }

private:
    struct Orbit {
        double elevPhase;
        double elevRate;
        double azimuth;
        double azimuthRate;
        double snrOffset;
        int acquireAfter;
    };

    uint64_t random();
    int randomInt(int lo, int hi);
    double randomUnit();
    void plan(bool cold);
    void coldStart();
    void step();
    void moveOn();
    void writeBurst(std::string& out) const;

    GpsReceiverOptions m_options;
    uint64_t m_rng;
    int64_t m_utcStart;
    int64_t m_second = 0;
    int64_t m_resetAt = 0;
    bool m_cold = false;
    int m_coldStarts = 0;
    int m_to2D = 0;
    int m_to3D = 0;
    GpsFix m_fix = GpsFix::None;
    std::vector<Orbit> m_orbits;
    std::vector<GpsSatellite> m_sats;
    double m_lat;
    double m_lon;
    double m_heading;
    double m_speed = 0; ///< metres per second
    double m_altitude;
    std::string m_line;
    bool m_lineTooLong = false;
};

/// The NMEA checksum of a sentence body (the text between "$" and "*").
uint8_t NmeaChecksum(std::string_view body);

} // namespace hh::sim
