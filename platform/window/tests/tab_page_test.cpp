// Child pages of a tab control: where they sit and the strip beside them.

#include "window_fixture.h"

#include <platform/window/controls.h>
#include <platform/window/ui_thread.h>

#include <QTabBar>

namespace hh::win::test {
namespace {

TEST_F(WindowTest, ChildPagesSitAtTheTopLeftAndTheStripShowsItsTabs) {
    Recorder main(Tpl({Ctl(1000, WC_TABCONTROL, u"", TCS_BOTTOM, DluRect(0, 0, 180, 110))}));
    DialogTemplate pageTpl = Tpl({Ctl(10, WC_BUTTON, u"B", BS_PUSHBUTTON, DluRect(5, 5, 40, 14))},
                                 WS_CHILD | DS_SETFONT);
    pageTpl.widthDlu = 100;
    pageTpl.heightDlu = 60;
    Recorder page(pageTpl);
    testing::RunModal(main, [&] {
        auto* tab = main.Item<TabControl>(1000);
        // Tabs inserted after the control has its size still get a strip.
        tab->InsertItem(0, u"One");
        tab->InsertItem(1, u"Two");
        ASSERT_TRUE(page.Create(tab));
        page.ShowWindow(SW_SHOW);
        testing::ProcessEvents();
        EXPECT_EQ(page.GetWindowRect().left, tab->GetWindowRect().left);
        EXPECT_EQ(page.GetWindowRect().top, tab->GetWindowRect().top);
        QTabBar* bar = tab->Widget()->findChild<QTabBar*>();
        ASSERT_NE(bar, nullptr);
        EXPECT_GT(bar->height(), 10);
        EXPECT_EQ(bar->geometry().bottom() + 1, tab->Widget()->height());
        EXPECT_TRUE(bar->tabRect(1).right() < bar->width()) << "both tabs are in view";
        main.EndDialog(IDOK);
    });
}

TEST_F(WindowTest, AHiddenDialogMovedHasItsNewClientSizeAtOnce) {
    Recorder main(Tpl({}));
    Recorder popup(Tpl({}, WS_POPUP | DS_SETFONT));
    testing::RunModal(main, [&] {
        ASSERT_TRUE(popup.Create(nullptr));
        ASSERT_FALSE(popup.IsWindowVisible());
        popup.MoveWindow(0, 0, 480, 272);
        EXPECT_EQ(popup.GetClientRect(), (Rect{0, 0, 480, 272}));
        main.EndDialog(IDOK);
    });
}

} // namespace
} // namespace hh::win::test
