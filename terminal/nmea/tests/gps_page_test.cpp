#include "nmea_test_support.h"
#include "terminal/nmea/gps_page.h"
#include "terminal/nmea/nmea.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace terminal::nmea {
namespace {

constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
constexpr int32_t kMin = std::numeric_limits<int32_t>::min();

TEST(FieldValue, ReadsDecimalPrefixLikeTheCRuntime) {
    const struct {
        const char16_t* text;
        int32_t value;
    } cases[] = {
        {u"", 0},
        {u"0", 0},
        {u"42", 42},
        {u"07", 7},
        {u"  7", 7},
        {u"+3", 3},
        {u"-5", -5},
        {u"12abc", 12},
        {u"abc", 0},
        {u"-", 0},
        {u"1.5", 1},
        {u"99999999999", kMax},
        {u"-99999999999", kMin},
        {u"2147483647", kMax},
        {u"-2147483648", kMin},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FieldValue(c.text), c.value) << Narrow(c.text);
    }
}

TEST(FormatPosition, InsertsDegreeSignAndMinuteMark) {
    const struct {
        char16_t hemisphere;
        const char16_t* text;
        std::u16string latitude;
        std::u16string longitude;
    } cases[] = {
        {u'N', u"4807.0380", u"N48\u00B007.0380'", u"N48\u00B007.0380'"},
        {u'E', u"01131.0000", u"E01\u00B0131.0000'", u"E011\u00B031.0000'"},
        {u'S', u"3751.65", u"S37\u00B051.65'", u"S37\u00B051.65'"},
        // Too short for the position: the sign goes to the end or the front.
        {u'N', u"1", u"N1\u00B0'", u"\u00B0N1'"},
        {u'W', u"1.5", u"W1.\u00B05'", u"\u00B0W1.5'"},
        {u'E', u"01131", u"E01\u00B0131'", u"\u00B0E01131'"},
        {u'\0', u"", u"\u00B0'", u"\u00B0'"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FormatLatitude(c.hemisphere, c.text), c.latitude) << Narrow(c.text);
        EXPECT_EQ(FormatLongitude(c.hemisphere, c.text), c.longitude) << Narrow(c.text);
    }
}

TEST(FormatTimeDate, ColonsAfterHoursAndMinutes) {
    const struct {
        const char16_t* time;
        const char16_t* date;
        std::u16string text;
    } cases[] = {
        {u"081836.00", u"130998", u"08:18:36 130998"},
        {u"081836", u"130998", u"08:18:36 130998"},
        {u"0818", u"010100", u"08:18: 010100"},
        {u"0", u"", u"0:: "},
        {u"", u"", u":: "},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FormatTimeDate(c.time, c.date), c.text) << Narrow(c.time);
    }
}

TEST(BarTop, ScalesSnrToPillarHeight) {
    const struct {
        int32_t height, snr, top;
    } cases[] = {
        {35, 30, 17}, {35, 45, 8}, {35, 59, 0},  {35, 60, 0}, {35, 99, 0},   {35, 0, 35},
        {35, -5, 35}, {35, 1, 34}, {70, 30, 35}, {0, 30, 0},  {35, kMax, 0}, {35, kMin, 35},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(BarTop(c.height, c.snr), c.top) << c.height << " px, SNR " << c.snr;
    }
}

using P = PillarPaint;

struct WalkCase {
    const char* name;
    std::string chunk;
    std::vector<std::u16string> prns; ///< pillars drawn, in order
    std::vector<PillarPaint> paints;
    bool stopTtff;
    std::u16string fixLabel;
};

const char* const kGga =
    "$GPGGA,092750.00,5321.6802,N,00630.3372,W,1,08,1.03,61.7,M,55.2,M,,*76\r\n";
const char* const kRmc = "$GPRMC,092750.00,A,5321.6802,N,00630.3372,W,0.02,31.66,280511,,,A*73\r\n";
const char* const kGsv1 =
    "$GPGSV,3,1,11,10,63,137,17,07,61,098,15,05,59,290,20,08,54,157,30*70\r\n";
const char* const kGsv2 = "$GPGSV,3,2,11,02,39,223,19,13,28,070,17,26,23,252,,04,14,186,14*79\r\n";
const char* const kGsv3 = "$GPGSV,3,3,11,29,09,301,24,16,09,020,,36,,,*76\r\n";

std::string Gsa(const std::string& fix, const std::string& used) {
    return "$GPGSA,A," + fix + "," + used + ",1.72,1.03,1.38*0A\r\n";
}

std::vector<WalkCase> WalkCases() {
    const std::string cycle = std::string(kGsv1) + kGsv2 + kGsv3 + kRmc + kGga;
    const std::vector<std::u16string> eleven = {u"10", u"07", u"05", u"08", u"02", u"13",
                                                u"26", u"04", u"29", u"16", u"36"};
    const std::string used8 = "10,07,05,02,29,04,08,13,,,,";
    return {
        {"ThreeDFixUsedSatellitesRed",
         cycle + Gsa("3", used8),
         eleven,
         {P::Fix3D, P::Fix3D, P::Fix3D, P::Fix3D, P::Fix3D, P::Fix3D, P::NoFix, P::Fix3D, P::Fix3D,
          P::NoFix, P::NoFix},
         true,
         u"3D"},
        {"TwoDFixUsedSatellitesYellow",
         cycle + Gsa("2", "10,07,05,,,,,,,,,"),
         eleven,
         {P::Fix2D, P::Fix2D, P::Fix2D, P::NoFix, P::NoFix, P::NoFix, P::NoFix, P::NoFix, P::NoFix,
          P::NoFix, P::NoFix},
         true,
         u"2D"},
        {"NoFixAllGrey", cycle + Gsa("1", ",,,,,,,,,,,"), eleven,
         std::vector<PillarPaint>(11, P::NoFix), false, u"NA"},
        {"WithoutGsaNoBarsAndFixLabelKept", cycle, eleven, std::vector<PillarPaint>(11, P::NoBar),
         false, u""},
        {"FullUsedListWithoutMatchDrawsNoBar",
         std::string(kGsv1) + Gsa("3", "21,22,23,24,25,26,27,28,29,30,31,32"),
         {u"10", u"07", u"05", u"08"},
         {P::NoBar, P::NoBar, P::NoBar, P::NoBar},
         true,
         u"3D"},
        {"UsedEntryContainingPrnCountsAsUsed",
         "$GPGSV,1,1,02,1,40,083,46,3,17,308,41*00\r\n" + Gsa("3", "12,,,,,,,,,,,"),
         {u"1", u"3"},
         {P::Fix3D, P::NoFix},
         true,
         u"3D"},
        {"RecordZeroSaysThreeMessagesButOnlyOnePresent",
         std::string(kGsv1) + Gsa("3", used8),
         {u"10", u"07", u"05", u"08"},
         {P::Fix3D, P::Fix3D, P::Fix3D, P::Fix3D},
         true,
         u"3D"},
        {"FourteenInViewShowsTwelvePillars",
         "$GPGSV,4,1,14,01,40,083,46,02,17,308,41,03,07,344,39,04,22,228,45*00\r\n"
         "$GPGSV,4,2,14,05,40,083,46,06,17,308,41,07,07,344,39,08,22,228,45*00\r\n"
         "$GPGSV,4,3,14,09,40,083,46,10,17,308,41,11,07,344,39,12,22,228,45*00\r\n"
         "$GPGSV,4,4,14,13,40,083,46,14,17,308,41*00\r\n" +
             Gsa("1", ",,,,,,,,,,,"),
         {u"01", u"02", u"03", u"04", u"05", u"06", u"07", u"08", u"09", u"10", u"11", u"12"},
         std::vector<PillarPaint>(12, P::NoFix),
         false,
         u"NA"},
        {"InViewBoundsTheWalk",
         "$GPGSV,1,1,02,01,40,083,46,02,17,308,41,03,07,344,39*00\r\n",
         {u"01", u"02"},
         {P::NoBar, P::NoBar},
         false,
         u""},
        {"ShortRecordMovesOnToTheNext",
         "$GPGSV,2,1,05,01,40,083,46,02,17,308,41*00\r\n"
         "$GPGSV,2,2,05,03,40,083,46,04,17,308,41,05,07,344,39*00\r\n" +
             Gsa("1", ",,,,,,,,,,,"),
         {u"01", u"02", u"03", u"04", u"05"},
         std::vector<PillarPaint>(5, P::NoFix),
         false,
         u"NA"},
        {"NoGsvDrawsNothingAndKeepsFixLabel",
         std::string(kGga) + Gsa("3", used8),
         {},
         {},
         false,
         u""},
        {"NoSatellitesInViewDrawsNothing",
         "$GPGSV,1,1,00*79\r\n" + Gsa("1", ",,,,,,,,,,,"),
         {},
         {},
         false,
         u""},
        {"HexViewChunkDrawsNothing", "2447504753562C31*\r\n", {}, {}, false, u""},
    };
}

void PrintTo(const WalkCase& c, std::ostream* os) {
    *os << c.name;
}

class WalkPillarsTest : public ::testing::TestWithParam<WalkCase> {};

TEST_P(WalkPillarsTest, PutsSatellitesOnPillars) {
    const WalkCase& c = GetParam();
    NmeaContext ctx;
    ParseChunk(ctx, Widen(c.chunk));
    const PillarWalk walk = WalkPillars(ctx.m_nmea, 35);

    ASSERT_EQ(c.prns.size(), c.paints.size());
    ASSERT_EQ(walk.drawn, static_cast<int32_t>(c.prns.size()));
    for (int32_t p = 0; p < kPillars; ++p) {
        const PillarDraw& pillar = walk.pillars[p];
        if (p < walk.drawn) {
            EXPECT_EQ(pillar.prn, c.prns[p]) << "pillar " << p;
            EXPECT_EQ(pillar.paint, c.paints[p]) << "pillar " << p;
        } else {
            EXPECT_EQ(pillar.paint, P::Untouched) << "pillar " << p;
        }
    }
    EXPECT_EQ(walk.stopTtff, c.stopTtff);
    EXPECT_EQ(walk.fixLabel, c.fixLabel);
    EXPECT_EQ(walk.setStatus, walk.drawn > 0);
}

INSTANTIATE_TEST_SUITE_P(Chunks, WalkPillarsTest, ::testing::ValuesIn(WalkCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(WalkPillars, FixedCycleSetsEveryLabel) {
    NmeaContext ctx;
    ParseChunk(ctx, Widen(std::string(kGga) + Gsa("3", "10,07,05,02,29,04,08,13,,,,") + kGsv1 +
                          kGsv2 + kGsv3 + kRmc));
    const PillarWalk walk = WalkPillars(ctx.m_nmea, 35);

    EXPECT_EQ(walk.fix, 3);
    EXPECT_TRUE(walk.setStatus);
    EXPECT_EQ(walk.inView, u"11");
    EXPECT_EQ(walk.used, u"08");
    EXPECT_EQ(walk.pdop, u"1.72");
    EXPECT_EQ(walk.hdop, u"1.03");
    EXPECT_EQ(walk.vdop, u"1.38");
    EXPECT_TRUE(walk.setPosition);
    EXPECT_EQ(walk.latitude, u"N53\u00B021.6802'");
    EXPECT_EQ(walk.longitude, u"W006\u00B030.3372'");
    EXPECT_EQ(walk.timeDate, u"09:27:50 280511");
    // SNR 17, 15, 20, 30 on 35 px; the empty SNR of PRN 26 draws no bar.
    EXPECT_EQ(walk.pillars[0].snr, u"17");
    EXPECT_EQ(walk.pillars[0].barTop, 25);
    EXPECT_EQ(walk.pillars[3].barTop, 17);
    EXPECT_EQ(walk.pillars[6].snr, u"");
    EXPECT_EQ(walk.pillars[6].barTop, 35);
}

// Without a latitude the RMC parser stops before the date.
TEST(WalkPillars, NoFixShowsTimeButNoPosition) {
    NmeaContext ctx;
    ParseChunk(ctx, Widen(std::string(kGsv1) + Gsa("1", ",,,,,,,,,,,") +
                          "$GPRMC,103015.00,V,,,,,,,070419,,,N*7B\r\n"));
    const PillarWalk walk = WalkPillars(ctx.m_nmea, 35);

    EXPECT_TRUE(walk.setStatus);
    EXPECT_FALSE(walk.setPosition);
    EXPECT_EQ(walk.latitude, u"");
    EXPECT_EQ(walk.timeDate, u"10:30:15 ");
    EXPECT_EQ(walk.used, u"");
}

} // namespace
} // namespace terminal::nmea
