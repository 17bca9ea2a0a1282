#include <recovery/app/screens.h>

#include <gtest/gtest.h>

namespace recovery {
namespace {

TEST(LayoutFor, PlacesBarAndButtons) {
    struct Case {
        int width;
        int height;
        ScreenLayout expected;
    } cases[] = {
        {272, 480, {{10, 250, 252, 21}, {30, 140, 91, 50}, {151, 140, 91, 50}}},
        {480, 272, {{10, 146, 460, 21}, {30, 140, 195, 50}, {255, 140, 195, 50}}},
        {91, 11, {{10, 15, 71, 21}, {30, 140, 0, 50}, {60, 140, 0, 50}}},
    };
    for (const Case& c : cases) {
        ScreenLayout layout = LayoutFor(c.width, c.height, 21);
        EXPECT_EQ(layout.progress, c.expected.progress) << c.width;
        EXPECT_EQ(layout.no, c.expected.no) << c.width;
        EXPECT_EQ(layout.yes, c.expected.yes) << c.width;
        EXPECT_EQ(layout.yes.x - (layout.no.x + layout.no.width), 30) << "30 pixels apart";
    }
}

TEST(WarningBand, LiesBetweenTitleAndButtons) {
    struct Case {
        int width;
        int height;
        int titleBottom;
        Placement expected;
    } cases[] = {
        {272, 480, 66, {0, 80, 272, 60}},  // a one-line title ends above 80
        {272, 480, 92, {0, 92, 272, 48}},  // a wrapped title pushes it down
        {480, 272, 66, {0, 80, 480, 60}},  //
        {272, 480, 150, {0, 150, 272, 0}}, // no room left: an empty band, not a negative one
    };
    for (const Case& c : cases) {
        EXPECT_EQ(WarningBand(c.width, c.height, c.titleBottom), c.expected) << c.titleBottom;
    }
}

TEST(ScreenTexts, ProgressPercentTruncates) {
    struct Case {
        uint32_t copied;
        uint32_t total;
        std::u16string text;
    } cases[] = {
        {0, 0, u"Recovering...."},
        {5, 0, u"Recovering...."},
        {0, 3, u"Recovering Marolt...0%"},
        {1, 3, u"Recovering Marolt...33%"},
        {2, 3, u"Recovering Marolt...66%"},
        {3, 3, u"Recovering Marolt...100%"},
        {7, 9, u"Recovering Marolt...77%"},
        // Beyond 16 bits, and where copied * 100 needs more than 32 bits.
        {65536, 70000, u"Recovering Marolt...93%"},
        {4000000000u, 4000000000u, u"Recovering Marolt...100%"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ProgressText(c.copied, c.total), c.text) << c.copied << "/" << c.total;
    }
}

TEST(ScreenTexts, MessagesCarryTheirNumbers) {
    EXPECT_EQ(CountdownText(5), u"Restart in 5 s");
    EXPECT_EQ(CountdownText(0), u"Restart in 0 s");
    EXPECT_EQ(RecoverFailedText(0), u"Recover failed(0)!Press OK to reboot.");
    EXPECT_EQ(RecoverFailedText(112), u"Recover failed(112)!Press OK to reboot.");
    EXPECT_EQ(RecoverFailedText(0xFFFFFFFFu), u"Recover failed(-1)!Press OK to reboot.");
    EXPECT_EQ(FlagFailedText(2), u"Recover flag failed(2),nothing was changed.");
}

} // namespace
} // namespace recovery
