#include "simulator/gps/route.h"
#include "simulator/gps/scenario.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace hh::sim {
namespace {

TEST(Route, GpxTrackNmeaLogAndUntimedRouteBecomeTimedPoints) {
    const struct {
        const char* what;
        std::string text;
        std::vector<RoutePoint> route;
    } cases[] = {
        {"a GPX track with times, an offset and fractions",
         "<?xml version=\"1.0\"?>\n<gpx version=\"1.1\"><trk><trkseg>"
         "<trkpt lat=\"48.1\" lon=\"11.5\"><ele>520</ele><time>2024-06-01T12:00:00Z</time></trkpt>"
         "<trkpt lat=\"48.1001\" lon=\"11.5\"><time>2024-06-01T14:00:10.5+02:00</time></trkpt>"
         "</trkseg><trkseg>"
         "<trkpt lat=\"48.1002\" "
         "lon=\"11.5\"><ele>521</ele><time>2024-06-01T12:00:20Z</time></trkpt>"
         "</trkseg></trk></gpx>",
         {{48.1, 11.5, 520, 0}, {48.1001, 11.5, 0, 10.5}, {48.1002, 11.5, 521, 20}}},
        {"an NMEA log: GGA and RMC of one second merge, bad checksums and no-fix lines drop",
         "$GPGGA,235959.00,4807.0380,N,01131.0000,E,1,08,0.9,545.4,M,46.9,M,,*65\r\n"
         "$GPRMC,235959.00,A,4807.0380,N,01131.0000,E,0.0,0.0,010624,,,A*5C\r\n"
         "$GPGGA,000000.00,4807.0390,N,01131.0000,E,1,08,0.9,546.0,M,46.9,M,,*00\r\n"
         "$GPGGA,000001.00,,,,,0,00,,,M,,M,,*49\r\n"
         "$GNRMC,000002.00,A,3351.0000,S,15112.0000,W,0.0,0.0,020624,,,A*4D\r\n",
         {{48.1173, 11.516666666666667, 545.4, 0}, {-33.85, -151.2, 0, 3}}},
        {"a GPX route without times is walked",
         "<gpx><rte><rtept lat=\"0\" lon=\"0\"/><rtept lat=\"0\" lon=\"0.001\"/></rte></gpx>",
         {{0, 0, 0, 0}, {0, 0.001, 0, GroundDistance(0, 0, 0, 0.001) / 1.4}}},
    };
    for (const auto& c : cases) {
        std::string error;
        const auto route = ParseRoute(c.text, error);
        ASSERT_TRUE(route) << c.what << ": " << error;
        ASSERT_EQ(route->size(), c.route.size()) << c.what;
        for (std::size_t i = 0; i < c.route.size(); ++i) {
            EXPECT_NEAR((*route)[i].latitude, c.route[i].latitude, 1e-9) << c.what << " " << i;
            EXPECT_NEAR((*route)[i].longitude, c.route[i].longitude, 1e-9) << c.what << " " << i;
            EXPECT_NEAR((*route)[i].altitude, c.route[i].altitude, 1e-9) << c.what << " " << i;
            EXPECT_NEAR((*route)[i].time, c.route[i].time, 1e-6) << c.what << " " << i;
        }
    }
}

TEST(Route, FilesThatAreNoRouteAreRefusedWithTheirReason) {
    const struct {
        std::string text;
        std::string error;
    } cases[] = {
        {"", "it is neither a GPX document nor an NMEA log with fixes"},
        {"hello world\n", "it is neither a GPX document nor an NMEA log with fixes"},
        {"ID: 07\nHealth: 000\n", "it is neither a GPX document nor an NMEA log with fixes"},
        {"$GPGGA,120000.00,,,,,0,00,99.99,,,,,,*65\n",
         "it is neither a GPX document nor an NMEA log with fixes"},
        {"<gpx><trk><trkseg><trkpt lat=\"1\" lon=\"2\"/>",
         "it is not well-formed XML (Start-end tags mismatch)"},
        {"<kml></kml>", "it is no GPX document"},
        {"<gpx></gpx>", "it holds fewer than two positions"},
        {"<gpx><trk><trkseg><trkpt lat=\"91\" lon=\"2\"/><trkpt lat=\"1\" lon=\"2\"/>"
         "</trkseg></trk></gpx>",
         "point 1 has no latitude and longitude in range"},
        {"<gpx><trk><trkseg><trkpt lat=\"1\" lon=\"x\"/></trkseg></trk></gpx>",
         "point 1 has no latitude and longitude in range"},
        {"<gpx><trk><trkseg><trkpt lat=\"1\" lon=\"2\"><time>noon</time></trkpt>"
         "</trkseg></trk></gpx>",
         "point 1 has an unreadable time"},
        {"<gpx><trk><trkseg>"
         "<trkpt lat=\"1\" lon=\"2\"><time>2024-06-01T12:00:10Z</time></trkpt>"
         "<trkpt lat=\"1\" lon=\"3\"><time>2024-06-01T12:00:00Z</time></trkpt>"
         "</trkseg></trk></gpx>",
         "its times run backwards at position 2"},
        {"<gpx><trk><trkseg><trkpt lat=\"1\" lon=\"2\"/><trkpt lat=\"1\" lon=\"2\"/>"
         "</trkseg></trk></gpx>",
         "it holds fewer than two distinct positions"},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(ParseRoute(c.text, error)) << c.error;
        EXPECT_EQ(error, c.error);
    }
}

TEST(Route, TravellerInterpolatesStopsAtTheEndOrLoops) {
    // Due north along a meridian, 100 s a segment.
    const std::vector<RoutePoint> route = {
        {0, 10, 100, 0}, {0.01, 10, 200, 100}, {0.02, 10, 200, 200}};
    const double segment = GroundDistance(0, 10, 0.01, 10);
    const struct {
        double elapsed;
        bool loop;
        double latitude, altitude, speed;
    } cases[] = {
        {0, false, 0, 100, segment / 100},       {50, false, 0.005, 150, segment / 100},
        {150, false, 0.015, 200, segment / 100}, {250, false, 0.02, 200, 0},
        {250, true, 0.005, 150, segment / 100},  {-5, false, 0, 100, segment / 100},
    };
    for (const auto& c : cases) {
        const RoutePosition at = PositionOnRoute(route, c.elapsed, c.loop);
        EXPECT_NEAR(at.latitude, c.latitude, 1e-12) << c.elapsed;
        EXPECT_DOUBLE_EQ(at.longitude, 10) << c.elapsed;
        EXPECT_NEAR(at.altitude, c.altitude, 1e-9) << c.elapsed;
        EXPECT_NEAR(at.speed, c.speed, 1e-9) << c.elapsed;
        if (c.speed > 0) {
            EXPECT_NEAR(at.course, 0.0, 1e-9) << c.elapsed;
        }
    }
    EXPECT_NEAR(PositionOnRoute({{0, 0, 0, 0}, {0, -0.01, 0, 10}}, 5, false).course, 270.0, 1e-9);
}

TEST(Scenario, TextRoundTripsAndForeignTextIsRefused) {
    GpsScenario s;
    s.latitude = -33.8688;
    s.longitude = 151.2093;
    s.altitude = 12.25;
    s.route = {{1.5, 2.25, 3, 0}, {1.5000001, 2.25, 3.5, 7.125}};
    s.loop = true;
    s.motions = 7;
    s.starts = 3;
    s.start = GpsStart::Hot;
    for (GpsBlock block :
         {GpsBlock{}, GpsBlock{GpsBlock::Kind::Below, 22.5, {}},
          GpsBlock{GpsBlock::Kind::Prns, 0, {3, 17, 31}}, GpsBlock{GpsBlock::Kind::All, 0, {}}}) {
        s.block = block;
        EXPECT_EQ(ParseScenario(SerializeScenario(s)), s);
    }
    EXPECT_EQ(ParseScenario(""), GpsScenario{});
    for (const char* text : {"position 1 2\n", "starts 1 lukewarm\n", "block some\n",
                             "point 1 2 3\n", "loop 2\n", "colour blue\n", "motions -1\n"}) {
        EXPECT_FALSE(ParseScenario(text)) << text;
    }
}

TEST(Scenario, BlockListsSayWhichSignalsAreBlocked) {
    const GpsBlock below{GpsBlock::Kind::Below, 30, {}};
    const GpsBlock prns{GpsBlock::Kind::Prns, 0, {5, 9}};
    const GpsBlock all{GpsBlock::Kind::All, 0, {}};
    EXPECT_TRUE(below.blocks(1, 29.9));
    EXPECT_FALSE(below.blocks(1, 30));
    EXPECT_TRUE(prns.blocks(9, 80));
    EXPECT_FALSE(prns.blocks(7, 10));
    EXPECT_TRUE(all.blocks(1, 90));
    EXPECT_FALSE(GpsBlock{}.blocks(1, 5));
}

} // namespace
} // namespace hh::sim
