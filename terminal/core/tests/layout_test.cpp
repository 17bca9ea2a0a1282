#include <terminal/core/layout.h>

#include <gtest/gtest.h>

#include <map>

namespace terminal {
namespace {

std::map<uint16_t, ControlRect> ById(int w, int h, int screenWidth) {
    std::map<uint16_t, ControlRect> byId;
    for (const auto& r : ComputeTerminalLayout(w, h, screenWidth)) {
        EXPECT_TRUE(byId.emplace(r.id, r).second) << "duplicate id " << r.id;
    }
    return byId;
}

TEST(TerminalLayout, PlacesTheButtonBlockOnAFourEightyByTwoSeventyTwoScreen) {
    auto l = ById(480, 272, 480);
    EXPECT_EQ(l.size(), 36u);
    // bx = 293, bw = 58, by = 156, bh = 24
    auto open = l.at(1009);
    EXPECT_EQ(open.x, 293);
    EXPECT_EQ(open.y, 156);
    EXPECT_EQ(open.width, 58);
    EXPECT_EQ(open.height, 24);
    EXPECT_EQ(l.at(1001).x, 293 + 2 * 58);
    EXPECT_EQ(l.at(1001).y, 156 + 24);
    EXPECT_EQ(l.at(1032).x, 293 + 96 + 29);
}

TEST(TerminalLayout, CheckBoxesTakeTheSizeOfLogAll) {
    auto l = ById(480, 272, 480);
    const auto logAll = l.at(1033);
    EXPECT_EQ(logAll.width, 480 * 231 / 1000 - 30);
    EXPECT_EQ(l.at(1070).x, logAll.x + logAll.width);
    for (uint16_t id : {1017, 1025, 1026, 1070}) {
        EXPECT_EQ(l.at(id).width, logAll.width) << id;
        EXPECT_EQ(l.at(id).height, logAll.height) << id;
    }
    EXPECT_EQ(l.at(1026).x, 2 * logAll.width);
    EXPECT_EQ(l.at(1074).y, 272 * 779 / 1000 + logAll.height);
    EXPECT_EQ(l.at(1074).width, 240);
}

TEST(TerminalLayout, DivisionsTruncate) {
    auto l = ById(799, 479, 800);
    EXPECT_EQ(l.at(1000).width, 799 - 19);
    EXPECT_EQ(l.at(1021).y, 479 * 779 / 1000);
    EXPECT_EQ(l.at(1075).x, 799 * 278 / 1000 + 799 * 128 / 1000 + 30);
}

} // namespace
} // namespace terminal
