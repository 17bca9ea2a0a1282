// The reader on a real pseudo-terminal and the test clock, reporting to a
// client that records each call: what the display, the log flush and the
// NMEA page are told, in order.

#include "terminal/link/port_reader.h"

#include <platform/system/clock.h>
#include <platform/system/wait.h>
#include <terminal/core/receive_text.h>

#include <gtest/gtest.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

namespace terminal {
namespace {

using namespace std::chrono_literals;

struct Call {
    enum Kind { Received, Flush, Page } kind;
    std::u16string text;
    uint32_t bytes = 0;

    bool operator==(const Call&) const = default;
};

void PrintTo(const Call& c, std::ostream* os) {
    static const char* const kNames[] = {"Received", "Flush", "Page"};
    *os << kNames[c.kind] << '(' << c.text.size() << " chars, " << c.bytes << " bytes)";
}

class RecordingClient : public ReaderClient {
public:
    bool ChunkReceived(std::u16string_view text, uint32_t bytes) override {
        return Record({Call::Received, std::u16string(text), bytes});
    }
    bool FlushDisplay(std::u16string_view text, uint32_t bytes) override {
        return Record({Call::Flush, std::u16string(text), bytes});
    }
    void HandToPage(const std::u16string& chunk) override { Record({Call::Page, chunk, 0}); }

    /// Waits (real time, bounded) for n calls in all and returns them.
    std::vector<Call> WaitFor(std::size_t n, std::chrono::milliseconds limit = 5s) {
        std::unique_lock lock(m_mutex);
        m_changed.wait_for(lock, limit, [&] { return m_calls.size() >= n; });
        return m_calls;
    }
    void Refuse() {
        std::lock_guard lock(m_mutex);
        m_refuse = true;
    }

private:
    bool Record(Call call) {
        std::lock_guard lock(m_mutex);
        m_calls.push_back(std::move(call));
        m_changed.notify_all();
        return !m_refuse;
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Call> m_calls;
    bool m_refuse = false;
};

std::u16string Wide(std::string_view bytes) {
    return std::u16string(bytes.begin(), bytes.end());
}

std::string Stream(std::size_t n) {
    std::string s;
    for (long line = 0; s.size() < n; ++line) {
        s += "$GPGSV,3,1,12," + std::to_string(line) + ",40,083,46*75\r\n";
    }
    s.resize(n);
    return s;
}

class PortReaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        termios raw{};
        cfmakeraw(&raw);
        int slave = -1;
        ASSERT_EQ(openpty(&m_master, &slave, nullptr, &raw, nullptr), 0);
        m_port = hh::sys::SerialPort::Open({slave, {}});
        ASSERT_TRUE(m_port);
        hh::sys::COMMTIMEOUTS timeouts{hh::sys::MAXDWORD, 10, 10, 50, 100};
        ASSERT_TRUE(m_port->SetCommTimeouts(timeouts));
        m_client = std::make_shared<RecordingClient>();
    }

    void TearDown() override {
        if (m_reader) {
            m_reader->Stop();
            m_port->SetCommMask(0);
            m_clock.advance(500ms);
            EXPECT_EQ(hh::sys::WaitForSingleObject(m_thread, hh::sys::INFINITE),
                      hh::sys::WAIT_OBJECT_0);
        }
        m_port->close();
        ::close(m_master);
    }

    void Start() {
        m_reader = PortReader::Create(m_port, m_client, {&m_hex, &m_analyze});
        m_thread = m_reader->Start();
        ASSERT_TRUE(m_thread);
    }

    /// Puts the bytes on the line and waits until the port has queued them all.
    void Send(std::string_view bytes) {
        ASSERT_EQ(::write(m_master, bytes.data(), bytes.size()),
                  static_cast<ssize_t>(bytes.size()));
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        hh::sys::COMSTAT stat;
        while (m_port->ClearCommError(nullptr, &stat) && stat.cbInQue < bytes.size() &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(1ms);
        }
        ASSERT_EQ(stat.cbInQue, bytes.size());
    }

    /// One pass: the reader wakes from its 500 ms sleep.
    void Pass() {
        ASSERT_TRUE(m_clock.waitForBlockedThreads(1));
        m_clock.advance(500ms);
    }

    hh::sys::TestClock m_clock;
    int m_master = -1;
    std::shared_ptr<hh::sys::SerialPort> m_port;
    std::shared_ptr<RecordingClient> m_client;
    std::atomic<int32_t> m_hex{0};
    std::atomic<int32_t> m_analyze{0};
    std::shared_ptr<PortReader> m_reader;
    hh::sys::Thread m_thread;
};

TEST_F(PortReaderTest, ReadsOfOnePassReachTheDisplayTogether) {
    struct Case {
        const char* name;
        int32_t hex;
        std::string bytes;
        std::u16string shown;
    };
    const Case cases[] = {
        {"text", 0, "$GPGGA,1\r\n", u"$GPGGA,1\r\n"},
        {"zero ends the text of its read", 0, std::string("AB\0CD", 5), u"AB"},
        {"hexadecimal", 1, "\x0A\x80\xFF", u"A80FF\r\n"},
        {"code page", 0, "\xE9t\xE9", u"\u00E9t\u00E9"},
    };
    Start();
    std::vector<Call> expected;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_hex = c.hex;
        Send(c.bytes);
        Pass();
        expected.push_back({Call::Received, c.shown, static_cast<uint32_t>(c.bytes.size())});
        EXPECT_EQ(m_client->WaitFor(expected.size()), expected);
    }
}

TEST_F(PortReaderTest, AFullQueueIsReadInOnePassAndFlushedEvery29000Bytes) {
    // 70000 bytes queued: 4095 a read; the display is emptied before the
    // read that follows 29000 bytes (8 reads, 32760 bytes), twice.
    const std::string stream = Stream(70000);
    Start();
    Send(stream);
    Pass();
    const std::vector<Call> calls = m_client->WaitFor(3);
    const std::vector<Call> expected = {
        {Call::Flush, Wide(stream.substr(0, 32760)), 32760},
        {Call::Flush, Wide(stream.substr(32760, 32760)), 32760},
        {Call::Received, Wide(stream.substr(65520)), 4480},
    };
    EXPECT_EQ(calls, expected);

    // The next pass starts with nothing due: 4480 bytes since the last flush.
    Send("x");
    Pass();
    EXPECT_EQ(m_client->WaitFor(4).back(), (Call{Call::Received, u"x", 1}));
}

TEST_F(PortReaderTest, AFlushDueAtTheEndOfAPassComesAtTheStartOfTheNext) {
    const std::string stream = Stream(29000);
    Start();
    Send(stream);
    Pass();
    ASSERT_EQ(m_client->WaitFor(1).size(), 1u);
    // Nothing new has arrived, and the display is emptied all the same.
    Send("y");
    Pass();
    const std::vector<Call> expected = {
        {Call::Received, Wide(stream), 29000},
        {Call::Flush, u"", 0},
        {Call::Received, u"y", 1},
    };
    EXPECT_EQ(m_client->WaitFor(3), expected);
}

TEST_F(PortReaderTest, AnalyzeHandsEachReadToThePageAfterTheDisplay) {
    const std::string stream = Stream(5000);
    m_analyze = 1;
    Start();
    Send(stream);
    Pass();
    const std::vector<Call> expected = {
        {Call::Received, Wide(stream.substr(0, 4095)), 4095},
        {Call::Page, Wide(stream.substr(0, 4095)), 0},
        {Call::Received, Wide(stream.substr(4095)), 905},
        {Call::Page, Wide(stream.substr(4095)), 0},
    };
    EXPECT_EQ(m_client->WaitFor(4), expected);
}

TEST_F(PortReaderTest, AClientThatTakesNoMoreEndsTheReader) {
    Start();
    m_client->Refuse();
    Send("abc");
    Pass();
    EXPECT_EQ(hh::sys::WaitForSingleObject(m_thread, hh::sys::INFINITE), hh::sys::WAIT_OBJECT_0);
    Send("def");
    EXPECT_EQ(m_client->WaitFor(2, 300ms).size(), 1u);
}

} // namespace
} // namespace terminal
