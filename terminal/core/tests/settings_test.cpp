#include <terminal/core/settings.h>

#include <gtest/gtest.h>

namespace terminal {
namespace {

TEST(Settings, ListsStartOnTheDefaultLineSettings) {
    EXPECT_EQ(kComList.entries[kComList.initialSelection], u"COM7:");
    EXPECT_EQ(kBaudList.entries[kBaudList.initialSelection], u"38400");
    EXPECT_EQ(kByteSizeList.entries[kByteSizeList.initialSelection], u"8");
    EXPECT_EQ(kStopBitsList.entries[kStopBitsList.initialSelection], u"1");
    EXPECT_EQ(kParityList.entries[kParityList.initialSelection], u"None");
    EXPECT_EQ(kBaudList.entries[13], u"110");
}

TEST(Settings, PositionsMapToLineCodesNotTexts) {
    struct Row {
        int position;
        uint8_t byteSize, stopBits, parity;
    };
    const Row rows[] = {
        {-1, 8, 0, 0}, {0, 5, 0, 2}, {1, 6, 1, 3}, {2, 7, 2, 0},
        {3, 8, 0, 1},  {4, 8, 0, 4}, {5, 8, 0, 0},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(ByteSizeFromPosition(r.position), r.byteSize) << r.position;
        EXPECT_EQ(StopBitsFromPosition(r.position), r.stopBits) << r.position;
        EXPECT_EQ(ParityFromPosition(r.position), r.parity) << r.position;
    }
}

TEST(Settings, BaudTextReadsLikeWtol) {
    EXPECT_EQ(BaudFromText(u"110"), 110u);
    EXPECT_EQ(BaudFromText(u"256000"), 256000u);
    EXPECT_EQ(BaudFromText(u"  9600x"), 9600u);
    EXPECT_EQ(BaudFromText(u"fast"), 0u);
    EXPECT_EQ(BaudFromText(u""), 0u);
}

} // namespace
} // namespace terminal
