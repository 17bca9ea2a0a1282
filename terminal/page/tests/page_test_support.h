#pragma once
// A live NMEA page for offscreen tests: the application on the test's main
// thread (the UI thread), a test clock for the TTFF timer, the page created as
// a child of a host window, and the reader's side of the hand-off.

#include "terminal/page/dlg_nmea.h"

#include <platform/system/clock.h>
#include <platform/window/dialog.h>

#include <gtest/gtest.h>

#include <QImage>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>

namespace terminal::testing {

/// "$" + body + "*" + checksum + CR LF, as a receiver sends it.
std::string Sentence(std::string_view body);
/// The bytes as the reader's text view turns them into a chunk: up to the
/// first zero byte, one character per byte.
std::u16string Widen(std::string_view bytes);
/// A chunk of whole sentences, given by their bodies.
std::u16string Chunk(std::initializer_list<std::string_view> bodies);
/// The ASCII rendering of a label text, for messages.
std::string Narrow(std::u16string_view text);

/// The bytes the page wrote through its writer since the last call.
std::string TakeWrittenBytes();
/// Makes the page's writer also write to fd, one byte per write as the terminal does
/// (-1: record only).
void SetPortFd(int fd);

class PageTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    /// Hands the chunk to the page as the reader thread does: posts its
    /// address from a worker thread and waits on "EVENT_DRAW_PILLAR" (up to
    /// 10000 ms of the platform clock). Returns the wait's result.
    uint32_t Feed(const std::u16string& chunk);
    uint32_t Feed(std::initializer_list<std::string_view> bodies) { return Feed(Chunk(bodies)); }

    std::u16string Text(int id) const { return m_page->GetDlgItemText(id); }
    QImage PillarImage(int pillar) const;
    /// Advances the platform clock by a second and delivers the timers.
    void Second();

    hh::sys::TestClock m_clock;
    std::unique_ptr<hh::win::Dialog> m_host;
    std::unique_ptr<CDlgNMEA> m_page;
};

} // namespace terminal::testing
