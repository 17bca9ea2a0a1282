#include <terminal/core/receive_text.h>

#include <gtest/gtest.h>

#include <vector>

namespace terminal {
namespace {

TEST(ReceiveText, HexViewHasNoLeadingZerosOrSeparators) {
    const std::vector<uint8_t> bytes{0x0A, 0x80, 0xFF};
    EXPECT_EQ(HexChunkText(bytes), u"A80FF\r\n");
    EXPECT_EQ(HexChunkText(std::vector<uint8_t>{0x00, 0x01}), u"01\r\n");
    std::u16string out = u"x";
    AppendHexChunkText(std::vector<uint8_t>{0x10}, out);
    EXPECT_EQ(out, u"x10\r\n");
}

TEST(ReceiveText, TextViewEndsAtTheFirstZeroByte) {
    const std::vector<uint8_t> bytes{'a', 'b', 0, 'c'};
    EXPECT_EQ(BytesBeforeZero(bytes).size(), 2u);
    const std::vector<uint8_t> noZero{'a', 'b'};
    EXPECT_EQ(BytesBeforeZero(noZero).size(), 2u);
}

} // namespace
} // namespace terminal
