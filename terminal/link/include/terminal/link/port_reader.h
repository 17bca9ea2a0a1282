#pragma once
// The terminal's reader: one thread per open port that takes what the port
// receives and reports it to its client, the way a terminal library reports
// to the widget that shows it. No window is involved here.
//
// Each pass sleeps 500 ms on the platform clock, empties the display when
// 29000 bytes have arrived since it was last emptied, waits for a received
// character and then reads everything the port has queued, at most 4095 bytes
// a read, so that no rate outruns the cadence. Each read is one chunk: its
// text (up to the first zero byte in the ANSI code page, or "%X" per byte and
// CR LF in hexadecimal view) goes to the display, and with Analyze on the
// chunk alone goes to the NMEA page.
//
// The display is told once per pass, and before each flush, with the text of
// all the reads since it was last told: a screen cannot show one update per
// 4 KB read at megabytes a second, and the display and the log files still
// get every byte once and in order. With Analyze on, the display is told
// before each chunk goes to the page, as each read happened.

#include <platform/system/serial_port.h>
#include <platform/system/thread.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace terminal {

/// The reader's cadence: one pass every 500 ms.
inline constexpr uint32_t kReadPassMs = 500;

/// What the reader reports to. Every call comes from the reader thread.
class ReaderClient {
public:
    virtual ~ReaderClient() = default;
    /// Received text for the display, of `bytes` received bytes (one or more
    /// reads) for the R count. False when the client takes no more (its port
    /// was closed): the reader ends.
    virtual bool ChunkReceived(std::u16string_view text, uint32_t bytes) = 0;
    /// 29000 bytes arrived since the display was last emptied: `text` and
    /// `bytes` as for ChunkReceived (possibly empty), then the display is
    /// written to the log when Log all is on, and emptied. False ends the reader.
    virtual bool FlushDisplay(std::u16string_view text, uint32_t bytes) = 0;
    /// Analyze is on: the text of one read for the NMEA page; returns once
    /// the page has drawn it or the wait for it ran out.
    virtual void HandToPage(const std::u16string& chunk) = 0;
};

/// The check boxes the reader looks at for every read.
struct ReaderFlags {
    const std::atomic<int32_t>* hexView = nullptr; ///< HEX: hexadecimal view
    const std::atomic<int32_t>* analyze = nullptr; ///< Analyze: 1 hands each chunk to the page
};

class PortReader : public std::enable_shared_from_this<PortReader> {
public:
    static std::shared_ptr<PortReader> Create(std::shared_ptr<hh::sys::SerialPort> port,
                                              std::shared_ptr<ReaderClient> client,
                                              ReaderFlags flags);

    /// Starts the reader thread, which keeps the reader, its port and its
    /// client alive until it ends; a null handle when no thread was created.
    hh::sys::Thread Start();
    /// The reader ends at its next pass (or at once when it is waiting for
    /// a character and the port's mask is cleared or the port closed). Its own
    /// flag: a reader still finishing a pass never picks up a later open.
    void Stop() { m_stop = true; }

private:
    PortReader(std::shared_ptr<hh::sys::SerialPort> port, std::shared_ptr<ReaderClient> client,
               ReaderFlags flags);
    uint32_t Run();

    std::shared_ptr<hh::sys::SerialPort> m_port;
    std::shared_ptr<ReaderClient> m_client;
    ReaderFlags m_flags;
    std::atomic<bool> m_stop{false};
};

/// Writes the bytes one per write, in order; false at the first write that fails.
bool WriteBytes(hh::sys::SerialPort& port, std::span<const uint8_t> bytes);

} // namespace terminal
