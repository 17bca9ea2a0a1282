// DOPs of skies whose normal matrices invert by hand.

#include "simulator/gps/dop.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace hh::sim {
namespace {

TEST(Dop, HandComputedSkies) {
    const struct {
        const char* sky;
        std::vector<SkyDirection> satellites;
        bool twoD;
        double pdop, hdop, vdop;
    } cases[] = {
        // Zenith and three on the horizon 120 degrees apart: G^T G is
        // diag(3/2, 3/2) beside [[1, -1], [-1, 4]] for up and clock, whose
        // inverse is [[4/3, 1/3], [1/3, 1/3]].
        {"zenith and three on the horizon",
         {{90, 0}, {0, 0}, {0, 120}, {0, 240}},
         false,
         std::sqrt(8.0 / 3.0),
         std::sqrt(4.0 / 3.0),
         std::sqrt(4.0 / 3.0)},
        // Zenith and four on the horizon: diag(2, 2) and [[1, -1], [-1, 5]].
        {"zenith and four on the horizon",
         {{90, 0}, {0, 0}, {0, 90}, {0, 180}, {0, 270}},
         false,
         1.5,
         1.0,
         std::sqrt(1.25)},
        // A 2D solution on three satellites of the horizon: diag(3/2, 3/2, 3).
        {"2D, three on the horizon",
         {{0, 30}, {0, 150}, {0, 270}},
         true,
         std::sqrt(4.0 / 3.0),
         std::sqrt(4.0 / 3.0),
         0.0},
        // The same 2D sky with the satellites high up: each horizontal
        // component shrinks by cos(60), the HDOP grows by 1/cos(60).
        {"2D, three at 60 degrees",
         {{60, 30}, {60, 150}, {60, 270}},
         true,
         2.0 * std::sqrt(4.0 / 3.0),
         2.0 * std::sqrt(4.0 / 3.0),
         0.0},
    };
    for (const auto& c : cases) {
        const auto dop = ComputeDop(c.satellites, c.twoD);
        ASSERT_TRUE(dop) << c.sky;
        EXPECT_NEAR(dop->pdop, c.pdop, 1e-9) << c.sky;
        EXPECT_NEAR(dop->hdop, c.hdop, 1e-9) << c.sky;
        EXPECT_NEAR(dop->vdop, c.vdop, 1e-9) << c.sky;
    }
}

TEST(Dop, TurningTheSkyChangesNothing) {
    std::vector<SkyDirection> sky = {{67, 12}, {23, 101}, {41, 200}, {8, 289}, {55, 330}};
    const Dop before = *ComputeDop(sky);
    for (SkyDirection& s : sky) {
        s.azimuth += 77;
    }
    const Dop after = *ComputeDop(sky);
    EXPECT_NEAR(after.pdop, before.pdop, 1e-9);
    EXPECT_NEAR(after.hdop, before.hdop, 1e-9);
    EXPECT_NEAR(after.vdop, before.vdop, 1e-9);
    EXPECT_NEAR(before.pdop * before.pdop, before.hdop * before.hdop + before.vdop * before.vdop,
                1e-9);
}

TEST(Dop, GeometryThatDeterminesNothingHasNoDop) {
    const struct {
        const char* sky;
        std::vector<SkyDirection> satellites;
        bool twoD;
    } cases[] = {
        {"three satellites for 3D", {{90, 0}, {10, 0}, {10, 120}}, false},
        {"two satellites for 2D", {{10, 0}, {10, 120}}, true},
        // All on one cone about the zenith: height and clock cannot be told apart.
        {"four on one cone", {{30, 0}, {30, 90}, {30, 180}, {30, 270}}, false},
        {"all in one direction", {{20, 45}, {20, 45}, {20, 45}, {20, 45}}, false},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(ComputeDop(c.satellites, c.twoD)) << c.sky;
    }
}

} // namespace
} // namespace hh::sim
