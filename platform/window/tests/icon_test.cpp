// Icon resources and a window's large and small icon: what the desktop shows
// for a program's window.

#include "window_fixture.h"

#include <platform/window/icon.h>

#include <QIcon>
#include <QImage>
#include <QWidget>
#include <algorithm>
#include <vector>

namespace hh::win::test {
namespace {

constexpr int kIcon = 128;

TEST_F(WindowTest, IconResourceHoldsEverySizeTheProgramCarriesAndIsShared) {
    HICON icon = LoadIcon(kIcon);
    ASSERT_NE(icon, nullptr);
    EXPECT_EQ(LoadIcon(kIcon), icon);
    EXPECT_EQ(IconSizes(icon), (std::vector<int>{48, 128, 256}));
    EXPECT_EQ(LoadIcon(129), nullptr);
    EXPECT_TRUE(IconSizes(nullptr).empty());
}

TEST_F(WindowTest, LargeAndSmallIconAreTheDesktopWindowsIcon) {
    Recorder dialog(Tpl({}));
    ASSERT_TRUE(dialog.Create(nullptr));
    HICON icon = LoadIcon(kIcon);
    EXPECT_TRUE(dialog.Widget()->window()->windowIcon().isNull());

    EXPECT_EQ(dialog.SetIcon(icon, ICON_BIG), nullptr);
    EXPECT_EQ(dialog.SetIcon(icon, ICON_SMALL), nullptr);
    EXPECT_EQ(dialog.GetIcon(ICON_BIG), icon);
    EXPECT_EQ(dialog.GetIcon(ICON_SMALL), icon);

    // On the device screen the desktop shows the screen's window: it carries
    // the dialog's picture at every size, drawn from the resource.
    for (const QWidget* shown : {dialog.Widget(), dialog.Widget()->window()}) {
        const QIcon picture = shown->windowIcon();
        ASSERT_FALSE(picture.isNull());
        std::vector<int> sizes;
        for (const QSize& size : picture.availableSizes()) {
            EXPECT_EQ(size.width(), size.height());
            sizes.push_back(size.width());
        }
        std::sort(sizes.begin(), sizes.end());
        EXPECT_EQ(sizes, (std::vector<int>{48, 128, 256}));
        const QImage image = picture.pixmap(48, 48).toImage();
        EXPECT_EQ(image.pixelColor(2, 2), QColor(0x1c, 0x5f, 0xb0));
        EXPECT_EQ(image.pixelColor(24, 24), QColor(Qt::white));
    }

    // Replacing one kind hands back the icon it replaces; clearing both
    // leaves the window without a picture.
    EXPECT_EQ(dialog.SetIcon(nullptr, ICON_BIG), icon);
    EXPECT_FALSE(dialog.Widget()->windowIcon().isNull());
    EXPECT_EQ(dialog.SetIcon(nullptr, ICON_SMALL), icon);
    EXPECT_TRUE(dialog.Widget()->windowIcon().isNull());
}

} // namespace
} // namespace hh::win::test
