#include "page_fixture.h"

#include <platform/system/device_display.h>
#include <platform/system/device_image.h>
#include <platform/system/stream_device.h>
#include <simulator/compass/compass_driver.h>
#include <simulator/device/simulated_device.h>

#include <cstdlib>

namespace devtest::test {

namespace sys = hh::sys;
namespace win = hh::win;

std::string Utf8(std::u16string_view text) {
    return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size())).toStdString();
}

void PageTest::SetUp() {
    DeviceRootTest::SetUp();
    if (m_layout == sys::testing::RootLayout::Empty) {
        std::string error;
        ASSERT_TRUE(sys::PrepareDeviceRoot(error)) << error;
    }
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::setenv("HANDHELD_SCREEN", "480x272", 1);
    app_.emplace(u"V5520Demo");
    ASSERT_TRUE(hh::sim::RegisterSimulatedDevice([this] {
        ++restarts_;
        if (main_) {
            main_->EndDialog(0);
        }
    }));
    // The compass opens, and its polls wait briefly on the UI thread.
    StartClockPump();
}

void PageTest::TearDown() {
    StopClockPump();
    hh::sim::StopCalibrationWatcher();
    for (const char* prefix : {"PWR", "BKL", "UFN", "ANT", "ECD", "SMB", "PSA"}) {
        sys::UnregisterStreamDriver(prefix);
    }
    sys::RegisterDisplayStateSource(nullptr);
    sys::RegisterKernelServices(nullptr);
    app_.reset();
    DeviceRootTest::TearDown();
}

void PageTest::RunMain(const std::function<void(CDlgMain&)>& body) {
    CDlgMain dialog;
    main_ = &dialog;
    win::testing::RunModal(dialog, [&] {
        body(dialog);
        dialog.EndDialog(win::IDOK);
    });
    main_ = nullptr;
}

void PageTest::SelectTab(int index) {
    win::testing::SelectTab(*main_, IDC_TAB, index);
}

void PageTest::Advance(std::chrono::milliseconds total, std::chrono::milliseconds step) {
    for (auto done = std::chrono::milliseconds(0); done < total; done += step) {
        win::testing::AdvanceAndProcess(clock_, step);
    }
}

std::u16string PageTest::TextOf(win::Dialog& page, int id) {
    return page.GetDlgItemText(id);
}

bool PageTest::Visible(win::Dialog& page, int id) {
    win::Control* control = page.GetDlgItem(id);
    return control && control->IsWindowVisible();
}

bool PageTest::Enabled(win::Dialog& page, int id) {
    win::Control* control = page.GetDlgItem(id);
    return control && control->IsWindowEnabled();
}

void PageTest::StartClockPump() {
    if (m_pump.joinable()) {
        return;
    }
    m_pumping = true;
    m_pump = std::thread([this] {
        while (m_pumping) {
            if (!clock_.waitForBlockedThreads(1, std::chrono::milliseconds(20))) {
                continue;
            }
            clock_.advance(std::chrono::milliseconds(10));
            // Once per wait: the woken thread leaves it before the clock moves again.
            const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(50);
            while (m_pumping && clock_.blockedThreads() > 0 &&
                   std::chrono::steady_clock::now() < until) {
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
        }
    });
}

void PageTest::StopClockPump() {
    m_pumping = false;
    if (m_pump.joinable()) {
        m_pump.join();
    }
}

} // namespace devtest::test
