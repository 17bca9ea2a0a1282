// Satellite positions against sky_reference.py, which computes them the
// textbook way (inertial orbit turned by Greenwich mean sidereal time).

#include "simulator/gps/orbit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace hh::sim {
namespace {

constexpr double kMunich[] = {48.1173, 11.5167, 545.4 + 47.6};

const AlmanacEntry& Slot(const Almanac& almanac, int prn) {
    for (const AlmanacEntry& e : almanac.satellites) {
        if (e.prn == prn) {
            return e;
        }
    }
    ADD_FAILURE() << "no PRN " << prn;
    return almanac.satellites.front();
}

LookAngle Look(const double (&where)[3], const AlmanacEntry& e, int64_t utc) {
    const Ecef here = EcefFromGeodetic(where[0], where[1], where[2]);
    return LookAngleFrom(where[0], where[1], here,
                         SatellitePosition(e, GpsSecondsFromUtc(static_cast<double>(utc))));
}

double AngleDifference(double a, double b) {
    return std::fabs(std::remainder(a - b, 360.0));
}

TEST(Orbit, BaselineSlotsAtAKnownTimeMatchTheIndependentComputation) {
    // 2024-06-01 12:00:00 UTC.
    const int64_t at = 1717243200;
    const struct {
        int prn;
        double elevation, azimuth;
    } cases[] = {
        {1, 82.291, 22.456},
        {28, 47.137, 280.148},
        {17, 17.903, 299.918},
        {3, 4.844, 119.304},
    };
    for (const auto& c : cases) {
        // An almanac of that week, and one of a week before: the almanac's
        // constant rotation rate holds over weeks.
        for (int64_t near : {at, at - 7 * 86400}) {
            const Almanac almanac = BaselineAlmanac(near);
            const LookAngle angle = Look(kMunich, Slot(almanac, c.prn), at);
            EXPECT_NEAR(angle.elevation, c.elevation, 0.01) << "PRN " << c.prn;
            EXPECT_LT(AngleDifference(angle.azimuth, c.azimuth), 0.01) << "PRN " << c.prn;
        }
    }
}

TEST(Orbit, BaselineIsTwentyFourHealthySatellitesOnHalfSiderealDayOrbits) {
    const Almanac almanac = BaselineAlmanac(1717243200);
    ASSERT_EQ(almanac.satellites.size(), 24u);
    for (const AlmanacEntry& e : almanac.satellites) {
        const Ecef p = SatellitePosition(e, 1.4e9);
        EXPECT_NEAR(std::sqrt(p.x * p.x + p.y * p.y + p.z * p.z), 26559.7e3, 1.0);
        EXPECT_TRUE(e.healthy);
    }
    // After one sidereal day (two orbits) a satellite is back over nearly the same place.
    const AlmanacEntry& e = almanac.satellites[5];
    const Ecef a = SatellitePosition(e, 1.4e9);
    const Ecef b = SatellitePosition(e, 1.4e9 + 86164.09);
    EXPECT_LT(std::hypot(a.x - b.x, a.y - b.y, a.z - b.z), 50e3);
}

const char* const kYumaPrn7 = "******** Week 269 almanac for PRN-07 ********\n"
                              "ID:                         07\n"
                              "Health:                     000\n"
                              "Eccentricity:               0.1250000000E-001\n"
                              "Time of Applicability(s):  405504.0000\n"
                              "Orbital Inclination(rad):   0.9651000000\n"
                              "Rate of Right Ascen(r/s):  -0.7900000000E-008\n"
                              "SQRT(A)  (m 1/2):           5153.600000\n"
                              "Right Ascen at Week(rad):  -0.1234500000E+001\n"
                              "Argument of Perigee(rad):   0.600000000\n"
                              "Mean Anom(rad):             0.5000000000E+001\n"
                              "Af0(s):                     0.1000000000E-003\n"
                              "Af1(s/s):                   0.0000000000E+000\n"
                              "week:                        269\n"
                              "\n";

TEST(Orbit, YumaRecordPropagatesAsTheIndependentComputationSays) {
    // Week 269 is the 10-bit form of week 2317 (June 2024).
    std::string error;
    const auto almanac = ParseYumaAlmanac(kYumaPrn7, 1717243200, error);
    ASSERT_TRUE(almanac) << error;
    ASSERT_EQ(almanac->satellites.size(), 1u);
    const AlmanacEntry& e = almanac->satellites[0];
    EXPECT_EQ(e.prn, 7);
    EXPECT_TRUE(e.healthy);
    EXPECT_DOUBLE_EQ(e.reference, 2317 * 604800.0 + 405504.0);
    // Sydney, 2024-06-05 03:30:00 UTC.
    const double sydney[] = {-33.8688, 151.2093, 30.0};
    const LookAngle angle = Look(sydney, e, 1717558200);
    EXPECT_NEAR(angle.elevation, 61.713, 0.01);
    EXPECT_LT(AngleDifference(angle.azimuth, 158.213), 0.01);
}

TEST(Orbit, YumaWithSeveralRecordsAndAnUnhealthySatellite) {
    std::string text = kYumaPrn7;
    std::string second = kYumaPrn7;
    second.replace(second.find("ID:                         07"), 30,
                   "ID:                         12");
    second.replace(second.find("Health:                     000"), 31,
                   "Health:                     063");
    std::string error;
    const auto almanac = ParseYumaAlmanac(text + second, 1717243200, error);
    ASSERT_TRUE(almanac) << error;
    ASSERT_EQ(almanac->satellites.size(), 2u);
    EXPECT_EQ(almanac->satellites[1].prn, 12);
    EXPECT_FALSE(almanac->satellites[1].healthy);
}

TEST(Orbit, TextThatIsNoAlmanacIsRefusedWithItsReason) {
    const std::string yuma = kYumaPrn7;
    auto replaced = [&](const std::string& from, const std::string& to) {
        std::string t = yuma;
        t.replace(t.find(from), from.size(), to);
        return t;
    };
    const struct {
        std::string text;
        std::string error;
    } cases[] = {
        {"", "it holds no almanac record"},
        {"<gpx></gpx>\n", "line 1 is not a YUMA almanac line"},
        {"$GPGGA,120000.00,,,,,0,00,99.99,,,,,,*65\n", "line 1 is not a YUMA almanac line"},
        {replaced("ID:                         07", "ID:                         40"),
         "line 2: ID is out of range"},
        {replaced("SQRT(A)  (m 1/2):           5153.600000", "SQRT(A)  (m 1/2):           12"),
         "line 8: SQRT(A) is out of range"},
        {replaced("0.1250000000E-001", "0.5"), "line 4: Eccentricity is out of range"},
        {replaced("0.9651000000", "zero"), "line 6: Orbital Inclination is out of range"},
        {replaced("week:                        269\n", ""), "the last record has no week"},
        {replaced("Mean Anom(rad):             0.5000000000E+001\n", ""),
         "the record of line 13 lacks its Mean Anom"},
        {yuma + yuma, "PRN 7 has two records"},
        {yuma.substr(yuma.find("Health")), "line 1 comes before any ID line"},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(ParseYumaAlmanac(c.text, 1717243200, error)) << c.error;
        EXPECT_EQ(error, c.error);
    }
}

TEST(Orbit, GpsTimeCountsTheLeapSeconds) {
    const struct {
        double utc;
        double gps;
    } cases[] = {
        {315964800, 0},                              // the GPS epoch
        {362793599, 46828799},                       // 1981-06-30 23:59:59, no leap yet
        {362793600, 46828801},                       // 1981-07-01, one
        {1483228800, 1483228800 - 315964800 + 18.0}, // 2017-01-01, eighteen
        {1717243200, 1717243200 - 315964800 + 18.0},
    };
    for (const auto& c : cases) {
        EXPECT_DOUBLE_EQ(GpsSecondsFromUtc(c.utc), c.gps) << c.utc;
    }
}

} // namespace
} // namespace hh::sim
