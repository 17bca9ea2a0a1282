#include <terminal/core/capture_name.h>

#include <gtest/gtest.h>

namespace terminal {
namespace {

TEST(CaptureName, TimestampHasNoLeadingZeros) {
    struct Case {
        LocalTime time;
        std::u16string_view expected;
    };
    const Case cases[] = {
        {{2011, 1, 5, 9, 3, 7}, u"2011-1-5_9-3-7"},
        {{2024, 12, 31, 23, 59, 59}, u"2024-12-31_23-59-59"},
        {{2000, 10, 1, 0, 0, 0}, u"2000-10-1_0-0-0"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FormatTimestamp(c.time), c.expected);
    }
}

TEST(CaptureName, FileNameSitsInTheProgramFolder) {
    const LocalTime time{2011, 1, 5, 9, 3, 7};
    EXPECT_EQ(BuildSaveFileName(ProgramDirOf(u"\\SDMMC\\VARDI\\VARDI.exe"), time),
              u"\\SDMMC\\VARDI\\SAVE2011-1-5_9-3-7.txt");
    // A path that cannot be read leaves the folder empty.
    EXPECT_EQ(BuildSaveFileName(ProgramDirOf(u""), time), u"SAVE2011-1-5_9-3-7.txt");
    EXPECT_EQ(ProgramDirOf(u"VARDI.exe"), u"");
    EXPECT_EQ(ProgramDirOf(u"\\VARDI.exe"), u"\\");
}

TEST(CaptureName, CurrentTimeIsAPlausibleCalendarDate) {
    const LocalTime now = CurrentLocalTime();
    EXPECT_GE(now.year, 2020);
    EXPECT_GE(now.month, 1);
    EXPECT_LE(now.month, 12);
    EXPECT_GE(now.day, 1);
    EXPECT_LE(now.day, 31);
    EXPECT_LE(now.second, 60);
}

} // namespace
} // namespace terminal
