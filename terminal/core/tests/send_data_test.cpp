#include <terminal/core/send_data.h>

#include <gtest/gtest.h>

namespace terminal {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(SendData, HexPairsBecomeBytesAndAnOddLastCharacterIsIgnored) {
    EXPECT_EQ(HexSendBytes(u"1A2B3"), (Bytes{0x1A, 0x2B}));
    EXPECT_EQ(HexSendBytes(u"ff00"), (Bytes{0xFF, 0x00}));
    EXPECT_EQ(HexSendBytes(u"7"), Bytes{});
    // Leading hexadecimal digits count, like strtoul on "0x" + pair.
    EXPECT_EQ(HexSendBytes(u"1GG1"), (Bytes{0x01, 0x00}));
}

TEST(SendData, EndingsFollowTheDataInTheirFixedOrder) {
    const Bytes ab{0x41, 0x42};
    EXPECT_EQ(BuildSendBuffer(ab, false, {false, true, false}), (Bytes{0x41, 0x42, 0x0D, 0x0A}));
    EXPECT_EQ(BuildSendBuffer({}, false, {true, true, true}), (Bytes{0x1A, 0x0D, 0x0A, 0x1B}));
    EXPECT_EQ(BuildSendBuffer(ab, true, {}), ab);
}

TEST(SendData, DataAndEndingsNeverOverflowTheSendBuffer) {
    const Bytes big(5000, 0x55);
    // Text sends keep 1022 bytes, so CR LF still fits.
    auto text = BuildSendBuffer(big, false, {false, true, false});
    EXPECT_EQ(text.size(), kSendBufferSize);
    EXPECT_EQ(text[1021], 0x55);
    EXPECT_EQ(text[1022], 0x0D);
    auto allEndings = BuildSendBuffer(big, false, {true, true, true});
    EXPECT_EQ(allEndings.size(), kSendBufferSize);
    EXPECT_EQ(allEndings.back(), 0x1B);
    // Hexadecimal data fills the buffer up to the endings.
    auto hex = BuildSendBuffer(big, true, {true, false, false});
    EXPECT_EQ(hex.size(), kSendBufferSize);
    EXPECT_EQ(hex.back(), 0x1A);
    EXPECT_EQ(BuildSendBuffer(big, true, {}).size(), kSendBufferSize);
}

TEST(SendData, WCountsTheTextCharactersNotTheBytes) {
    EXPECT_EQ(SentCharacterCount(u"1A2B3"), 5);
    EXPECT_EQ(SentCharacterCount(u"AB"), 2);
}

} // namespace
} // namespace terminal
