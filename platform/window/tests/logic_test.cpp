// Window-free rules: dialog units, font faces, edit positions and numbers, screen sizes.

#include <platform/window/dialog_template.h>
#include <platform/window/edit_selection.h>
#include <platform/window/screen.h>

#include <gtest/gtest.h>

namespace hh::win {
namespace {

TEST(DialogUnits, MapEachEdgeWithTheFontsBaseUnits) {
    struct Case {
        Rect dlu;
        BaseUnits units;
        Rect pixels;
    };
    const Case cases[] = {
        // 6 x 13 base units: x * 6 / 4 and y * 13 / 8, rounded half away from zero.
        {DluRect(0, 0, 205, 67), {6, 13}, Rect{0, 0, 308, 109}},
        {DluRect(0, 0, 12, 35), {6, 13}, Rect{0, 0, 18, 57}},
        {DluRect(23, 78, 69, 25), {6, 13}, Rect{35, 127, 138, 167}},
        {DluRect(1, 1, 1, 1), {5, 11}, Rect{1, 1, 3, 3}},
        {DluRect(0, 0, 116, 110), {7, 16}, Rect{0, 0, 203, 220}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DluToPixels(c.dlu, c.units), c.pixels);
    }
}

TEST(DialogUnits, AverageWidthAndPointSizeFollowTheWindowSystem) {
    EXPECT_EQ(AverageCharWidth(312), 6);  // 312 / 26 = 12 -> (12 + 1) / 2
    EXPECT_EQ(AverageCharWidth(286), 6);  // 11 -> 6
    EXPECT_EQ(AverageCharWidth(260), 5);  // 10 -> 5
    EXPECT_EQ(PointSizeToPixels(8), 11);  // 10.67 rounds up
    EXPECT_EQ(PointSizeToPixels(10), 13); // 13.33
    EXPECT_EQ(PointSizeToPixels(20), 27); // 26.67
}

TEST(DialogUnits, MulDivRoundsHalfAwayFromZero) {
    EXPECT_EQ(MulDiv(5, 3, 2), 8);
    EXPECT_EQ(MulDiv(-5, 3, 2), -8);
    EXPECT_EQ(MulDiv(1, 1, 0), -1);
}

TEST(FontFaces, NamedFacesMapToInstalledTwins) {
    struct Case {
        std::u16string_view named;
        std::u16string_view installed;
    };
    const Case cases[] = {
        {u"MS Shell Dlg", u"Liberation Sans"},
        {u"ms sans serif", u"Liberation Sans"},
        {u"Microsoft Sans Serif", u"Liberation Sans"},
        {u"Arial", u"Liberation Sans"},
        {u"\u5B8B\u4F53", u"WenQuanYi Zen Hei"},
        {u"Courier New", u"Liberation Mono"},
        {u"DejaVu Sans", u"DejaVu Sans"},
        {u"", u"Liberation Sans"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MapFontFace(c.named), c.installed);
    }
}

TEST(EditSelection, SetSelClampsAndKeepsTheCaretOnDeselect) {
    struct Case {
        long start;
        long end;
        std::size_t length;
        EditSelection current;
        EditSelection expected;
    };
    const Case cases[] = {
        {30000, 30000, 12, {}, {12, 12}}, // past the end: the end
        {0, -1, 12, {}, {0, 12}},         // everything
        {4, 2, 12, {}, {4, 2}},           // the caret may lie before the anchor
        {-1, 0, 12, {3, 7}, {7, 7}},      // deselect keeps the caret
        {5, 5, 0, {}, {0, 0}},            // empty text
        {2, 40, 10, {}, {2, 10}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ApplySetSel(c.start, c.end, c.length, c.current), c.expected)
            << c.start << "," << c.end;
    }
}

TEST(EditSelection, CrLfCountsTwoCharactersButShowsOne) {
    const std::u16string text = u"ab\r\ncd\r\n";
    struct Case {
        std::size_t crlf;
        std::size_t display;
    };
    const Case cases[] = {{0, 0}, {2, 2}, {3, 2}, {4, 3}, {6, 5}, {8, 6}, {99, 6}};
    for (const Case& c : cases) {
        EXPECT_EQ(CrLfToDisplayPos(text, c.crlf), c.display) << c.crlf;
    }
    EXPECT_EQ(DisplayToCrLfPos(text, 3), 4u);
    EXPECT_EQ(DisplayToCrLfPos(text, 6), 8u);
    EXPECT_EQ(CrLfToDisplay(text), u"ab\ncd\n");
    EXPECT_EQ(CrLfToDisplay(u"a\rb"), u"a\nb");
    EXPECT_EQ(DisplayToCrLf(u"ab\ncd"), u"ab\r\ncd");
}

TEST(DlgItemInt, ParsesLikeGetDlgItemInt) {
    struct Case {
        std::u16string_view text;
        bool isSigned;
        long value;
        bool ok;
    };
    const Case cases[] = {
        {u"1000", true, 1000, true},
        {u"  -25", true, -25, true},
        {u"-25", false, 0, false},
        {u"12ab", true, 0, false},
        {u"", true, 0, false},
        {u"2147483648", true, 0, false},
        {u"-2147483648", true, -2147483648L, true},
        {u"4294967295", false, 4294967295L, true},
        {u"7 ", true, 7, true},
    };
    for (const Case& c : cases) {
        bool ok = !c.ok;
        EXPECT_EQ(ParseDlgItemInt(c.text, c.isSigned, &ok), c.value);
        EXPECT_EQ(ok, c.ok);
    }
    EXPECT_EQ(FormatDlgItemInt(-12, true), u"-12");
    EXPECT_EQ(FormatDlgItemInt(-1, false), u"4294967295");
    EXPECT_EQ(FormatDlgItemInt(0, true), u"0");
}

TEST(ScreenSize, ReadsWidthByHeight) {
    struct Case {
        std::string_view text;
        bool ok;
        int width;
        int height;
    };
    const Case cases[] = {{"480x272", true, 480, 272}, {"800X480", true, 800, 480},
                          {"480", false, 0, 0},        {"x272", false, 0, 0},
                          {"480x", false, 0, 0},       {"480x272px", false, 0, 0},
                          {"10x10", false, 0, 0},      {"-480x272", false, 0, 0}};
    for (const Case& c : cases) {
        int w = 0;
        int h = 0;
        EXPECT_EQ(ParseScreenSize(c.text, &w, &h), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(w, c.width);
            EXPECT_EQ(h, c.height);
        }
    }
}

} // namespace
} // namespace hh::win
