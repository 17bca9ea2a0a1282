#include "page_test_support.h"

#include "simulator/gps/gps_receiver.h"
#include "terminal/page/shared_state.h"

#include <platform/system/event.h>
#include <platform/system/testing.h>
#include <platform/system/wait.h>
#include <platform/window/application.h>
#include <platform/window/testing.h>

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <thread>
#include <utility>

namespace terminal {

namespace {

std::mutex g_writtenMutex;
std::string g_written;
std::atomic<int> g_portFd{-1};

// The page's writer in these tests: records the bytes and, with a port set,
// writes them one per call as the terminal's WriteRaw does.
int RecordingWriter(const uint8_t* data, uint32_t count) {
    {
        std::lock_guard lock(g_writtenMutex);
        g_written.append(reinterpret_cast<const char*>(data), count);
    }
    const int fd = g_portFd.load();
    for (uint32_t i = 0; fd >= 0 && i < count; ++i) {
        if (::write(fd, data + i, 1) != 1) {
            return 0;
        }
    }
    return 1;
}

} // namespace

namespace testing {
namespace {

// One application and one device root for the whole test binary.
class PageEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        m_device = std::make_unique<hh::sys::testing::TempDeviceRoot>();
        ASSERT_TRUE(m_device->ok());
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        m_app = std::make_unique<hh::win::Application>(u"VARDI");
    }
    void TearDown() override {
        m_app.reset();
        m_device.reset();
    }

private:
    std::unique_ptr<hh::sys::testing::TempDeviceRoot> m_device;
    std::unique_ptr<hh::win::Application> m_app;
};

[[maybe_unused]] const auto* const g_environment =
    ::testing::AddGlobalTestEnvironment(new PageEnvironment);

} // namespace

std::string Sentence(std::string_view body) {
    char tail[8];
    std::snprintf(tail, sizeof tail, "*%02X\r\n", hh::sim::NmeaChecksum(body));
    return "$" + std::string(body) + tail;
}

std::u16string Widen(std::string_view bytes) {
    std::u16string out;
    for (unsigned char ch : bytes) {
        if (ch == 0) {
            break;
        }
        out.push_back(ch);
    }
    return out;
}

std::u16string Chunk(std::initializer_list<std::string_view> bodies) {
    std::string bytes;
    for (std::string_view body : bodies) {
        bytes += Sentence(body);
    }
    return Widen(bytes);
}

std::string Narrow(std::u16string_view text) {
    std::string out;
    for (char16_t ch : text) {
        out.push_back(ch < 0x80 ? static_cast<char>(ch) : '?');
    }
    return out;
}

std::string TakeWrittenBytes() {
    std::lock_guard lock(g_writtenMutex);
    return std::exchange(g_written, {});
}

void SetPortFd(int fd) {
    g_portFd = fd;
}

void PageTest::SetUp() {
    g_hDrawPillarEvent =
        hh::sys::Event::Create(hh::sys::EventReset::Automatic, false, "EVENT_DRAW_PILLAR");
    ASSERT_TRUE(g_hDrawPillarEvent);
    TakeWrittenBytes();
    // The page lives in the terminal's tab control; a plain window stands for it here.
    hh::win::DialogTemplate hostTemplate;
    hostTemplate.style = hh::win::WS_POPUP | hh::win::WS_VISIBLE | hh::win::DS_SETFONT;
    hostTemplate.widthDlu = 220;
    hostTemplate.heightDlu = 80;
    m_host = std::make_unique<hh::win::Dialog>(hostTemplate);
    ASSERT_TRUE(m_host->Create(nullptr));
    m_page = std::make_unique<CDlgNMEA>(RecordingWriter);
    ASSERT_TRUE(m_page->Create(m_host.get()));
    m_page->ShowWindow(hh::win::SW_SHOW);
    hh::win::testing::ProcessEvents();
}

void PageTest::TearDown() {
    SetPortFd(-1);
    m_page.reset();
    m_host.reset();
    hh::win::testing::ProcessEvents();
    g_hDrawPillarEvent.close();
    g_bAnalyze = 0;
}

uint32_t PageTest::Feed(const std::u16string& chunk) {
    std::atomic<bool> done{false};
    uint32_t result = hh::sys::WAIT_FAILED;
    std::thread reader([&] {
        hh::win::Dialog* page = g_hNmeaPage.load();
        if (page && page->PostMessage(WM_NMEA_DATA, reinterpret_cast<hh::win::WPARAM>(&chunk), 0)) {
            result = hh::sys::WaitForSingleObject(g_hDrawPillarEvent, 10000);
        }
        done = true;
    });
    if (!hh::win::testing::ProcessEventsUntil([&] { return done.load(); })) {
        // The page never signalled: let the reader's wait run out.
        m_clock.advance(hh::sys::Millis(10000));
    }
    reader.join();
    return result;
}

QImage PageTest::PillarImage(int pillar) const {
    return hh::win::testing::GrabControl(*m_page, IDC_PILLAR_FIRST + pillar);
}

void PageTest::Second() {
    hh::win::testing::AdvanceAndProcess(m_clock, hh::sys::Millis(1000));
}

} // namespace testing
} // namespace terminal
