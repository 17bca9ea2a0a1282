// The device screen following the drivers' display state, and the keypad's
// keys reaching the focused window.

#include "window_fixture.h"

#include <platform/system/device_display.h>
#include <platform/window/device_screen.h>
#include <platform/window/ui_thread.h>

#include <QApplication>
#include <QWidget>
#include <atomic>
#include <mutex>
#include <thread>

namespace hh::win::test {
namespace {

using namespace std::chrono_literals;

/// The drivers' state as a backend shares it (set by the test).
class TestDisplay : public sys::DisplayStateSource {
public:
    sys::DisplayState displayState() override {
        std::lock_guard guard(m_lock);
        return m_state;
    }
    void Set(const sys::DisplayState& state) {
        std::lock_guard guard(m_lock);
        m_state = state;
    }

private:
    std::mutex m_lock;
    sys::DisplayState m_state;
};

class DeviceScreenTest : public WindowTest {
protected:
    void SetUp() override {
        sys::RegisterDisplayStateSource(display);
        FollowDeviceDisplay();
    }
    void TearDown() override { sys::RegisterDisplayStateSource(nullptr); }

    static QWidget* ScreenWindow() {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (w->windowTitle() == QStringLiteral("Handheld device")) {
                return w;
            }
        }
        return nullptr;
    }
    static QRgb PixelAt(int x, int y) { return ScreenWindow()->grab().toImage().pixel(x, y); }

    std::shared_ptr<TestDisplay> display = std::make_shared<TestDisplay>();
};

TEST(DisplayEffect, StatesAsTheScreenDrawsThem) {
    struct Row {
        sys::DisplayState state;
        DisplayEffect effect;
    };
    const Row rows[] = {
        {{true, 100, false, false}, {false, 0, false}},
        {{true, 250, false, false}, {false, 0, false}},
        {{true, 50, false, false}, {false, 100, false}},
        {{true, 1, false, false}, {false, 198, false}},
        {{true, 0, true, false}, {false, 200, true}},
        {{false, 100, false, false}, {true, 0, false}},
        {{true, 100, false, true}, {true, 0, false}},
        {{false, 30, true, true}, {true, 0, true}},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(EffectFor(r.state), r.effect) << r.state.backlightLevel;
    }
}

TEST_F(DeviceScreenTest, ScreenOffIsDarkBeforeTheDriverCallReturns) {
    Recorder dialog(Tpl({Ctl(10, WC_BUTTON, u"Lit", BS_PUSHBUTTON, DluRect(10, 10, 60, 14))}));
    testing::RunModal(dialog, [&] {
        const QRgb lit = PixelAt(240, 120);
        display->Set({false, 100, false, false});
        sys::DisplayStateChanged();
        // No event handled in between: the UI thread may block right after.
        EXPECT_TRUE(ShownDisplayEffect().dark);
        EXPECT_EQ(PixelAt(240, 120), qRgb(0, 0, 0));
        display->Set({});
        sys::DisplayStateChanged();
        EXPECT_EQ(ShownDisplayEffect(), DisplayEffect{});
        EXPECT_EQ(PixelAt(240, 120), lit);
        dialog.EndDialog(IDOK);
    });
}

TEST_F(DeviceScreenTest, ChangesFromOtherThreadsAndProcessesAreFollowed) {
    std::thread driver([&] {
        display->Set({true, 50, true, false});
        sys::DisplayStateChanged();
    });
    driver.join();
    EXPECT_TRUE(testing::ProcessEventsUntil([] { return ShownDisplayEffect().buzzerMarker; }));
    EXPECT_EQ(ShownDisplayEffect(), (DisplayEffect{false, 100, true}));
    // Another process wakes the device: nothing here is told, the screen polls.
    display->Set({true, 100, false, true});
    EXPECT_TRUE(testing::ProcessEventsUntil([] { return ShownDisplayEffect().dark; }, 2s));
    display->Set({});
    EXPECT_TRUE(
        testing::ProcessEventsUntil([] { return ShownDisplayEffect() == DisplayEffect{}; }, 2s));
}

TEST_F(DeviceScreenTest, HardwareKeysReachTheFocusedWindowsDialogs) {
    Recorder dialog(
        Tpl({Ctl(10, WC_BUTTON, u"Key", BS_PUSHBUTTON | WS_TABSTOP, DluRect(10, 10, 60, 14))}));
    testing::RunModal(dialog, [&] {
        dialog.GetDlgItem(10)->SetFocus();
        std::thread keypad([] {
            PostHardwareKey(0xC1, true);
            PostHardwareKey(0xC1, false);
            PostHardwareKey(0xC4, true);
        });
        keypad.join();
        testing::ProcessEventsUntil([&] { return dialog.keys.size() >= 3; });
        ASSERT_EQ(dialog.keys.size(), 3u);
        EXPECT_EQ(dialog.keys[0].message, WM_KEYDOWN);
        EXPECT_EQ(dialog.keys[0].virtualKey, 0xC1);
        EXPECT_EQ(dialog.keys[0].target, dialog.GetDlgItem(10));
        EXPECT_EQ(dialog.keys[1].message, WM_KEYUP);
        EXPECT_EQ(dialog.keys[2].virtualKey, 0xC4);
        dialog.EndDialog(IDOK);
    });
}

} // namespace
} // namespace hh::win::test
