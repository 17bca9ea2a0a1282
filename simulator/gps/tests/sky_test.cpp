// The text form in which a receiver publishes its sky.

#include "simulator/gps/sky.h"

#include <gtest/gtest.h>

namespace hh::sim {
namespace {

TEST(GpsSky, TextRoundTripsAndForeignTextIsRefused) {
    GpsSky sky;
    sky.receiver = "VARDI (process 12)";
    sky.publishedAt = 1700000000;
    sky.utc = 1717243200;
    sky.fix = GpsFix::Fix3D;
    GpsSatellite a;
    a.prn = 7;
    a.exactElevation = 45.5;
    a.exactAzimuth = 359.6;
    a.snr = 41;
    a.used = true;
    a.listed = true;
    sky.satellites = {a};
    const auto back = ParseGpsSky(SerializeGpsSky(sky));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->receiver, sky.receiver);
    EXPECT_EQ(back->publishedAt, sky.publishedAt);
    EXPECT_EQ(back->fix, GpsFix::Fix3D);
    ASSERT_EQ(back->satellites.size(), 1u);
    EXPECT_EQ(back->satellites[0].elevation, 46);
    EXPECT_EQ(back->satellites[0].azimuth, 0);
    EXPECT_TRUE(back->satellites[0].used);
    for (const char* text : {"fix 4\n", "sat 1 2 3\n", "utc soon\n", "weather fine\n"}) {
        EXPECT_FALSE(ParseGpsSky(text)) << text;
    }
}

} // namespace
} // namespace hh::sim
