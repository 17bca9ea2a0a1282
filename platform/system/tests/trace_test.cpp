#include <platform/system/testing.h>
#include <platform/system/trace.h>

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace hh::sys {
namespace {

std::string Wide(const char16_t* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = FormatWideV(format, args);
    va_end(args);
    return text;
}

TEST(TraceFormat, WideFormatsAsTheDeviceDoes) {
    int count = 5;
    struct Case {
        std::string got;
        std::string expected;
    };
    const Case cases[] = {
        {Wide(u"dest:%s\r\n", u"NAV.EXE"), "dest:NAV.EXE\r\n"},
        {Wide(u"dele null:%s\r\n", u"\\SDMMC\\Größe"), "dele null:\\SDMMC\\Größe\r\n"},
        {Wide(u"[End Thread] HANDLE->%x ID->%0x\n", 0xBEEFu, 0x12u),
         "[End Thread] HANDLE->beef ID->12\n"},
        {Wide(u"%d|%5d|%-4d|%05u|%+d", -3, 42, 7, 9u, 1), "-3|   42|7   |00009|+1"},
        {Wide(u"%02X-", 0xAu), "0A-"},
        {Wide(u"%ld %lld %I64d %hd", 1L, -2LL, 3LL, 4), "1 -2 3 4"},
        {Wide(u"%hs/%S/%ls/%ws", "n1", "n2", u"w1", u"w2"), "n1/n2/w1/w2"},
        {Wide(u"%c%hc%C", u'\u00E9', 'a', 'b'), "\xC3\xA9"
                                                "ab"},
        {Wide(u"[%6s][%-6s][%.2s]", u"ab", u"ab", u"abcdef"), "[    ab][ab    ][ab]"},
        {Wide(u"[%*d][%-*d][%*d]", 4, 1, 3, 2, -3, 5), "[   1][2  ][5  ]"},
        {Wide(u"[%.s][%.*s][%.*s]", u"abc", 1, u"abc", -1, u"abc"), "[][a][abc]"},
        {Wide(u"%.3f %g", 1.5, 0.25), "1.500 0.25"},
        {Wide(u"100%% %s", nullptr), "100% (null)"},
        {Wide(u"%n|%s", &count, u"after"), "|after"},
        {Wide(u"%q"), "%q"},
        {Wide(u"trailing %"), "trailing "},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.got, c.expected);
    }
    EXPECT_EQ(count, 5) << "%n never writes";
}

TEST(TraceOutput, StandardOutputGetsTheFormattedText) {
    ::testing::internal::CaptureStdout();
    int narrow = TracePrintf("startup = %d\r\n", 1);
    int wide = TracePrintfW(u"terminate %s ok\r\n", u"NAV.EXE");
    std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "startup = 1\r\nterminate NAV.EXE ok\r\n");
    EXPECT_EQ(narrow, 13);
    EXPECT_EQ(wide, 22);
}

TEST(TraceOutput, DebugOutputGoesToStandardErrorOrTheNamedFile) {
    unsetenv("HANDHELD_DEBUG_LOG");
    ::testing::internal::CaptureStderr();
    OutputDebugStringW(u"~Thread WAIT_TIMEOUT\n");
    OutputDebugStringA("plain\n");
    DebugPrintf("n=%d\n", 3);
    OutputDebugStringW(nullptr);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "~Thread WAIT_TIMEOUT\nplain\nn=3\n");

    testing::TempDeviceRoot scratch(testing::RootLayout::Empty);
    ASSERT_TRUE(scratch.ok());
    const std::filesystem::path log = scratch.outside() / "debug.log";
    setenv("HANDHELD_DEBUG_LOG", log.c_str(), 1);
    ::testing::internal::CaptureStderr();
    OutputDebugStringW(u"first é\n");
    DebugPrintfW(u"second %s %d\n", u"wide", 2);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    unsetenv("HANDHELD_DEBUG_LOG");
    std::ifstream in(log);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}),
              "first \xC3\xA9\nsecond wide 2\n");
}

TEST(TraceOutput, UnwritableDebugLogFallsBackToStandardError) {
    setenv("HANDHELD_DEBUG_LOG", "/nonexistent-dir/debug.log", 1);
    ::testing::internal::CaptureStderr();
    OutputDebugStringA("kept\n");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "kept\n");
    unsetenv("HANDHELD_DEBUG_LOG");
}

} // namespace
} // namespace hh::sys
