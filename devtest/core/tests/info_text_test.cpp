#include <devtest/core/info_text.h>

#include <gtest/gtest.h>

namespace devtest {
namespace {

constexpr std::array<uint8_t, 16> kCounting = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                                               0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};

TEST(InfoText, WholeTextWithCardLine) {
    DeviceInfo info;
    info.uuid = {'A', 'B', 'C', 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    info.oem = u"Vekta V5520";
    info.platform = u"PocketPC";
    info.osVersion = u"CE 6.0\nBuild 7";
    info.cardId = kCounting;
    EXPECT_EQ(BuildInfoText(info), u"uuid:4142430001020304\r\n05060708090A0B0C"
                                   u"\r\nuuid(ASCII):ABC"
                                   u"\r\nOEM:Vekta V5520"
                                   u"\r\nPlatformType:PocketPC"
                                   u"\r\nOSVersion:CE 6.0\nBuild 7"
                                   u"\r\nCard SerialID:001122334455\r\n66778899AABBCCDDEEFF");
}

TEST(InfoText, FailedQueriesLeaveEmptyItemsAndNoCardLine) {
    struct Row {
        DeviceInfo info;
        std::u16string want;
    };
    DeviceInfo zeroFirst;
    zeroFirst.uuid = kCounting;
    const Row rows[] = {
        {DeviceInfo{}, u"uuid:\r\nuuid(ASCII):\r\nOEM:\r\nPlatformType:\r\nOSVersion:"},
        {zeroFirst, u"uuid:0011223344556677\r\n8899AABBCCDDEEFF\r\nuuid(ASCII):\r\nOEM:"
                    u"\r\nPlatformType:\r\nOSVersion:"},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(BuildInfoText(r.info), r.want);
    }
}

TEST(InfoText, AsciiCopyEndsAtTheFirstZeroOrAfterSixteen) {
    std::array<uint8_t, 16> full;
    full.fill('x');
    EXPECT_EQ(UuidAscii(full), u"xxxxxxxxxxxxxxxx");
    EXPECT_EQ(UuidAscii({0xE9, 'a', 0}), u"\u00E9a");
}

TEST(InfoText, CardTraceAndBufferTexts) {
    EXPECT_EQ(CardIdTrace(kCounting), "00-11-22-33-44-55-66-77-88-99-AA-BB-CC-DD-EE-FF-");
    const char16_t terminated[8] = u"abc";
    EXPECT_EQ(TextOfBuffer(terminated), u"abc");
    const char16_t unterminated[3] = {u'x', u'y', u'z'};
    EXPECT_EQ(TextOfBuffer(unterminated), u"xyz");
}

} // namespace
} // namespace devtest
