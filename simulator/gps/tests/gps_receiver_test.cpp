#include "simulator/gps/gps_receiver.h"
#include "terminal/nmea/nmea.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <iterator>
#include <set>
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

void Advance(GpsReceiver& rx, int seconds) {
    for (int i = 0; i < seconds; ++i) {
        rx.nextBurst();
    }
}

// Receivers over a spread of seeds and start times (a minute and a half
// apart, so that the navigation message's frames fall differently).
GpsReceiverOptions Spread(uint64_t seed) {
    return {.seed = seed, .utcStart = 1717243200 + static_cast<int64_t>(seed) * 97};
}

int64_t Median(std::vector<int64_t> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
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
        // The GSV messages count themselves and the satellites listed.
        const auto first = Fields(lines[2]);
        EXPECT_EQ(std::stoul(first[1]), lines.size() - 3);
        const auto listed = std::count_if(rx.satellites().begin(), rx.satellites().end(),
                                          [](const GpsSatellite& s) { return s.listed; });
        EXPECT_EQ(std::stol(first[3]), listed);
    }
}

TEST(GpsReceiver, SatellitesInViewAreAboveTheHorizonInPrnOrderAndRiseAndSet) {
    GpsReceiver rx({.seed = 2});
    std::set<int> seen;
    std::set<int> first;
    int risen = 0;
    int set = 0;
    int lowListed = 0;
    std::set<int> before;
    // Six hours, looked at once a minute.
    for (int minute = 0; minute < 360; ++minute) {
        Advance(rx, 60);
        std::set<int> now;
        const auto& sats = rx.satellites();
        for (std::size_t i = 0; i < sats.size(); ++i) {
            EXPECT_GE(sats[i].exactElevation, kHorizon);
            // Below the mask a satellite is listed, and tracked when its
            // signal allows, but never used.
            if (sats[i].used) {
                EXPECT_GE(sats[i].exactElevation, kElevationMask);
            }
            lowListed += sats[i].listed && sats[i].exactElevation < kElevationMask ? 1 : 0;
            if (i > 0) {
                EXPECT_LT(sats[i - 1].prn, sats[i].prn);
            }
            now.insert(sats[i].prn);
        }
        EXPECT_GE(now.size(), 4u) << minute;
        EXPECT_LE(now.size(), 12u) << minute;
        if (minute > 0) {
            for (int prn : now) {
                risen += before.count(prn) ? 0 : 1;
            }
            for (int prn : before) {
                set += now.count(prn) ? 0 : 1;
            }
        }
        before = now;
    }
    // About four a hour rise or set over the 24 satellites of the constellation.
    EXPECT_GE(risen, 6);
    EXPECT_GE(set, 6);
    // Rising and setting, each satellite spends minutes below the mask.
    EXPECT_GE(lowListed, 12);
}

TEST(GpsReceiver, PowerOnFixComesWithinHalfAMinuteToThreeQuartersAndSpreads) {
    std::vector<int64_t> times;
    for (uint64_t seed = 1; seed <= 20; ++seed) {
        GpsReceiver rx(Spread(seed));
        const auto lines = Lines(rx.nextBurst());
        EXPECT_EQ(rx.fixType(), GpsFix::None);
        EXPECT_EQ(Fields(lines[0])[2], "");  // GGA latitude
        EXPECT_EQ(Fields(lines[0])[6], "0"); // GGA quality
        EXPECT_EQ(Fields(lines[1])[2], "1"); // GSA fix
        EXPECT_EQ(Fields(lines.back())[2], "V");
        EXPECT_EQ(Fields(lines.back())[3], "");
        // Power-on keeps time and almanac: the sky is listed from the start.
        EXPECT_NE(Fields(lines[0])[1], "");
        EXPECT_NE(Fields(lines[2])[3], "00");

        const int64_t to3D = RunUntil(rx, GpsFix::Fix3D);
        ASSERT_GT(to3D, 0) << seed;
        EXPECT_EQ(*rx.secondsToFix(GpsFix::Fix3D), to3D);
        EXPECT_LE(*rx.secondsToFix(GpsFix::Fix2D), to3D);
        EXPECT_GE(rx.satellitesUsed(), 4);
        times.push_back(to3D);
        // The fix holds.
        for (int i = 0; i < 120; ++i) {
            rx.nextBurst();
            ASSERT_NE(rx.fixType(), GpsFix::None) << seed;
        }
    }
    EXPECT_GE(*std::min_element(times.begin(), times.end()), 20);
    EXPECT_LE(*std::max_element(times.begin(), times.end()), 50);
    EXPECT_GE(Median(times), 26);
    EXPECT_LE(Median(times), 45);
    EXPECT_GE(std::set<int64_t>(times.begin(), times.end()).size(), 5u) << "a spread";
}

TEST(GpsReceiver, ColdStartForgetsTimeAndSkyUntilTheNavigationMessageGivesThem) {
    std::vector<int64_t> times;
    for (uint64_t seed = 1; seed <= 20; ++seed) {
        GpsReceiver rx(Spread(seed));
        ASSERT_GT(RunUntil(rx, GpsFix::Fix3D), 0);
        for (std::string_view piece : {"$PGN", "VS,RSET,", "COLD\r", "\n"}) {
            rx.receive(piece);
        }
        EXPECT_EQ(rx.coldStarts(), 1);
        EXPECT_EQ(rx.fixType(), GpsFix::None);

        auto lines = Lines(rx.nextBurst());
        EXPECT_EQ(Fields(lines[0])[1], "") << "GGA time";
        EXPECT_EQ(Fields(lines.back())[1], "") << "RMC time";
        EXPECT_EQ(Fields(lines.back())[9], "") << "RMC date";
        EXPECT_EQ(Fields(lines[2])[3], "00") << "nothing found yet";
        // Satellites come back as they are found, without angles until the fix.
        bool listedWithoutAngles = false;
        bool timeBeforeFix = false;
        while (rx.fixType() == GpsFix::None && rx.secondsSinceReset() < 120) {
            lines = Lines(rx.nextBurst());
            for (const GpsSatellite& s : rx.satellites()) {
                listedWithoutAngles = listedWithoutAngles || (s.listed && !s.anglesKnown);
            }
            timeBeforeFix = timeBeforeFix || (rx.timeKnown() && rx.fixType() == GpsFix::None);
            EXPECT_EQ(Fields(lines[0])[1].empty(), !rx.timeKnown());
        }
        EXPECT_TRUE(listedWithoutAngles) << seed;
        EXPECT_TRUE(timeBeforeFix) << seed;
        EXPECT_TRUE(rx.dateKnown()) << seed;
        ASSERT_NE(rx.secondsToFix(GpsFix::Fix2D), std::nullopt) << seed;
        const int64_t to3D = RunUntil(rx, GpsFix::Fix3D);
        ASSERT_GT(to3D, 0);
        times.push_back(to3D);
    }
    // A word garbled by a weak signal costs a frame (30 s) more now and then.
    EXPECT_GE(*std::min_element(times.begin(), times.end()), 20);
    EXPECT_LE(*std::max_element(times.begin(), times.end()), 75);
    EXPECT_GE(Median(times), 26);
    EXPECT_LE(Median(times), 45);
    EXPECT_GE(std::set<int64_t>(times.begin(), times.end()).size(), 5u) << "a spread";
}

TEST(GpsReceiver, WarmAndHotStartsTakeWhatTheyTakeOnRealReceivers) {
    const struct {
        GpsStart start;
        int64_t least, most;
    } cases[] = {
        {GpsStart::Warm, 20, 45},
        {GpsStart::Hot, 1, 6},
    };
    for (const auto& c : cases) {
        for (uint64_t seed = 1; seed <= 10; ++seed) {
            GpsReceiver rx(Spread(seed));
            ASSERT_GT(RunUntil(rx, GpsFix::Fix3D), 0);
            Advance(rx, 30);
            rx.restart(c.start);
            const auto lines = Lines(rx.nextBurst());
            EXPECT_NE(Fields(lines[0])[1], "") << "the time is kept";
            EXPECT_NE(Fields(lines[2])[3], "00") << "the sky is kept";
            const int64_t to3D = RunUntil(rx, GpsFix::Fix3D);
            EXPECT_GE(to3D, c.least) << GpsStartName(c.start) << " " << seed;
            EXPECT_LE(to3D, c.most) << GpsStartName(c.start) << " " << seed;
        }
    }
}

TEST(GpsReceiver, RestartCommandsWithOrWithoutChecksum) {
    const struct {
        const char* bytes;
        int restarts;
        int coldStarts;
    } cases[] = {
        {"$PGNVS,RSET,COLD\r\n", 1, 1},    {"$PGNVS,RSET,COLD\n", 1, 1},
        {"$PGNVS,RSET,COLD*48\r\n", 1, 1}, {"$PGNVS,RSET,WARM*45\r\n", 1, 0},
        {"$PGNVS,RSET,COLD*49\r\n", 0, 0}, {"$PGNVS,RSET,COLD*\r\n", 0, 0},
        {"$PGNVS,RSET,WARM\r\n", 1, 0},    {"$PGNVS,RSET,HOT*1f\r\n", 1, 0},
        {"xx$PGNVS,RSET,COLD\r\n", 1, 1},  {"$PGNVS,RSET,COLD\r\n$PGNVS,RSET,COLD\r\n", 2, 2},
        {"$PGNVS,RSET,COLD", 0, 0},        {"$PGNVS,RSET,COLDX\r\n", 0, 0},
        {"$pgnvs,rset,cold\r\n", 0, 0},    {"hello\r\n\r\n", 0, 0},
    };
    for (const auto& c : cases) {
        GpsReceiver rx;
        rx.receive(c.bytes);
        EXPECT_EQ(rx.restarts(), c.restarts) << c.bytes;
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

// The DOPs recomputed from the GSV angles of the satellites GSA lists.
Dop DopOfBurst(const std::vector<std::string>& lines) {
    std::vector<std::string> used;
    const auto gsa = Fields(lines[1]);
    for (int i = 3; i < 15; ++i) {
        if (!gsa[i].empty()) {
            used.push_back(gsa[i]);
        }
    }
    std::vector<SkyDirection> sky;
    for (std::size_t l = 2; l + 1 < lines.size(); ++l) {
        const auto gsv = Fields(lines[l]);
        for (std::size_t i = 4; i + 2 < gsv.size(); i += 4) {
            if (std::find(used.begin(), used.end(), gsv[i]) != used.end()) {
                sky.push_back({std::stod(gsv[i + 1]), std::stod(gsv[i + 2])});
            }
        }
    }
    EXPECT_EQ(sky.size(), used.size());
    return ComputeDop(sky, gsa[2] == "2").value_or(Dop{});
}

TEST(GpsReceiver, PrintedDopsAreThoseOfTheUsedSatellitesGeometry) {
    // A half hour with stretches of four satellites near one cone, where
    // fractions of a degree move the DOPs by several percent and, nearer
    // still, PDOP passes the mask (25) and hundreds.
    GpsReceiver rx({.seed = 1, .utcStart = 1796706000});
    int checked = 0;
    int within = 0;
    for (int second = 0; second < 1800; ++second) {
        const auto lines = Lines(rx.nextBurst());
        if (rx.fixType() == GpsFix::None) {
            continue;
        }
        const auto gsa = Fields(lines[1]);
        const auto gga = Fields(lines[0]);
        // The model's own DOPs are printed, in GSA and GGA alike.
        EXPECT_NEAR(std::stod(gsa[15]), std::min(rx.dop().pdop, 99.99), 0.005);
        EXPECT_NEAR(std::stod(gsa[16]), std::min(rx.dop().hdop, 99.99), 0.005);
        EXPECT_NEAR(std::stod(gsa[17]), std::min(rx.dop().vdop, 99.99), 0.005);
        EXPECT_EQ(gga[8], gsa[16]);
        EXPECT_EQ(std::stoi(gga[7]), rx.satellitesUsed());
        EXPECT_LE(rx.dop().pdop, 25.0);
        // They are those of the whole-degree angles GSV reports, in every
        // epoch, however poor the geometry.
        const Dop seen = DopOfBurst(lines);
        ++checked;
        within += std::fabs(seen.hdop - rx.dop().hdop) <= 0.005 * seen.hdop &&
                  std::fabs(seen.pdop - rx.dop().pdop) <= 0.005 * seen.pdop;
    }
    // Only the stretch where PDOP passes the mask (two minutes) goes unchecked.
    EXPECT_GT(checked, 1600);
    EXPECT_EQ(within, checked);
}

TEST(GpsReceiver, TwoDimensionalFixOnThreeSatellitesReportsItsLargeHdop) {
    // All the sky blocked but three of the satellites used: a 2D solution.
    GpsReceiver rx({.seed = 9});
    ASSERT_GT(RunUntil(rx, GpsFix::Fix3D), 0);
    // The three strongest stay.
    std::vector<GpsSatellite> used;
    std::copy_if(rx.satellites().begin(), rx.satellites().end(), std::back_inserter(used),
                 [](const GpsSatellite& s) { return s.used; });
    std::sort(used.begin(), used.end(),
              [](const GpsSatellite& a, const GpsSatellite& b) { return a.snr > b.snr; });
    std::vector<int> keep;
    for (std::size_t i = 0; i < 3; ++i) {
        keep.push_back(used[i].prn);
    }
    GpsScenario scenario;
    rx.follow(scenario);
    scenario.block.kind = GpsBlock::Kind::Prns;
    for (const GpsSatellite& s : rx.satellites()) {
        if (std::find(keep.begin(), keep.end(), s.prn) == keep.end()) {
            scenario.block.prns.push_back(s.prn);
        }
    }
    rx.follow(scenario);
    std::vector<std::string> lines;
    for (int i = 0; i < 30 && rx.fixType() != GpsFix::Fix2D; ++i) {
        lines = Lines(rx.nextBurst());
    }
    ASSERT_EQ(rx.fixType(), GpsFix::Fix2D);
    const auto gsa = Fields(lines[1]);
    EXPECT_EQ(gsa[15], gsa[16]) << "PDOP is the HDOP of a 2D fix";
    EXPECT_EQ(gsa[17], "0.00");
    EXPECT_GT(std::stod(gsa[16]), 2.0);
}

TEST(GpsReceiver, SignalsFollowTheElevationWithScatterAndLowSatellitesDropOut) {
    GpsReceiver rx({.seed = 4});
    Advance(rx, 60);
    double sx = 0, sy = 0, sxx = 0, syy = 0, sxy = 0;
    int n = 0;
    int inView = 0;
    int untracked = 0;
    for (int second = 0; second < 3600; ++second) {
        rx.nextBurst();
        for (const GpsSatellite& s : rx.satellites()) {
            if (!s.listed) {
                continue;
            }
            ++inView;
            if (s.snr == 0) {
                ++untracked;
                continue;
            }
            ++n;
            sx += s.elevation;
            sy += s.snr;
            sxx += s.elevation * s.elevation;
            syy += s.snr * s.snr;
            sxy += s.elevation * s.snr;
        }
    }
    const double cov = sxy / n - sx / n * sy / n;
    const double varX = sxx / n - sx / n * sx / n;
    const double varY = syy / n - sy / n * sy / n;
    const double r = cov / std::sqrt(varX * varY);
    const double residual = std::sqrt(varY * (1 - r * r));
    EXPECT_GT(r, 0.3);
    EXPECT_LT(r, 0.85);
    EXPECT_GT(residual, 3.0);
    EXPECT_GT(untracked, inView * 3 / 100);
}

TEST(GpsReceiver, StandingStillTheFixWandersByMetresAndTheSpeedStaysLow) {
    GpsReceiver rx({.seed = 6, .latitude = -33.8688, .longitude = 151.2093});
    ASSERT_GT(RunUntil(rx, GpsFix::Fix3D), 0);
    std::vector<double> speeds;
    double farthest = 0;
    for (int second = 0; second < 1200; ++second) {
        const auto rmc = Fields(Lines(rx.nextBurst()).back());
        ASSERT_EQ(rmc[2], "A");
        speeds.push_back(std::stod(rmc[7]) / 1.943844);
        const double lat = -(std::stod(rmc[3].substr(0, 2)) + std::stod(rmc[3].substr(2)) / 60.0);
        const double lon = std::stod(rmc[5].substr(0, 3)) + std::stod(rmc[5].substr(3)) / 60.0;
        const double metres =
            std::hypot((lat + 33.8688) * 111320.0, (lon - 151.2093) * 111320.0 * std::cos(0.5911));
        farthest = std::max(farthest, metres);
    }
    std::sort(speeds.begin(), speeds.end());
    EXPECT_LT(speeds[speeds.size() / 2], 0.5);
    EXPECT_GT(speeds[speeds.size() / 2], 0.0) << "Doppler noise, not a frozen zero";
    EXPECT_GT(farthest, 0.5);
    EXPECT_LT(farthest, 40.0);
}

TEST(GpsReceiver, FollowsTheScenarioPositionRouteBlocksAndRestarts) {
    GpsReceiver rx({.seed = 8});
    GpsScenario scenario;
    scenario.starts = 5; // a count found at start-up is no command
    rx.follow(scenario);
    ASSERT_GT(RunUntil(rx, GpsFix::Fix3D), 0);
    EXPECT_EQ(rx.restarts(), 0);

    scenario.latitude = 40.0;
    scenario.longitude = -3.5;
    ++scenario.motions;
    rx.follow(scenario);
    rx.nextBurst();
    EXPECT_DOUBLE_EQ(rx.latitude(), 40.0);
    ASSERT_GE(RunUntil(rx, GpsFix::Fix3D, 60), 0) << "a fix under the new sky";

    // A route north, 10 m/s.
    scenario.route = {{40.0, -3.5, 600, 0}, {40.01, -3.5, 600, 111.2}};
    ++scenario.motions;
    rx.follow(scenario);
    Advance(rx, 30);
    const auto rmc = Fields(Lines(rx.nextBurst()).back());
    EXPECT_NEAR(std::stod(rmc[7]) / 1.943844, 10.0, 1.0);
    EXPECT_LT(std::fabs(std::remainder(std::stod(rmc[8]), 360.0)), 10.0);
    EXPECT_NEAR(rx.latitude(), 40.0 + 0.01 * 30 / 111.2, 1e-6);

    scenario.block.kind = GpsBlock::Kind::All;
    rx.follow(scenario);
    rx.nextBurst();
    EXPECT_EQ(rx.fixType(), GpsFix::None) << "a tunnel";
    for (const GpsSatellite& s : rx.satellites()) {
        EXPECT_EQ(s.snr, 0);
    }
    scenario.block.kind = GpsBlock::Kind::Below;
    scenario.block.below = 30;
    rx.follow(scenario);
    Advance(rx, 10);
    for (const GpsSatellite& s : rx.satellites()) {
        EXPECT_TRUE(!s.used || s.exactElevation >= 30) << s.prn;
    }
    scenario.block.kind = GpsBlock::Kind::None;
    rx.follow(scenario);
    EXPECT_GE(RunUntil(rx, GpsFix::Fix3D, 10), 0) << "out of the tunnel in seconds";

    ++scenario.starts;
    scenario.start = GpsStart::Cold;
    rx.follow(scenario);
    EXPECT_EQ(rx.coldStarts(), 1);
    rx.follow(scenario);
    EXPECT_EQ(rx.restarts(), 1) << "once per command";
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
            EXPECT_NEAR(degrees, 51.5, 0.001);
        }
    }
}

} // namespace
} // namespace hh::sim
