// The device screen: metrics, work area, the task bar strip, the input panel
// and the display orientation.

#include "window_fixture.h"

#include <platform/window/message_box.h>
#include <platform/window/screen.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <thread>

namespace hh::win::test {
namespace {

namespace t = hh::win::testing;

TEST_F(WindowTest, ScreenSizeComesFromHandheldScreen) {
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 480);
    EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), 272);
    EXPECT_EQ(GetSystemMetrics(SM_CYCAPTION), 24);
    EXPECT_EQ(GetSystemMetrics(999), 0);
}

TEST_F(WindowTest, MessageBoxesOnTheDeviceScreenDrawTheirOwnBackground) {
    MessageBoxScript script;
    script.Hold();
    std::thread worker([] { MessageBox(nullptr, u"XML ERROR!", u"", MB_TOPMOST); });
    ASSERT_TRUE(script.WaitForOpen(1));
    t::ProcessEvents();
    QLabel* text = nullptr;
    for (QWidget* w : QApplication::allWidgets()) {
        if (w->objectName() == QStringLiteral("text") && w->isVisible()) {
            text = qobject_cast<QLabel*>(w);
        }
    }
    ASSERT_NE(text, nullptr);
    // The screen window behind the box is black: the box's text must not be.
    QWidget* screen = text->window();
    const QImage shot = screen->grab().toImage();
    const QPoint inside = text->mapTo(screen, QPoint(1, 1));
    EXPECT_NE(shot.pixelColor(inside), QColor(Qt::black));
    EXPECT_TRUE(script.AnswerOpen(IDOK));
    worker.join();
}

TEST_F(WindowTest, TaskBarIsAStripAtTheBottomWhileShown) {
    Window* bar = FindWindow(u"HHTaskBar");
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->ClassName(), u"HHTaskBar");
    EXPECT_EQ(FindWindow(u"HHTaskBar", u"other"), nullptr);
    EXPECT_EQ(FindWindow(u"Shell_TrayWnd"), nullptr);
    EXPECT_TRUE(bar->IsWindowVisible()); // the device starts with it shown
    EXPECT_EQ(bar->GetWindowRect(), (Rect{0, 247, 480, 272}));
    EXPECT_TRUE(ShowWindow(bar, SW_HIDE));
    EXPECT_FALSE(bar->IsWindowVisible());
    EXPECT_FALSE(ShowWindow(bar, SW_SHOW));
    EXPECT_TRUE(bar->IsWindowVisible());
    EXPECT_FALSE(ShowWindow(nullptr, SW_SHOW));
}

TEST_F(WindowTest, WorkAreaIsKeptAsSet) {
    EXPECT_EQ(GetWorkArea(), (Rect{0, 0, 480, 247}));
    Rect full{0, 0, 480, 272};
    EXPECT_TRUE(SystemParametersInfo(SPI_SETWORKAREA, 0, &full, SPIF_SENDCHANGE));
    Rect read;
    EXPECT_TRUE(SystemParametersInfo(SPI_GETWORKAREA, 0, &read, 0));
    EXPECT_EQ(read, full);
    Rect inverted{0, 0, -1, 10};
    EXPECT_FALSE(SystemParametersInfo(SPI_SETWORKAREA, 0, &inverted, 0));
    EXPECT_FALSE(SystemParametersInfo(SPI_GETWORKAREA, 0, nullptr, 0));
    EXPECT_FALSE(SystemParametersInfo(258, 0, &read, 0));
    EXPECT_EQ(GetWorkArea(), full);
}

TEST_F(WindowTest, OrientationNinetySwapsTheScreenAndFullScreenWindowsFollow) {
    Recorder dialog(Tpl({}, WS_POPUP));
    ASSERT_TRUE(dialog.Create(nullptr));
    dialog.MoveWindow(0, 0, 480, 272);

    DevMode query;
    query.dmFields = DM_DISPLAYQUERYORIENTATION;
    ASSERT_EQ(ChangeDisplaySettingsEx(nullptr, &query, nullptr, CDS_TEST, nullptr),
              DISP_CHANGE_SUCCESSFUL);
    EXPECT_TRUE(query.dmDisplayOrientation & DMDO_90);

    DevMode set;
    set.dmFields = DM_DISPLAYORIENTATION;
    set.dmDisplayOrientation = DMDO_90;
    ASSERT_EQ(ChangeDisplaySettingsEx(nullptr, &set, nullptr, CDS_RESET, nullptr),
              DISP_CHANGE_SUCCESSFUL);
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 272);
    EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), 480);
    EXPECT_EQ(dialog.GetWindowRect(), (Rect{0, 0, 272, 480}));
    EXPECT_EQ(FindWindow(u"HHTaskBar")->GetWindowRect(), (Rect{0, 455, 272, 480}));
    EXPECT_EQ(GetWorkArea(), (Rect{0, 0, 272, 455}));

    DevMode read;
    read.dmFields = DM_DISPLAYORIENTATION;
    EXPECT_EQ(ChangeDisplaySettingsEx(nullptr, &read, nullptr, CDS_TEST, nullptr),
              DISP_CHANGE_SUCCESSFUL);
    EXPECT_EQ(read.dmDisplayOrientation, DMDO_90);

    set.dmDisplayOrientation = DMDO_0;
    EXPECT_EQ(ChangeDisplaySettingsEx(nullptr, &set, nullptr, CDS_RESET, nullptr),
              DISP_CHANGE_SUCCESSFUL);
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 480);
    EXPECT_EQ(dialog.GetWindowRect(), (Rect{0, 0, 480, 272}));
}

TEST_F(WindowTest, DisplaySettingsRefuseBadRequests) {
    DevMode bad;
    bad.dmFields = DM_DISPLAYORIENTATION;
    bad.dmDisplayOrientation = 3;
    EXPECT_EQ(ChangeDisplaySettingsEx(nullptr, &bad, nullptr, CDS_RESET, nullptr),
              DISP_CHANGE_BADMODE);
    EXPECT_EQ(ChangeDisplaySettingsEx(u"DISPLAY2", &bad, nullptr, 0, nullptr),
              DISP_CHANGE_BADPARAM);
    EXPECT_EQ(ChangeDisplaySettingsEx(nullptr, nullptr, nullptr, 0, nullptr), DISP_CHANGE_BADPARAM);
    DevMode query;
    query.dmFields = DM_DISPLAYQUERYORIENTATION;
    EXPECT_EQ(ChangeDisplaySettingsEx(nullptr, &query, nullptr, 0, nullptr), DISP_CHANGE_BADFLAGS);
    EXPECT_EQ(DisplayOrientation(), DMDO_0);
}

TEST_F(WindowTest, InputPanelShowsAndTypesIntoTheFocusedEdit) {
    Recorder dialog(Tpl({Ctl(1007, u"EDIT", u"", ES_AUTOHSCROLL, DluRect(5, 5, 60, 12))}));
    ASSERT_TRUE(dialog.Create(nullptr));
    dialog.ShowWindow(SW_SHOW);
    dialog.GetDlgItem(1007)->SetFocus();
    EXPECT_FALSE(IsInputPanelVisible());
    EXPECT_TRUE(SipShowIM(SIPF_ON));
    EXPECT_TRUE(IsInputPanelVisible());

    QPushButton* keyA = nullptr;
    for (auto* button : QApplication::allWidgets()) {
        auto* push = qobject_cast<QPushButton*>(button);
        if (push && push->text() == QStringLiteral("a") && push->isVisible()) {
            keyA = push;
        }
    }
    ASSERT_NE(keyA, nullptr);
    keyA->click();
    EXPECT_EQ(dialog.GetDlgItemText(1007), u"a");
    EXPECT_TRUE(dialog.GetDlgItem(1007)->HasFocus());

    EXPECT_TRUE(SipShowIM(SIPF_OFF));
    EXPECT_FALSE(IsInputPanelVisible());
}

} // namespace
} // namespace hh::win::test
