#include "nmea_test_support.h"
#include "terminal/nmea/nmea.h"

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace terminal::nmea {
namespace {

using Texts = std::initializer_list<std::u16string_view>;

char16_t First(std::u16string_view text) {
    return text.empty() ? u'\0' : text[0];
}

// Expected groups, written in the order of the sentence's fields.
GgaInfo Gga(std::array<std::u16string_view, 10> f) {
    GgaInfo g{};
    Set(g.szTime, f[0]);
    Set(g.szLatitude, f[1]);
    g.chLatHemisphere = First(f[2]);
    Set(g.szLongitude, f[3]);
    g.chLonHemisphere = First(f[4]);
    g.chQuality = First(f[5]);
    Set(g.szSatsUsed, f[6]);
    Set(g.szHdop, f[7]);
    Set(g.szAltitude, f[8]);
    Set(g.szAltitudeUnit, f[9]);
    return g;
}

GsaInfo Gsa(std::u16string_view mode, std::u16string_view fix, Texts prns, std::u16string_view pdop,
            std::u16string_view hdop, std::u16string_view vdop) {
    GsaInfo g{};
    Set(g.szMode, mode);
    Set(g.szFixType, fix);
    int i = 0;
    for (auto prn : prns) {
        Set(g.szUsedPrn[i++], prn);
    }
    Set(g.szPdop, pdop);
    Set(g.szHdop, hdop);
    Set(g.szVdop, vdop);
    return g;
}

// Satellites as PRN, elevation, azimuth, SNR quadruples.
GsvRecord Gsv(std::u16string_view msgs, std::u16string_view no, std::u16string_view view,
              Texts sats) {
    GsvRecord r{};
    Set(r.szNumMessages, msgs);
    Set(r.szMessageNumber, no);
    Set(r.szInView, view);
    int i = 0;
    for (auto text : sats) {
        const int slot = i / 4;
        switch (i % 4) {
        case 0:
            Set(r.szPrn[slot], text);
            break;
        case 1:
            Set(r.szElevation[slot], text);
            break;
        case 2:
            Set(r.szAzimuth[slot], text);
            break;
        default:
            Set(r.szSnr[slot], text);
            break;
        }
        ++i;
    }
    return r;
}

RmcInfo Rmc(std::array<std::u16string_view, 12> f) {
    RmcInfo r{};
    Set(r.szTime, f[0]);
    r.chStatus = First(f[1]);
    Set(r.szLatitude, f[2]);
    r.chLatHemisphere = First(f[3]);
    Set(r.szLongitude, f[4]);
    r.chLonHemisphere = First(f[5]);
    Set(r.szSpeed, f[6]);
    Set(r.szCourse, f[7]);
    Set(r.szDate, f[8]);
    Set(r.szMagVariation, f[9]);
    r.chVariationDir = First(f[10]);
    r.chMode = First(f[11]);
    return r;
}

const char* const kCycle =
    "$GPGGA,092750.00,5321.6802,N,00630.3372,W,1,08,1.03,61.7,M,55.2,M,,*76\r\n"
    "$GPGSA,A,3,10,07,05,02,29,04,08,13,,,,,1.72,1.03,1.38*0A\r\n"
    "$GPGSV,3,1,11,10,63,137,17,07,61,098,15,05,59,290,20,08,54,157,30*70\r\n"
    "$GPGSV,3,2,11,02,39,223,19,13,28,070,17,26,23,252,,04,14,186,14*79\r\n"
    "$GPGSV,3,3,11,29,09,301,24,16,09,020,,36,,,*76\r\n"
    "$GPRMC,092750.00,A,5321.6802,N,00630.3372,W,0.02,31.66,280511,,,A*73\r\n";

NmeaState CycleState() {
    NmeaState s{};
    s.gga = Gga({u"092750.00", u"5321.6802", u"N", u"00630.3372", u"W", u"1", u"08", u"1.03",
                 u"61.7", u"M"});
    s.gsa = Gsa(u"A", u"3", {u"10", u"07", u"05", u"02", u"29", u"04", u"08", u"13"}, u"1.72",
                u"1.03", u"1.38");
    s.gsv[0] = Gsv(u"3", u"1", u"11",
                   {u"10", u"63", u"137", u"17", u"07", u"61", u"098", u"15", u"05", u"59", u"290",
                    u"20", u"08", u"54", u"157", u"30"});
    s.gsv[1] = Gsv(u"3", u"2", u"11",
                   {u"02", u"39", u"223", u"19", u"13", u"28", u"070", u"17", u"26", u"23", u"252",
                    u"", u"04", u"14", u"186", u"14"});
    s.gsv[2] =
        Gsv(u"3", u"3", u"11", {u"29", u"09", u"301", u"24", u"16", u"09", u"020", u"", u"36"});
    s.rmc = Rmc({u"092750.00", u"A", u"5321.6802", u"N", u"00630.3372", u"W", u"0.02", u"31.66",
                 u"280511", u"", u"", u"A"});
    return s;
}

std::string GsvLine(int no) {
    const std::string n = std::to_string(no);
    return "$GPGSV,4," + n + ",16,0" + n + ",40,083,46*00\r\n";
}

GsvRecord GsvOne(int no) {
    const std::u16string n = Widen(std::to_string(no));
    return Gsv(u"4", n, u"16", {u"0" + n, u"40", u"083", u"46"});
}

// The parser never reads checksums, so most sentences here carry "*00".
struct ChunkCase {
    const char* name;
    std::string chunk;
    std::function<NmeaState()> expected;
};

std::vector<ChunkCase> ChunkCases() {
    return {
        {"FullCycle", kCycle, CycleState},
        {"EmptyChunk", "", [] { return NmeaState{}; }},
        {"FourGsvFillThreeRecordsInOrder", GsvLine(1) + GsvLine(2) + GsvLine(3) + GsvLine(4),
         [] {
             NmeaState s{};
             s.gsv[0] = GsvOne(1);
             s.gsv[1] = GsvOne(2);
             s.gsv[2] = GsvOne(3);
             return s;
         }},
        {"OneGsvFillsRecordZeroOnly", GsvLine(2),
         [] {
             NmeaState s{};
             s.gsv[0] = GsvOne(2);
             return s;
         }},
        {"TwoGgaOnlyFirstUsed",
         "$GPGGA,000001.00,1111.0000,N,02222.0000,E,1,04,1.0,10.0,M,0,M,,*00\r\n"
         "$GPGGA,000002.00,3333.0000,S,04444.0000,W,2,09,2.0,20.0,M,0,M,,*00\r\n",
         [] {
             NmeaState s{};
             s.gga = Gga({u"000001.00", u"1111.0000", u"N", u"02222.0000", u"E", u"1", u"04",
                          u"1.0", u"10.0", u"M"});
             return s;
         }},
        {"GsaEmptyPrnSlotsKeepFieldOrder", "$GPGSA,A,3,04,05,,09,,,,,,,,,2.5,1.3,2.1*39\r\n",
         [] {
             NmeaState s{};
             s.gsa = Gsa(u"A", u"3", {u"04", u"05", u"", u"09"}, u"2.5", u"1.3", u"2.1");
             return s;
         }},
        {"GsaEmptyPdopLeavesDopsEmpty", "$GPGSA,A,1,,,,,,,,,,,,,,1.3,2.1*39\r\n",
         [] {
             NmeaState s{};
             s.gsa = Gsa(u"A", u"1", {}, u"", u"", u"");
             return s;
         }},
        {"GgaEmptyLatitudeKeepsOnlyTime", "$GPGGA,103015.00,,,,,0,00,99.99,,,,,,*48\r\n",
         [] {
             NmeaState s{};
             Set(s.gga.szTime, u"103015.00");
             return s;
         }},
        {"RmcEmptyLatitudeKeepsTimeAndStatus", "$GPRMC,103015.00,V,,,,,,,070419,,,N*7B\r\n",
         [] {
             NmeaState s{};
             Set(s.rmc.szTime, u"103015.00");
             s.rmc.chStatus = u'V';
             return s;
         }},
        {"RmcModeIsLastFieldBeforeStar",
         "$GPRMC,081836,A,3751.65,S,14507.36,E,000.0,360.0,130998,011.3,E,A*62\r\n",
         [] {
             NmeaState s{};
             s.rmc = Rmc({u"081836", u"A", u"3751.65", u"S", u"14507.36", u"E", u"000.0", u"360.0",
                          u"130998", u"011.3", u"E", u"A"});
             return s;
         }},
        {"RmcWithoutModeFieldEndsEarly",
         "$GPRMC,081836,A,3751.65,S,14507.36,E,000.0,360.0,130998,011.3,E*62\r\n",
         [] {
             NmeaState s{};
             s.rmc = Rmc({u"081836", u"A", u"3751.65", u"S", u"14507.36", u"E", u"000.0", u"360.0",
                          u"130998", u"011.3", u"E", u""});
             return s;
         }},
        {"MissingStarSkipsSentence",
         "$GPRMC,081836,A,3751.65,S,14507.36,E,000.0,360.0,130998,011.3,E,A\r\n"
         "$GPGGA,092750.00,5321.6802,N,00630",
         [] { return NmeaState{}; }},
        {"MissingStarParsedUpToLaterSentencesStar",
         "$GPGGA,111111.00,4807.038,N,01131.000,E,1,08,0.9\r\n$GPGSA,A,3,04*1D\r\n",
         [] {
             NmeaState s{};
             // The HDOP runs on into the next line and is cut to its 9 characters.
             s.gga = Gga({u"111111.00", u"4807.038", u"N", u"01131.000", u"E", u"1", u"08",
                          u"0.9\r\n$GPG", u"A", u"3"});
             s.gsa = Gsa(u"A", u"3", {u"04"}, u"", u"", u"");
             return s;
         }},
        {"ContinuationOfCutSentenceIsNotFound", "083,46,02,17,308,41*75\r\n$GPGSV,3,1,12,01,40,0",
         [] { return NmeaState{}; }},
        {"OverlongFieldsAreCut",
         "$GPGSV,4,1,16,101,45,1234,41,202,33,044,38*00\r\n"
         "$GPGGA,000000.000000000000000001,1234567890.1234567890123,N,12345678901.12345678901234,"
         "E,1,1234,12345678901,12345678901,MMMMMMMMMMMMMMMMMMMMMMMMMMMM,*00\r\n",
         [] {
             NmeaState s{};
             s.gsv[0] =
                 Gsv(u"4", u"1", u"16", {u"10", u"45", u"123", u"41", u"20", u"33", u"044", u"38"});
             s.gga =
                 Gga({u"000000.000000000000", u"1234567890.12345678", u"N", u"12345678901.1234567",
                      u"E", u"1", u"12", u"123456789", u"123456789", u"MMMMMMMMMMMMMMMMMMMMMMMM"});
             return s;
         }},
        {"LastGsvOfCycleEndsEarly", "$GPGSV,3,3,11,29,09,301,24,16,09,020,*76\r\n",
         [] {
             NmeaState s{};
             s.gsv[0] = Gsv(u"3", u"3", u"11", {u"29", u"09", u"301", u"24", u"16", u"09", u"020"});
             return s;
         }},
        {"HeaderWithoutCommaLeavesFieldsEmpty", "$GPGGA*00\r\n$GPGSV*00\r\n",
         [] { return NmeaState{}; }},
        {"OtherTalkersAreNotRecognised",
         "$GNGGA,000001.00,1111.0000,N,02222.0000,E,1,04,1.0,10.0,M,0,M,,*00\r\n"
         "$GLGSV,1,1,01,65,10,100,30*00\r\n$GNRMC,000001.00,A,1111.0000,N*00\r\n",
         [] { return NmeaState{}; }},
        {"SentencesFoundInAnyOrder",
         "$GPRMC,000003.00,V,,,,,,,010100,,,N*00\r\n$GPGSV,1,1,01,07,10,100,30*00\r\n"
         "$GPGSA,M,1,,,,,,,,,,,,,,,*00\r\n$GPGGA,000003.00,,,,,0,00,,,,,,,*00\r\n",
         [] {
             NmeaState s{};
             Set(s.rmc.szTime, u"000003.00");
             s.rmc.chStatus = u'V';
             s.gsv[0] = Gsv(u"1", u"1", u"01", {u"07", u"10", u"100", u"30"});
             Set(s.gsa.szMode, u"M");
             Set(s.gsa.szFixType, u"1");
             Set(s.gga.szTime, u"000003.00");
             return s;
         }},
        {"HexViewChunkHoldsNoSentence", "2447504747412C3132333531392C*\r\n",
         [] { return NmeaState{}; }},
    };
}

void PrintTo(const ChunkCase& c, std::ostream* os) {
    *os << c.name;
}

class ParseChunkTest : public ::testing::TestWithParam<ChunkCase> {};

TEST_P(ParseChunkTest, FillsExactlyTheExpectedFields) {
    NmeaContext ctx;
    ParseChunk(ctx, Widen(GetParam().chunk));
    EXPECT_EQ(ctx.m_nmea, GetParam().expected());
    EXPECT_EQ(ctx.m_nGsvIndex, 0);
}

INSTANTIATE_TEST_SUITE_P(Chunks, ParseChunkTest, ::testing::ValuesIn(ChunkCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ParseChunk, ClearNmeaForgetsThePreviousChunk) {
    NmeaContext ctx;
    ParseChunk(ctx, Widen(kCycle));
    ctx.m_nGsvIndex = 2;
    ClearNmea(ctx);
    EXPECT_EQ(ctx.m_nmea, NmeaState{});
    EXPECT_EQ(ctx.m_nGsvIndex, 0);
}

TEST(ParseChunk, WithoutClearingLaterChunksOverwriteOnlyWhatTheyHold) {
    NmeaContext ctx;
    ParseChunk(ctx, Widen(kCycle));
    ParseChunk(ctx, Widen(GsvLine(1)));
    NmeaState expected = CycleState();
    expected.gsv[0] = GsvOne(1);
    EXPECT_EQ(ctx.m_nmea, expected);
}

TEST(ParseGSV, FillsRecordsInTurnAndIgnoresSentencesBeyondTheLast) {
    NmeaContext ctx;
    for (int no = 1; no <= 5; ++no) {
        const std::u16string line = Widen(GsvLine(no));
        ParseGSV(ctx, line.substr(0, line.find(u'*') + 1));
    }
    EXPECT_EQ(ctx.m_nGsvIndex, kGsvRecords);
    EXPECT_EQ(ctx.m_nmea.gsv[0], GsvOne(1));
    EXPECT_EQ(ctx.m_nmea.gsv[1], GsvOne(2));
    EXPECT_EQ(ctx.m_nmea.gsv[2], GsvOne(3));

    ctx.m_nGsvIndex = -1;
    ParseGSV(ctx, u"$GPGSV,1,1,01,09,10,100,30*");
    EXPECT_EQ(ctx.m_nGsvIndex, -1);
    EXPECT_EQ(ctx.m_nmea.gsv[0], GsvOne(1));
}

TEST(ParseRMC, SentenceWithoutStarEndsAtItsEnd) {
    NmeaContext ctx;
    ParseRMC(ctx, u"$GPRMC,010203,A,1111.11,N,02222.22,W,1.0,2.0,311299,,,D");
    EXPECT_EQ(ctx.m_nmea.rmc, Rmc({u"010203", u"A", u"1111.11", u"N", u"02222.22", u"W", u"1.0",
                                   u"2.0", u"311299", u"", u"", u"D"}));
}

} // namespace
} // namespace terminal::nmea
