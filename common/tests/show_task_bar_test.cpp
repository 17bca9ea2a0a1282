// ShowTaskBar on the offscreen device screen, with the platform clock driven by the test.

#include <common/show_task_bar.h>
#include <platform/system/clock.h>
#include <platform/system/testing.h>
#include <platform/window/application.h>
#include <platform/window/screen.h>
#include <platform/window/testing.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

namespace {

using namespace std::chrono_literals;
using namespace hh::win;

class ShowTaskBarTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        setenv("HANDHELD_SCREEN", "480x272", 1);
        s_device = std::make_unique<hh::sys::testing::TempDeviceRoot>();
        setenv("XDG_RUNTIME_DIR", s_device->base().c_str(), 0);
    }
    static void TearDownTestSuite() { s_device.reset(); }

    static inline std::unique_ptr<hh::sys::testing::TempDeviceRoot> s_device;

    Application app{u"VARDI"};
    hh::sys::TestClock clock;
};

TEST_F(ShowTaskBarTest, TogglesTheStripSetsTheWorkAreaAndFillsTheScreen) {
    DialogTemplate tpl;
    tpl.caption = u"VARDI";
    tpl.widthDlu = 100;
    tpl.heightDlu = 60;
    Dialog dialog(tpl);
    ASSERT_TRUE(dialog.Create(nullptr));

    struct Case {
        int showCommand;
        int heightChange;
        bool barVisible;
        Rect workArea;
    };
    // Start-up, tkbar twice, destroy.
    const Case cases[] = {{SW_HIDE, 0, false, Rect{0, 0, 480, 272}},
                          {SW_SHOW, -25, true, Rect{0, 0, 480, 247}},
                          {SW_HIDE, 0, false, Rect{0, 0, 480, 272}},
                          {SW_SHOW, -25, true, Rect{0, 0, 480, 247}}};
    for (const Case& c : cases) {
        const std::int64_t before = clock.nowMs();
        std::thread sleeper = hh::win::testing::AdvanceWhenBlocked(clock, 100ms);
        ShowTaskBar(dialog, c.showCommand, c.heightChange);
        sleeper.join();
        EXPECT_EQ(clock.nowMs() - before, 100); // it slept on the platform clock
        EXPECT_EQ(FindWindow(u"HHTaskBar")->IsWindowVisible(), c.barVisible);
        EXPECT_EQ(GetWorkArea(), c.workArea);
        EXPECT_EQ(dialog.GetWindowRect(), (Rect{0, 0, 480, 272})); // full screen either way
    }
}

TEST_F(ShowTaskBarTest, FollowsARotatedScreen) {
    DialogTemplate tpl;
    tpl.style = WS_POPUP;
    tpl.widthDlu = 100;
    tpl.heightDlu = 60;
    Dialog dialog(tpl);
    ASSERT_TRUE(dialog.Create(nullptr));
    DevMode mode;
    mode.dmFields = DM_DISPLAYORIENTATION;
    mode.dmDisplayOrientation = DMDO_90;
    ASSERT_EQ(ChangeDisplaySettingsEx(nullptr, &mode, nullptr, CDS_RESET, nullptr),
              DISP_CHANGE_SUCCESSFUL);
    std::thread sleeper = hh::win::testing::AdvanceWhenBlocked(clock, 100ms);
    ShowTaskBar(dialog, SW_HIDE, 0);
    sleeper.join();
    EXPECT_EQ(GetWorkArea(), (Rect{0, 0, 272, 480}));
    EXPECT_EQ(dialog.GetWindowRect(), (Rect{0, 0, 272, 480}));
}

} // namespace
