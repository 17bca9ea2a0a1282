// Drawing surfaces: retained drawing, text placement by the DT_ flags,
// background modes, fonts and the off-screen bitmap.

#include "window_fixture.h"

#include <QFontMetrics>
#include <QImage>

namespace hh::win::test {
namespace {

namespace t = hh::win::testing;

/// The bounding box of the pixels that are not white.
QRect Ink(const QImage& image) {
    QRect box;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if ((image.pixel(x, y) & 0xFFFFFF) != 0xFFFFFF) {
                box = box.united(QRect(x, y, 1, 1));
            }
        }
    }
    return box;
}

QImage Draw(std::u16string_view text, std::uint32_t flags, int* height = nullptr) {
    MemorySurface surface(200, 100);
    surface.FillRect(surface.ClientRect(), StockBrush::White);
    surface.SetBkMode(TRANSPARENT);
    surface.SelectFont(Font(LogFont{18, FW_BOLD, false, u"Arial"}));
    const int h = surface.DrawText(text, surface.ClientRect(), flags);
    if (height) {
        *height = h;
    }
    return surface.Image()->copy();
}

TEST_F(WindowTest, DrawTextPlacesTextByItsFlags) {
    struct Case {
        const char* what;
        std::uint32_t flags;
        std::function<void(const QRect&)> check;
    };
    const Case cases[] = {
        {"left top", DT_LEFT | DT_TOP,
         [](const QRect& ink) {
             EXPECT_LE(ink.left(), 3);
             EXPECT_LE(ink.top(), 8);
         }},
        {"centre", DT_CENTER, [](const QRect& ink) { EXPECT_NEAR(ink.center().x(), 100, 3); }},
        {"right", DT_RIGHT, [](const QRect& ink) { EXPECT_GE(ink.right(), 195); }},
        {"vertical centre", DT_CENTER | DT_VCENTER,
         [](const QRect& ink) { EXPECT_NEAR(ink.center().y(), 50, 4); }},
        {"bottom", DT_CENTER | DT_BOTTOM | DT_WORDBREAK,
         [](const QRect& ink) { EXPECT_GE(ink.bottom(), 90); }},
    };
    for (const Case& c : cases) {
        const QRect ink = Ink(Draw(u"Recovering", c.flags));
        ASSERT_FALSE(ink.isEmpty()) << c.what;
        c.check(ink);
    }
}

TEST_F(WindowTest, WordBreakWrapsAndSingleLineDoesNot) {
    int wrappedHeight = 0;
    int singleHeight = 0;
    const std::u16string text = u"All user's settings will be lost, continue?";
    const QRect wrapped = Ink(Draw(text, DT_CENTER | DT_WORDBREAK, &wrappedHeight));
    const QRect single = Ink(Draw(text, DT_CENTER | DT_SINGLELINE, &singleHeight));
    EXPECT_GT(wrapped.height(), single.height() * 3 / 2);
    EXPECT_GT(wrappedHeight, singleHeight);
    EXPECT_LE(wrapped.right(), 199);

    MemorySurface surface(200, 100);
    Rect measure{0, 0, 200, 0};
    surface.SelectFont(Font(LogFont{18, FW_BOLD, false, u"Arial"}));
    surface.DrawText(text, measure, DT_WORDBREAK | DT_CALCRECT);
    EXPECT_EQ(measure.bottom, wrappedHeight);
    EXPECT_LE(measure.right, 200);
}

TEST_F(WindowTest, DrawTextDrawsPastEveryControlCharacter) {
    for (char16_t c : {u'\x01', u'\x1F', u'\x7F', u'\x80', u'\x9C', u'\x9F'}) {
        const std::u16string head = u"A" + std::u16string(1, c);
        const QRect cut = Ink(Draw(head, DT_LEFT | DT_SINGLELINE));
        const QRect whole = Ink(Draw(head + u"WW", DT_LEFT | DT_SINGLELINE));
        EXPECT_GT(whole.right(), cut.right() + 10) << std::hex << int{c};
    }
}

TEST_F(WindowTest, BackgroundModeAndTextColour) {
    MemorySurface surface(100, 40);
    surface.FillRect(surface.ClientRect(), RGB(192, 192, 192));
    surface.SetTextColor(RGB(0, 0, 255));
    surface.SetBkColor(RGB(255, 255, 0));
    EXPECT_EQ(surface.SetBkMode(TRANSPARENT), OPAQUE);
    surface.DrawText(u"30", Rect{0, 0, 50, 14}, DT_CENTER);
    surface.SetBkMode(OPAQUE);
    surface.DrawText(u"30", Rect{50, 0, 100, 14}, DT_CENTER);
    const QImage& image = *surface.Image();
    bool blue = false;
    for (int x = 0; x < 50 && !blue; ++x) {
        for (int y = 0; y < 14 && !blue; ++y) {
            blue = qBlue(image.pixel(x, y)) > 200 && qRed(image.pixel(x, y)) < 60;
        }
    }
    EXPECT_TRUE(blue);
    auto yellow = [&](int from, int to) {
        int count = 0;
        for (int x = from; x < to; ++x) {
            for (int y = 0; y < 14; ++y) {
                count += (image.pixel(x, y) & 0xFFFFFF) == 0xFFFF00u;
            }
        }
        return count;
    };
    EXPECT_EQ(yellow(0, 50), 0);    // transparent: the background stays
    EXPECT_GT(yellow(50, 100), 20); // opaque: the text's box in the background colour
}

TEST_F(WindowTest, FontHeightsFollowTheLogicalFont) {
    const Font cell(LogFont{26, FW_BOLD, false, u"Arial"});
    EXPECT_NEAR(QFontMetrics(cell.QtFont()).height(), 26, 1);
    EXPECT_TRUE(cell.QtFont().bold());
    EXPECT_EQ(cell.QtFont().family(), QStringLiteral("Liberation Sans"));
    const Font character(LogFont{-20, FW_NORMAL, false, u"Arial"});
    EXPECT_EQ(character.QtFont().pixelSize(), 20);
    const Font points = Font::FromPointSize(200, u"\u5B8B\u4F53");
    EXPECT_EQ(points.QtFont().pixelSize(), 27);
    EXPECT_EQ(points.QtFont().family(), QStringLiteral("WenQuanYi Zen Hei"));
}

TEST_F(WindowTest, ControlSurfaceKeepsItsDrawingAcrossARepaint) {
    Recorder dialog(Tpl({Ctl(1034, u"STATIC", u"", 0, DluRect(0, 0, 12, 35))}));
    ASSERT_TRUE(dialog.Create(nullptr));
    dialog.ShowWindow(SW_SHOW);
    Control* pillar = dialog.GetDlgItem(1034);
    {
        Surface surface = pillar->GetDC();
        const Rect r = surface.ClientRect();
        surface.FillRect(r, RGB(192, 192, 192));
        surface.FillRect(Rect{0, r.bottom / 2, r.right, r.bottom}, RGB(255, 0, 0));
    }
    t::ProcessEvents();
    const QImage before = t::Grab(*pillar);
    pillar->Invalidate();
    pillar->UpdateWindow();
    pillar->SetWindowText(u"x");
    const QImage after = t::Grab(*pillar);
    for (const QImage* image : {&before, &after}) {
        EXPECT_EQ(image->pixel(2, 1) & 0xFFFFFF, 0xC0C0C0u);
        EXPECT_EQ(image->pixel(2, image->height() - 2) & 0xFFFFFF, 0xFF0000u);
    }
}

/// A dialog that draws its whole screen in the erase handler through an off-screen bitmap.
class Screen : public Dialog {
public:
    using Dialog::Dialog;
    int erases = 0;

protected:
    bool OnEraseBackground(Surface& window) override {
        ++erases;
        const Rect r = window.ClientRect();
        MemorySurface bitmap(r.Width(), r.Height());
        bitmap.FillRect(r, StockBrush::Black);
        bitmap.FillRect(r, StockBrush::White);
        bitmap.SetBkMode(TRANSPARENT);
        bitmap.SetTextColor(RGB(0, 0, 0));
        bitmap.SelectFont(Font(LogFont{28, FW_BOLD, false, u"Arial"}));
        bitmap.DrawText(u"Recovering....", Rect{0, 80, r.right, r.bottom / 2},
                        DT_CENTER | DT_VCENTER);
        window.BitBlt(0, 0, r.Width(), r.Height(), bitmap, 0, 0, SRCCOPY);
        return true;
    }
};

TEST_F(WindowTest, EraseHandlerCopiesAnOffscreenBitmapInOnePiece) {
    Screen screen(Tpl({}, WS_POPUP));
    ASSERT_TRUE(screen.Create(nullptr));
    screen.MoveWindow(0, 0, 480, 272);
    screen.ShowWindow(SW_SHOW);
    const QImage image = t::Grab(screen);
    EXPECT_GE(screen.erases, 1);
    EXPECT_EQ(image.pixel(5, 5) & 0xFFFFFF, 0xFFFFFFu);
    const QRect ink = Ink(image);
    ASSERT_FALSE(ink.isEmpty());
    EXPECT_NEAR(ink.center().x(), 240, 4);
    EXPECT_GE(ink.top(), 80);
    EXPECT_LE(ink.bottom(), 136);
}

} // namespace
} // namespace hh::win::test
