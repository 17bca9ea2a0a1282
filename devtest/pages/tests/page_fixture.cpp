#include "page_fixture.h"

#include <platform/system/stream_device.h>
#include <simulator/power/power_driver.h>

#include <cstdlib>

namespace devtest::test {

namespace sys = hh::sys;
namespace win = hh::win;

std::string Utf8(std::u16string_view text) {
    return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size())).toStdString();
}

void PageTest::SetUp() {
    DeviceRootTest::SetUp();
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::setenv("HANDHELD_SCREEN", "480x272", 1);
    app_.emplace(u"V5520Demo");
    hh::sim::RegisterSimulatedPower([this] {
        ++restarts_;
        if (main_) {
            main_->EndDialog(0);
        }
    });
}

void PageTest::TearDown() {
    StopClockPump();
    sys::UnregisterStreamDriver("PWR");
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
    m_pumping = true;
    m_pump = std::thread([this] {
        while (m_pumping) {
            if (clock_.waitForBlockedThreads(1, std::chrono::milliseconds(20))) {
                clock_.advance(std::chrono::milliseconds(10));
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
