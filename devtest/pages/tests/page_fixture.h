#pragma once
// V5520Demo's main dialog offscreen on a temporary device root at the
// device's screen size, on the test clock, with the whole simulated device.
// A restart the library asks for ends the dialog instead of the test program.

#include <devtest/pages/pages.h>
#include <platform/system/clock.h>
#include <platform/system/testing.h>
#include <platform/window/application.h>
#include <platform/window/message_box.h>
#include <platform/window/testing.h>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <thread>

namespace devtest::test {

class PageTest : public hh::sys::testing::DeviceRootTest {
protected:
    /// On an empty root the device is new, and the program's start provisions
    /// it as V5520Demo's does.
    explicit PageTest(hh::sys::testing::RootLayout layout = hh::sys::testing::RootLayout::Volumes)
        : DeviceRootTest(layout), m_layout(layout) {}

    void SetUp() override;
    void TearDown() override;

    /// Runs the main dialog; body runs once its loop runs and then ends it.
    void RunMain(const std::function<void(CDlgMain&)>& body);
    /// Shows tab index as the user does.
    void SelectTab(int index);
    /// Advances the clock in steps of step, delivering the timers that fall due.
    void Advance(std::chrono::milliseconds total,
                 std::chrono::milliseconds step = std::chrono::milliseconds(250));
    /// What the page shows in control id.
    std::u16string TextOf(hh::win::Dialog& page, int id);
    bool Visible(hh::win::Dialog& page, int id);
    bool Enabled(hh::win::Dialog& page, int id);
    /// While on (from SetUp), a thread lets the clock run 10 ms whenever a
    /// thread waits on it, so that the compass polls' short waits on the UI
    /// thread end.
    void StartClockPump();
    void StopClockPump();

    hh::sys::TestClock clock_;
    std::optional<hh::win::Application> app_;
    CDlgMain* main_ = nullptr;
    int restarts_ = 0;

private:
    hh::sys::testing::RootLayout m_layout;
    std::atomic<bool> m_pumping{false};
    std::thread m_pump;
};

/// The UTF-8 form of a page's text, for messages.
std::string Utf8(std::u16string_view text);

} // namespace devtest::test
