#include "terminal_fixture.h"

#include <platform/system/device_image.h>
#include <platform/system/module_path.h>
#include <platform/system/serial_port.h>
#include <platform/system/wait.h>
#include <platform/window/application.h>
#include <platform/window/testing.h>
#include <platform/window/ui_thread.h>
#include <terminal/page/shared_state.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace terminal::test {

using namespace std::chrono_literals;
namespace wt = hh::win::testing;

Pty::Pty() {
    termios raw{};
    cfmakeraw(&raw);
    char name[128] = {};
    int slave = -1;
    if (openpty(&m_master, &slave, name, &raw, nullptr) == 0) {
        m_path = name;
        // Kept open: it keeps the line up between opens of the port and lets
        // the test see the line's input queue.
        m_probe = slave;
    }
}

Pty::~Pty() {
    Hangup();
    if (m_probe >= 0) {
        ::close(m_probe);
    }
}

bool Pty::Send(std::string_view bytes) const {
    while (!bytes.empty()) {
        const ssize_t n = ::write(m_master, bytes.data(), bytes.size());
        if (n <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

std::string Pty::Receive(std::size_t count) const {
    std::string out;
    const auto deadline = std::chrono::steady_clock::now() + 1s;
    while (out.size() < count && std::chrono::steady_clock::now() < deadline) {
        pollfd p{m_master, POLLIN, 0};
        if (::poll(&p, 1, 10) == 1 && (p.revents & POLLIN)) {
            char buffer[4096];
            const ssize_t n = ::read(m_master, buffer, sizeof(buffer));
            if (n <= 0) {
                break;
            }
            out.append(buffer, static_cast<std::size_t>(n));
        }
    }
    return out;
}

std::string Pty::Drain() const {
    std::string out;
    pollfd p{m_master, POLLIN, 0};
    while (::poll(&p, 1, 20) == 1 && (p.revents & POLLIN)) {
        char buffer[4096];
        const ssize_t n = ::read(m_master, buffer, sizeof(buffer));
        if (n <= 0) {
            break;
        }
        out.append(buffer, static_cast<std::size_t>(n));
    }
    return out;
}

int Pty::Pending() const {
    int pending = 0;
    return ::ioctl(m_probe, FIONREAD, &pending) == 0 ? pending : -1;
}

void Pty::Hangup() {
    if (m_master >= 0) {
        ::close(m_master);
        m_master = -1;
    }
}

ClockPump::ClockPump(hh::sys::TestClock& clock)
    : m_thread([this, &clock] {
          while (!m_stop.load()) {
              clock.advance(10ms);
              std::this_thread::sleep_for(1ms);
          }
      }) {}

ClockPump::~ClockPump() {
    m_stop = true;
    m_thread.join();
}

namespace {

/// One application for the whole test program, ended before the program's
/// static objects go.
class ApplicationEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        ::setenv("HANDHELD_SCREEN", "480x272", 1);
        m_app = std::make_unique<hh::win::Application>(u"VARDI");
        hh::sys::RegisterSerialDriver();
    }
    void TearDown() override { m_app.reset(); }

private:
    std::unique_ptr<hh::win::Application> m_app;
};

[[maybe_unused]] ::testing::Environment* const g_environment =
    ::testing::AddGlobalTestEnvironment(new ApplicationEnvironment);

} // namespace

void TerminalTest::SetUp() {
    // An empty root, so that the device image is provisioned into it.
    m_device.emplace(hh::sys::testing::RootLayout::Empty);
    ASSERT_TRUE(m_device->ok());
    m_root = m_device->root().string();
    ::setenv("HANDHELD_DEBUG_LOG", (m_root + "/debug.log").c_str(), 1);
    hh::sys::SetModuleName(u"VARDI");
    std::string error;
    ASSERT_TRUE(hh::sys::PrepareDeviceRoot(error)) << error;
    std::filesystem::create_directories(HostPath(u"\\SDMMC\\VARDI"));
    m_clock = std::make_unique<hh::sys::TestClock>(1'000'000);
    m_boxes = std::make_unique<hh::win::MessageBoxScript>();
    g_bHexView = 0;
    g_bHexSend = 0;
    g_bAppendEnd = 0;
    g_bAppendEsc = 0;
    g_bAppendCrLf = 0;
    g_bAnalyze = 0;
}

void TerminalTest::TearDown() {
    for (const std::string& name : m_mappedVars) {
        ::unsetenv(name.c_str());
    }
    m_boxes.reset();
    m_clock.reset();
    ::unsetenv("HANDHELD_DEBUG_LOG");
    m_device.reset();
}

void TerminalTest::Run(const std::function<void(CDlgTerminal&)>& body) {
    CDlgTerminal dlg;
    // Start-up and the end of the dialog wait 100 ms on the test clock (the
    // task bar), so the clock runs by itself around them.
    auto pump = std::make_unique<ClockPump>(*m_clock);
    wt::RunModal(dlg, [&] {
        pump.reset();
        body(dlg);
        pump = std::make_unique<ClockPump>(*m_clock);
        dlg.EndDialog(hh::win::IDOK);
    });
    pump.reset();
    for (const hh::sys::Thread& thread : m_threads) {
        bool ended = false;
        for (int i = 0; i < 200 && !ended; ++i) {
            wt::ProcessEvents();
            ended = hh::sys::WaitForSingleObject(thread, 0) == hh::sys::WAIT_OBJECT_0;
            if (!ended) {
                m_clock->advance(500ms);
                std::this_thread::sleep_for(1ms);
            }
        }
        EXPECT_TRUE(ended) << "a worker thread of the terminal did not end";
    }
    m_threads.clear();
}

std::unique_ptr<Pty> TerminalTest::MapPort(int index) {
    auto pty = std::make_unique<Pty>();
    const std::string name = "HANDHELD_COM" + std::to_string(index);
    ::setenv(name.c_str(), pty->Path().c_str(), 1);
    m_mappedVars.push_back(name);
    return pty;
}

void TerminalTest::SelectPort(CDlgTerminal& dlg, int index) {
    wt::SelectComboEntry(dlg, IDC_COMBO_COM, index);
}

void TerminalTest::PressOpen(CDlgTerminal& dlg) {
    const bool wasOpen = dlg.IsOpen();
    // The button is locked for 1000 ms after every open and close.
    if (!Enabled(dlg, IDC_BTN_OPEN)) {
        wt::AdvanceAndProcess(*m_clock, 1000ms);
    }
    wt::Click(dlg, IDC_BTN_OPEN);
    if (!wasOpen && dlg.IsOpen()) {
        Track(g_hReadThread);
    }
}

bool TerminalTest::PassUntil(const std::function<bool()>& pred, int passes) {
    for (int i = 0; i <= passes; ++i) {
        if (wt::ProcessEventsUntil(pred, 30ms)) {
            return true;
        }
        m_clock->advance(500ms);
    }
    return pred();
}

bool TerminalTest::WaitTaken(const Pty& pty) {
    return wt::ProcessEventsUntil([&] { return pty.Pending() == 0; }, 5s);
}

void TerminalTest::Track(const hh::sys::Thread& thread) {
    if (thread) {
        m_threads.push_back(thread);
    }
}

void TerminalTest::ClickAndTrackAuto(CDlgTerminal& dlg) {
    ClickBox(dlg, IDC_CHK_AUTO);
    Track(g_hAutoSendThread);
}

std::string TerminalTest::HostPath(std::u16string_view cePath) const {
    std::string path = m_root;
    for (const char16_t c : cePath) {
        path.push_back(c == u'\\' ? '/' : static_cast<char>(c));
    }
    return path;
}

void ClickBox(CDlgTerminal& dlg, int id) {
    if (auto* box = dlg.Item<hh::win::Button>(id)) {
        box->Click();
    }
    wt::ProcessEvents();
}

std::u16string Text(CDlgTerminal& dlg, int id) {
    return dlg.GetDlgItemText(id);
}

bool Visible(CDlgTerminal& dlg, int id) {
    hh::win::Control* control = dlg.GetDlgItem(id);
    return control && control->IsWindowVisible();
}

bool Enabled(CDlgTerminal& dlg, int id) {
    hh::win::Control* control = dlg.GetDlgItem(id);
    return control && control->IsWindowEnabled();
}

std::string ReadHostFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::u16string Wide(std::string_view ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

} // namespace terminal::test
