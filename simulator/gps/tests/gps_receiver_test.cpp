#include "simulator/gps/gps_receiver.h"
#include "terminal/nmea/nmea.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace hh::sim {
namespace {

std::vector<std::string> Lines(const std::string& burst) {
    std::vector<std::string> lines;
    std::size_t at = 0;
    while (at < burst.size()) {
        const std::size_t end = burst.find("\r\n", at);
        EXPECT_NE(end, std::string::npos) << "line without CR LF";
        if (end == std::string::npos) {
            break;
        }
        lines.push_back(burst.substr(at, end - at));
        at = end + 2;
    }
    return lines;
}

std::vector<std::string> Fields(const std::string& line) {
    const std::string body = line.substr(1, line.find('*') - 1);
    std::vector<std::string> fields;
    std::size_t at = 0;
    for (;;) {
        const std::size_t comma = body.find(',', at);
        fields.push_back(body.substr(at, comma - at));
        if (comma == std::string::npos) {
            return fields;
        }
        at = comma + 1;
    }
}

std::string Header(const std::string& line) {
    return line.substr(0, 6);
}

// Runs bursts until the receiver reports `fix`; returns the seconds since the
// last reset at that burst, or -1 when it did not come within `limit` bursts.
int64_t RunUntil(GpsReceiver& rx, GpsFix fix, int limit = 300) {
    for (int i = 0; i < limit; ++i) {
        rx.nextBurst();
        if (rx.fixType() == fix) {
            return rx.secondsSinceReset() - 1;
        }
    }
    return -1;
}

TEST(GpsReceiver, EverySentenceHasValidChecksumAndBurstsHaveTheCycleOrder) {
    GpsReceiver rx({.seed = 7});
    for (int second = 0; second < 120; ++second) {
        const auto lines = Lines(rx.nextBurst());
        ASSERT_GE(lines.size(), 4u);
        ASSERT_LE(lines.size(), 6u);
        EXPECT_EQ(Header(lines.front()), "$GPGGA");
        EXPECT_EQ(Header(lines[1]), "$GPGSA");
        EXPECT_EQ(Header(lines.back()), "$GPRMC");
        for (std::size_t i = 2; i + 1 < lines.size(); ++i) {
            EXPECT_EQ(Header(lines[i]), "$GPGSV");
        }
        for (const auto& line : lines) {
            const std::size_t star = line.find('*');
            ASSERT_EQ(star, line.size() - 3) << line;
            const auto body = std::string_view(line).substr(1, star - 1);
            const unsigned sum = std::strtoul(line.substr(star + 1).c_str(), nullptr, 16);
            EXPECT_EQ(sum, NmeaChecksum(body)) << line;
        }
        // The GSV messages count themselves and the satellites in view.
        const auto first = Fields(lines[2]);
        EXPECT_EQ(std::stoul(first[1]), lines.size() - 3);
        EXPECT_EQ(std::stoul(first[3]), rx.satellites().size());
    }
}

TEST(GpsReceiver, TracksEightToTwelveSatellitesWithDistinctPrns) {
    for (uint64_t seed = 1; seed <= 60; ++seed) {
        GpsReceiver rx({.seed = seed});
        rx.nextBurst();
        const auto& sats = rx.satellites();
        ASSERT_GE(sats.size(), 8u) << seed;
        ASSERT_LE(sats.size(), 12u) << seed;
        for (std::size_t i = 1; i < sats.size(); ++i) {
            EXPECT_LT(sats[i - 1].prn, sats[i].prn);
        }
    }
}

TEST(GpsReceiver, StartsWithoutFixThenReaches2DAndThen3D) {
    for (uint64_t seed = 1; seed <= 20; ++seed) {
        GpsReceiver rx({.seed = seed});
        const auto lines = Lines(rx.nextBurst());
        EXPECT_EQ(rx.fixType(), GpsFix::None);
        EXPECT_EQ(Fields(lines[0])[2], "");  // GGA latitude
        EXPECT_EQ(Fields(lines[0])[6], "0"); // GGA quality
        EXPECT_EQ(Fields(lines[1])[2], "1"); // GSA fix
        EXPECT_EQ(Fields(lines.back())[2], "V");
        EXPECT_EQ(Fields(lines.back())[3], "");

        const int64_t to2D = RunUntil(rx, GpsFix::Fix2D);
        EXPECT_GE(to2D, 30) << seed;
        EXPECT_LE(to2D, 40) << seed;
        EXPECT_EQ(rx.satellitesUsed(), 3);
        const int64_t to3D = RunUntil(rx, GpsFix::Fix3D);
        EXPECT_GE(to3D - to2D, 3) << seed;
        EXPECT_LE(to3D - to2D, 8) << seed;
        EXPECT_GE(rx.satellitesUsed(), 4);
        // The fix holds.
        for (int i = 0; i < 200; ++i) {
            rx.nextBurst();
            ASSERT_EQ(rx.fixType(), GpsFix::Fix3D);
        }
    }
}

TEST(GpsReceiver, ColdStartCommandSplitOverWritesRestartsAcquisition) {
    for (uint64_t seed = 1; seed <= 10; ++seed) {
        GpsReceiver rx({.seed = seed});
        ASSERT_GT(RunUntil(rx, GpsFix::Fix3D), 0);
        const int warm2D = rx.secondsTo2D();
        for (std::string_view piece : {"$PGN", "VS,RSET,", "COLD\r", "\n"}) {
            rx.receive(piece);
        }
        EXPECT_EQ(rx.coldStarts(), 1);
        EXPECT_EQ(rx.fixType(), GpsFix::None);

        const auto lines = Lines(rx.nextBurst());
        EXPECT_EQ(rx.fixType(), GpsFix::None);
        // Without an almanac nothing is in view at first.
        EXPECT_EQ(Fields(lines[2])[3], "00");
        const int64_t to2D = RunUntil(rx, GpsFix::Fix2D);
        EXPECT_GT(to2D, warm2D) << seed;
        EXPECT_GE(to2D, 45) << seed;
        EXPECT_LE(to2D, 60) << seed;
        const int64_t to3D = RunUntil(rx, GpsFix::Fix3D);
        EXPECT_GT(to3D, to2D);
        EXPECT_LE(to3D - to2D, 8);
    }
}

TEST(GpsReceiver, OnlyTheExactCommandLineStartsACold) {
    const struct {
        const char* bytes;
        int coldStarts;
    } cases[] = {
        {"$PGNVS,RSET,COLD\r\n", 1},   {"$PGNVS,RSET,COLD\n", 1},
        {"xx$PGNVS,RSET,COLD\r\n", 1}, {"$PGNVS,RSET,COLD\r\n$PGNVS,RSET,COLD\r\n", 2},
        {"$PGNVS,RSET,COLD", 0},       {"$PGNVS,RSET,WARM\r\n", 0},
        {"$PGNVS,RSET,COLDX\r\n", 0},  {"$pgnvs,rset,cold\r\n", 0},
        {"hello\r\n\r\n", 0},
    };
    for (const auto& c : cases) {
        GpsReceiver rx;
        rx.receive(c.bytes);
        EXPECT_EQ(rx.coldStarts(), c.coldStarts) << c.bytes;
    }
}

TEST(GpsReceiver, OverlongLineIsDroppedAndTheNextLineStillCounts) {
    GpsReceiver rx;
    rx.receive(std::string(10000, 'x') + "$PGNVS,RSET,COLD\r\n");
    EXPECT_EQ(rx.coldStarts(), 0);
    rx.receive("$PGNVS,RSET,COLD\r\n");
    EXPECT_EQ(rx.coldStarts(), 1);
}

TEST(GpsReceiver, SameSeedSameBurstsOtherSeedOthers) {
    GpsReceiver a({.seed = 42});
    GpsReceiver b({.seed = 42});
    GpsReceiver c({.seed = 43});
    bool differs = false;
    for (int i = 0; i < 90; ++i) {
        const std::string burst = a.nextBurst();
        ASSERT_EQ(burst, b.nextBurst());
        differs = differs || burst != c.nextBurst();
    }
    EXPECT_TRUE(differs);
}

TEST(GpsReceiver, SatellitesAndPositionMoveSmoothly) {
    const double startLat = -33.8688;
    const double startLon = 151.2093;
    GpsReceiver rx({.seed = 3, .latitude = startLat, .longitude = startLon});
    rx.nextBurst();
    auto before = rx.satellites();
    double lat = rx.latitude();
    double lon = rx.longitude();
    bool moved = false;
    for (int i = 0; i < 1200; ++i) {
        rx.nextBurst();
        const auto& now = rx.satellites();
        for (std::size_t s = 0; s < now.size(); ++s) {
            EXPECT_LE(std::abs(now[s].elevation - before[s].elevation), 1);
            const int daz = std::abs(now[s].azimuth - before[s].azimuth);
            EXPECT_TRUE(daz <= 1 || daz == 359);
            EXPECT_GE(now[s].elevation, 5);
            EXPECT_LE(now[s].elevation, 85);
            if (before[s].snr > 0 && now[s].snr > 0) {
                EXPECT_LE(std::abs(now[s].snr - before[s].snr), 3);
            }
        }
        before = now;
        // About 1.1 to 1.7 m a second, and never far from the start point.
        const double step =
            std::hypot((rx.latitude() - lat) * 111320.0,
                       (rx.longitude() - lon) * 111320.0 * std::cos(startLat * 3.14159265 / 180.0));
        EXPECT_LT(step, 2.0);
        moved = moved || step > 0.5;
        EXPECT_LT(std::fabs(rx.latitude() - startLat) * 111320.0, 500.0);
        lat = rx.latitude();
        lon = rx.longitude();
    }
    EXPECT_TRUE(moved);
}

TEST(GpsReceiver, UtcAdvancesOneSecondPerBurstAcrossMidnight) {
    // 2024-02-28 23:59:58 UTC, then a leap day.
    GpsReceiver rx({.seed = 1, .utcStart = 1709164798});
    const char* const expected[][2] = {
        {"235958.00", "280224"},
        {"235959.00", "280224"},
        {"000000.00", "290224"},
        {"000001.00", "290224"},
    };
    for (const auto& e : expected) {
        const auto lines = Lines(rx.nextBurst());
        EXPECT_EQ(Fields(lines.front())[1], e[0]);
        const auto rmc = Fields(lines.back());
        EXPECT_EQ(rmc[1], e[0]);
        EXPECT_EQ(rmc[9], e[1]);
    }
}

std::string Text(std::u16string_view text) {
    std::string out;
    for (char16_t ch : text) {
        out.push_back(static_cast<char>(ch));
    }
    return out;
}

TEST(GpsReceiver, TheTerminalsParserReadsConsistentValues) {
    using namespace terminal::nmea;
    GpsReceiver rx({.seed = 11, .latitude = 51.5, .longitude = -0.12});
    for (int second = 0; second < 100; ++second) {
        const std::string burst = rx.nextBurst();
        const std::u16string chunk(burst.begin(), burst.end());
        NmeaContext ctx;
        ParseChunk(ctx, chunk);
        const NmeaState& s = ctx.m_nmea;

        EXPECT_EQ(Text(s.gga.szTime), Text(s.rmc.szTime));
        EXPECT_EQ(Text(s.gsa.szFixType), std::to_string(static_cast<int>(rx.fixType())));
        const int gsvMessages = std::stoi(Text(s.gsv[0].szNumMessages));
        int listed = 0;
        for (int r = 0; r < gsvMessages; ++r) {
            EXPECT_EQ(Text(s.gsv[r].szMessageNumber), std::to_string(r + 1));
            for (const auto& prn : s.gsv[r].szPrn) {
                listed += prn[0] != u'\0';
            }
        }
        EXPECT_EQ(std::stoi(Text(s.gsv[0].szInView)), listed);
        int used = 0;
        for (const auto& prn : s.gsa.szUsedPrn) {
            used += prn[0] != u'\0';
        }
        EXPECT_EQ(used, rx.satellitesUsed());
        if (rx.fixType() == GpsFix::None) {
            EXPECT_EQ(s.rmc.chStatus, u'V');
            EXPECT_EQ(s.gga.szLatitude[0], u'\0');
            EXPECT_EQ(s.rmc.szLatitude[0], u'\0');
        } else {
            EXPECT_EQ(s.rmc.chStatus, u'A');
            EXPECT_EQ(s.gga.chQuality, u'1');
            EXPECT_EQ(std::stoi(Text(s.gga.szSatsUsed)), used);
            EXPECT_EQ(Text(s.gga.szLatitude), Text(s.rmc.szLatitude));
            EXPECT_EQ(s.rmc.chLatHemisphere, u'N');
            EXPECT_EQ(s.rmc.chLonHemisphere, u'W');
            const std::string lat = Text(s.rmc.szLatitude);
            const double degrees = std::stod(lat.substr(0, 2)) + std::stod(lat.substr(2)) / 60.0;
            EXPECT_NEAR(degrees, 51.5, 0.01);
        }
    }
}

} // namespace
} // namespace hh::sim
