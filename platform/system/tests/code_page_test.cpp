#include <platform/system/code_page.h>
#include <platform/system/error.h>

#include <gtest/gtest.h>
#include <iconv.h>

#include <cstdlib>
#include <string>

using namespace std::string_literals;

namespace hh::sys {
namespace {

// Sets HANDHELD_CODEPAGE for one test and restores the default afterwards.
class CodePageTest : public ::testing::Test {
protected:
    void TearDown() override { unsetenv("HANDHELD_CODEPAGE"); }
    void use(const char* name) { setenv("HANDHELD_CODEPAGE", name, 1); }
    static bool available(const char* iconvName) {
        iconv_t cd = iconv_open("UTF-16LE", iconvName);
        if (cd == reinterpret_cast<iconv_t>(-1)) {
            return false;
        }
        iconv_close(cd);
        return true;
    }
};

std::string Bytes(std::initializer_list<unsigned> values) {
    std::string out;
    for (unsigned v : values) {
        out += static_cast<char>(v);
    }
    return out;
}

TEST_F(CodePageTest, Windows1252ByteTable) {
    struct Case {
        unsigned byte;
        char16_t wide;
    };
    // Defined bytes, and the five the code page leaves undefined, which the
    // device maps to the control points of the same number.
    const Case cases[] = {
        {0x00, 0x0000}, {0x41, u'A'},   {0x7F, 0x007F}, {0x80, 0x20AC}, {0x81, 0x0081},
        {0x8A, 0x0160}, {0x8D, 0x008D}, {0x8F, 0x008F}, {0x90, 0x0090}, {0x9D, 0x009D},
        {0x9F, 0x0178}, {0xA0, 0x00A0}, {0xE9, 0x00E9}, {0xFF, 0x00FF},
    };
    EXPECT_EQ(GetACP(), 1252u);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.byte);
        std::string byte(1, static_cast<char>(c.byte));
        EXPECT_EQ(AnsiToWide(byte), std::u16string(1, c.wide));
        bool used = true;
        EXPECT_EQ(WideToAnsi(std::u16string(1, c.wide), &used), byte);
        EXPECT_FALSE(used);
    }
}

TEST_F(CodePageTest, EverySingleByteCodePageRoundTrips) {
    for (const char* name : {"1252", "1251", "WINDOWS-1250", "CP1253"}) {
        SCOPED_TRACE(name);
        use(name);
        std::string all;
        for (unsigned b = 0; b < 256; ++b) {
            all += static_cast<char>(b);
        }
        std::u16string wide = AnsiToWide(all);
        ASSERT_EQ(wide.size(), 256u);
        bool used = true;
        EXPECT_EQ(WideToAnsi(wide, &used), all);
        EXPECT_FALSE(used);
    }
}

TEST_F(CodePageTest, ReplacementForWhatTheCodePageCannotHold) {
    struct Case {
        const char* codePage;
        std::u16string text;
        std::string expected;
    };
    const Case cases[] = {
        {"1252", u"a\u0100b", "a?b"},
        {"1252", u"\u4E2D\u6587", "??"},
        {"1252", u"x\U0001F600y", "x?y"}, // a surrogate pair is one character
        {"1252", std::u16string{u'a', char16_t(0xD800), u'b'}, "a?b"}, // a lone half
        {"1251", u"\u0416\u00E9", Bytes({0xC6, '?'})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.codePage);
        use(c.codePage);
        bool used = false;
        EXPECT_EQ(WideToAnsi(c.text, &used), c.expected);
        EXPECT_TRUE(used);
    }
}

TEST_F(CodePageTest, ZeroBytesEndTheTextOnlyWhenAsked) {
    std::string chunk = Bytes({'A', 'B', 0, 'C'});
    EXPECT_EQ(AnsiToWide(chunk), (std::u16string{u'A', u'B', 0, u'C'}));
    EXPECT_EQ(AnsiToWide(chunk, StopAt::FirstZero), u"AB");
    EXPECT_EQ(AnsiToWide(Bytes({0, 'x'}), StopAt::FirstZero), u"");
    EXPECT_EQ(AnsiToWide("no zero", StopAt::FirstZero), u"no zero");
}

TEST_F(CodePageTest, WindowsShapedFunctionsAndTheirSizes) {
    char16_t wide[8] = {};
    // -1 converts up to and including the terminating zero.
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "\x80x", -1, nullptr, 0), 3);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "\x80x", -1, wide, 8), 3);
    EXPECT_EQ(std::u16string(wide), u"\u20ACx");
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", 2, wide, 8), 2);

    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abcdef", 6, wide, 3), 0);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    for (int size : {0, -2}) {
        SetLastError(0);
        EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", size, wide, 8), 0);
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    }
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, nullptr, 3, wide, 8), 0);
    EXPECT_EQ(MultiByteToWideChar(12345, 0, "abc", 3, wide, 8), 0);

    char bytes[8] = {};
    int used = 0;
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"\u20AC\u0100", -1, bytes, 8, nullptr, &used), 3);
    EXPECT_EQ(std::string(bytes), "\x80?");
    EXPECT_EQ(used, 1);
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"\u0100", 1, bytes, 8, "#", &used), 1);
    EXPECT_EQ(bytes[0], '#');
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"\u00E9", 1, nullptr, 0, nullptr, nullptr), 2);
    EXPECT_EQ(WideCharToMultiByte(1251, 0, u"\u0416", 1, bytes, 8, nullptr, nullptr), 1);
    EXPECT_EQ(static_cast<unsigned char>(bytes[0]), 0xC6);
    SetLastError(0);
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"abcdef", 6, bytes, 2, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
}

TEST_F(CodePageTest, ChineseCodePage936) {
    if (!available("CP936")) {
        GTEST_SKIP() << "iconv has no CP936 on this host";
    }
    use("936");
    EXPECT_EQ(GetACP(), 936u);
    std::string zhongwen = Bytes({0xD6, 0xD0, 0xCE, 0xC4});
    EXPECT_EQ(AnsiToWide(zhongwen), u"\u4E2D\u6587");
    EXPECT_EQ(WideToAnsi(u"\u4E2D\u6587A"), zhongwen + "A");
    // An invalid byte and a lead byte cut off at the end become '?'; the rest stays.
    EXPECT_EQ(AnsiToWide(Bytes({'a', 0xFF, 'b', 0xD6})), u"a?b?");
    EXPECT_EQ(AnsiToWide(zhongwen + Bytes({0, 'z'})), u"\u4E2D\u6587\0z"s);
    bool used = false;
    EXPECT_EQ(WideToAnsi(u"\u00C5\U0001F600", &used), "??");
    EXPECT_TRUE(used);
    // A long text needs more room than the first guess.
    std::u16string longText(5000, u'\u4E2D');
    EXPECT_EQ(AnsiToWide(WideToAnsi(longText)), longText);
}

TEST_F(CodePageTest, NamesAndUnknownCodePages) {
    struct Case {
        const char* setting;
        uint32_t acp;
    };
    const Case cases[] = {
        {"WINDOWS-1251", 1251}, {"cp1250", 1250}, {"1253", 1253}, {"NO-SUCH-PAGE", 1252}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.setting);
        use(c.setting);
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(GetACP(), c.acp);
        std::string message = ::testing::internal::GetCapturedStderr();
        if (std::string(c.setting) == "NO-SUCH-PAGE") {
            EXPECT_NE(message.find("NO-SUCH-PAGE"), std::string::npos) << message;
            EXPECT_EQ(AnsiToWide("\x80"), u"\u20AC") << "falls back to Windows-1252";
        }
    }
}

TEST_F(CodePageTest, Utf8Conversions) {
    struct Case {
        std::string utf8;
        std::u16string utf16;
    };
    const Case cases[] = {
        {"abc", u"abc"},
        {"\xC3\xA9\xE2\x82\xAC", u"\u00E9\u20AC"},
        {"\xF0\x9F\x98\x80", u"\U0001F600"},
        {"a\xFF"
         "b",
         u"a\uFFFDb"},
        {"\xC0\xAF", u"\uFFFD\uFFFD"},           // overlong
        {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"}, // an encoded surrogate
        {"\xE2\x82", u"\uFFFD\uFFFD"},           // cut off
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Utf8ToUtf16(c.utf8), c.utf16) << c.utf8;
    }
}

// The one conversion from UTF-16 to UTF-8 of the platform (named objects,
// traces, CE paths and devctl all use it): pairs become one character, a
// surrogate without its partner becomes U+FFFD.
TEST(CodePage, Utf16ToUtf8JoinsSurrogatePairsAndReplacesLoneSurrogates) {
    const char16_t high = 0xD83D;
    const char16_t low = 0xDE00;
    struct Case {
        std::u16string utf16;
        std::string utf8;
    };
    const Case cases[] = {
        {u"abc", "abc"},
        {u"\u00E9\u20AC\uFFFF", "\xC3\xA9\xE2\x82\xAC\xEF\xBF\xBF"},
        {{high, low}, "\xF0\x9F\x98\x80"},
        {u"\U0010FFFF", "\xF4\x8F\xBF\xBF"},
        {u"\U00010000", "\xF0\x90\x80\x80"},
        {{u'a', high}, "a\xEF\xBF\xBD"},                     // high at the end
        {{high, u'x'}, "\xEF\xBF\xBDx"},                     // high before a non-surrogate
        {{low, u'x'}, "\xEF\xBF\xBDx"},                      // low alone
        {{low, high}, "\xEF\xBF\xBD\xEF\xBF\xBD"},           // the wrong order
        {{high, high, low}, "\xEF\xBF\xBD\xF0\x9F\x98\x80"}, // a high before a pair
        {{u'\0', u'z'}, std::string("\0z", 2)},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Utf16ToUtf8(c.utf16), c.utf8);
    }
}

} // namespace
} // namespace hh::sys
