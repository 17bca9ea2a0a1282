#pragma once
// The terminal window under test: offscreen, in a fresh device root, on the
// test clock, with message boxes scripted and real pseudo-terminals mapped to
// COM ports (the test holds the far end).

#include <platform/system/clock.h>
#include <platform/system/testing.h>
#include <platform/window/message_box.h>
#include <terminal/ui/dlg_terminal.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace terminal::test {

/// A pseudo-terminal whose device end a COM port opens by its path.
class Pty {
public:
    Pty();
    ~Pty();
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    const std::string& Path() const { return m_path; }
    /// Writes all bytes to the line (blocking while the line is full).
    bool Send(std::string_view bytes) const;
    /// Reads what the terminal sent until count bytes came or a real second passed.
    std::string Receive(std::size_t count) const;
    /// Everything the terminal sent so far, without waiting.
    std::string Drain() const;
    /// Bytes sent to the line that the port has not taken yet.
    int Pending() const;
    /// Closes the far end: the device vanishes.
    void Hangup();

private:
    int m_master = -1;
    int m_probe = -1; ///< a second open of the device end, to look at its input queue
    std::string m_path;
};

/// Advances the test clock in small steps while the UI thread sleeps on it
/// (the task bar toggle waits 100 ms), until destroyed.
class ClockPump {
public:
    explicit ClockPump(hh::sys::TestClock& clock);
    ~ClockPump();

private:
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

class TerminalTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    /// Runs the dialog modally with body inside its loop, then ends it and
    /// waits until every worker thread it started has ended.
    void Run(const std::function<void(CDlgTerminal&)>& body);

    /// Maps COM<index> to a new pseudo-terminal.
    std::unique_ptr<Pty> MapPort(int index);
    /// Selects COM<index> and presses open (or close).
    void SelectPort(CDlgTerminal& dlg, int index);
    void PressOpen(CDlgTerminal& dlg);
    /// Lets reader passes run (500 ms each on the test clock) until pred holds; false after 40
    /// passes.
    bool PassUntil(const std::function<bool()>& pred, int passes = 40);
    /// Waits (real time, bounded) until the port has taken everything sent on the line.
    bool WaitTaken(const Pty& pty);
    /// Records a worker thread so that the test waits for its end.
    void Track(const hh::sys::Thread& thread);
    void ClickAndTrackAuto(CDlgTerminal& dlg);

    /// The host path of a CE path in the device root.
    std::string HostPath(std::u16string_view cePath) const;
    std::vector<hh::win::MessageBoxRecord> Boxes() const { return m_boxes->Boxes(); }

    std::optional<hh::sys::testing::TempDeviceRoot> m_device;
    std::string m_root; ///< the device root of m_device
    std::unique_ptr<hh::sys::TestClock> m_clock;
    std::unique_ptr<hh::win::MessageBoxScript> m_boxes;
    std::vector<hh::sys::Thread> m_threads;
    std::vector<std::string> m_mappedVars;
};

/// BM_CLICK on a check box: as the user clicks it. (A mouse click at the middle
/// of a wide box misses its short label.)
void ClickBox(CDlgTerminal& dlg, int id);
/// Text of a control.
std::u16string Text(CDlgTerminal& dlg, int id);
bool Visible(CDlgTerminal& dlg, int id);
bool Enabled(CDlgTerminal& dlg, int id);
std::string ReadHostFile(const std::string& path);
std::u16string Wide(std::string_view ascii);

} // namespace terminal::test
