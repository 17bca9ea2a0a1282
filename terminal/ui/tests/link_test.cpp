// The port link through real pseudo-terminals: open and close, line settings,
// the reader with its cadence, text and hexadecimal views, sends, auto-send,
// a vanishing device.

#include "terminal_fixture.h"

#include <platform/system/serial_port.h>
#include <platform/system/stream_device.h>
#include <platform/window/testing.h>
#include <terminal/core/receive_text.h>
#include <terminal/page/shared_state.h>

#include <thread>

namespace terminal::test {
namespace {

using namespace hh::win;
using namespace std::chrono_literals;
namespace wt = hh::win::testing;

/// Printable lines of n bytes in all, each ending in CR LF, numbered so that
/// a lost, doubled or reordered piece shows.
std::string Stream(std::size_t n) {
    std::string s;
    for (int line = 0; s.size() < n; ++line) {
        s += "$LINE," + std::to_string(line) + ",ABCDEFGHIJKLMNOPQRSTUVWXYZ\r\n";
    }
    s.resize(n);
    return s;
}

TEST_F(TerminalTest, OpenShowsThePortInTheTitleAndLocksTheButtonForOneSecond) {
    auto pty = MapPort(3);
    Run([&](CDlgTerminal& dlg) {
        SelectPort(dlg, 3);
        wt::SelectComboEntry(dlg, IDC_COMBO_BAUD, 1);
        PressOpen(dlg);
        ASSERT_TRUE(dlg.IsOpen());
        EXPECT_EQ(dlg.GetWindowText(), u"VARDI 1.7I[COM3:OK 9600bps]");
        EXPECT_EQ(Text(dlg, IDC_BTN_OPEN), u"close");
        EXPECT_FALSE(Enabled(dlg, IDC_BTN_OPEN));
        wt::AdvanceAndProcess(*m_clock, 999ms);
        EXPECT_FALSE(Enabled(dlg, IDC_BTN_OPEN));
        wt::AdvanceAndProcess(*m_clock, 1ms);
        EXPECT_TRUE(Enabled(dlg, IDC_BTN_OPEN));

        PressOpen(dlg);
        EXPECT_FALSE(dlg.IsOpen());
        EXPECT_FALSE(g_hComm);
        EXPECT_EQ(dlg.GetWindowText(), u"VARDI 1.7I");
        EXPECT_EQ(Text(dlg, IDC_BTN_OPEN), u"open");
        EXPECT_FALSE(Enabled(dlg, IDC_BTN_OPEN));
        wt::AdvanceAndProcess(*m_clock, 1000ms);
        EXPECT_TRUE(Enabled(dlg, IDC_BTN_OPEN));
    });
}

TEST_F(TerminalTest, LineSettingsComeFromTheListPositions) {
    struct Case {
        int baud, byteSize, stopBits, parity;
        uint32_t rate;
        uint8_t dcbByteSize, dcbStopBits, dcbParity;
    };
    const Case cases[] = {
        {4, 3, 0, 2, 38400, 8, hh::sys::ONESTOPBIT, hh::sys::NOPARITY},
        {13, 2, 2, 3, 110, 7, hh::sys::TWOSTOPBITS, hh::sys::ODDPARITY},
        {6, 0, 1, 0, 115200, 5, hh::sys::ONE5STOPBITS, hh::sys::EVENPARITY},
        {8, 1, 0, 4, 256000, 6, hh::sys::ONESTOPBIT, hh::sys::SPACEPARITY},
    };
    auto pty = MapPort(2);
    Run([&](CDlgTerminal& dlg) {
        SelectPort(dlg, 2);
        for (const Case& c : cases) {
            wt::SelectComboEntry(dlg, IDC_COMBO_BAUD, c.baud);
            wt::SelectComboEntry(dlg, IDC_COMBO_BYTESIZE, c.byteSize);
            wt::SelectComboEntry(dlg, IDC_COMBO_STOPBITS, c.stopBits);
            wt::SelectComboEntry(dlg, IDC_COMBO_PARITY, c.parity);
            PressOpen(dlg);
            ASSERT_TRUE(dlg.IsOpen());
            hh::sys::DCB dcb;
            ASSERT_TRUE(g_hComm->GetCommState(dcb));
            EXPECT_EQ(dcb.BaudRate, c.rate);
            EXPECT_EQ(dcb.ByteSize, c.dcbByteSize);
            EXPECT_EQ(dcb.StopBits, c.dcbStopBits);
            EXPECT_EQ(dcb.Parity, c.dcbParity);
            EXPECT_EQ(dcb.fParity, 1u);
            EXPECT_EQ(dcb.fOutxCtsFlow, 0u);
            EXPECT_EQ(dcb.fRtsControl, hh::sys::RTS_CONTROL_DISABLE);
            hh::sys::COMMTIMEOUTS timeouts;
            ASSERT_TRUE(g_hComm->GetCommTimeouts(timeouts));
            EXPECT_EQ(timeouts.ReadIntervalTimeout, hh::sys::MAXDWORD);
            EXPECT_EQ(timeouts.ReadTotalTimeoutMultiplier, 10u);
            EXPECT_EQ(timeouts.ReadTotalTimeoutConstant, 10u);
            EXPECT_EQ(timeouts.WriteTotalTimeoutMultiplier, 50u);
            EXPECT_EQ(timeouts.WriteTotalTimeoutConstant, 100u);
            PressOpen(dlg);
            ASSERT_FALSE(dlg.IsOpen());
        }
    });
}

TEST_F(TerminalTest, PortsThatCannotBeOpenedReportTheLastError) {
    ::setenv("HANDHELD_COM4", "/dev/no-such-serial-device", 1);
    m_mappedVars.push_back("HANDHELD_COM4");
    Run([&](CDlgTerminal& dlg) {
        SelectPort(dlg, 4);
        PressOpen(dlg);
        EXPECT_FALSE(dlg.IsOpen());
        EXPECT_EQ(Text(dlg, IDC_BTN_OPEN), u"open");
        EXPECT_TRUE(Enabled(dlg, IDC_BTN_OPEN));
        EXPECT_EQ(dlg.GetWindowText(), u"VARDI 1.7I");
        // COM1 has no mapping at all.
        SelectPort(dlg, 1);
        PressOpen(dlg);
        EXPECT_FALSE(dlg.IsOpen());
    });
    const auto boxes = Boxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, u"Unable to open COM4:, Error No.=2");
    EXPECT_EQ(boxes[0].caption, u"Error");
    EXPECT_EQ(boxes[1].text, u"Unable to open COM1:, Error No.=2");
}

/// A stream driver for "COM" whose devices are no serial ports: every
/// configuration fails, as on a port that refuses its settings.
class RefusingDriver : public hh::sys::StreamDriver {
public:
    struct Device : hh::sys::StreamDevice {
        explicit Device(int* alive) : alive(alive) { ++*alive; }
        ~Device() override { --*alive; }
        int* alive;
    };
    std::unique_ptr<hh::sys::StreamDevice> open(const hh::sys::OpenRequest&) override {
        return std::make_unique<Device>(&alive);
    }
    int alive = 0;
};

TEST_F(TerminalTest, APortThatRefusesItsSettingsIsReleasedAndReported) {
    auto driver = std::make_shared<RefusingDriver>();
    hh::sys::RegisterStreamDriver("COM", driver);
    Run([&](CDlgTerminal& dlg) {
        PressOpen(dlg);
        EXPECT_FALSE(dlg.IsOpen());
        EXPECT_EQ(driver->alive, 0);
        EXPECT_FALSE(g_hComm);
        EXPECT_EQ(Text(dlg, IDC_BTN_OPEN), u"open");
    });
    hh::sys::RegisterSerialDriver();
    const auto boxes = Boxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, u"Unable to configure the serial port");
    EXPECT_EQ(boxes[0].caption, u"Error");
    EXPECT_EQ(boxes[1].text, u"InitDCB");
    EXPECT_EQ(boxes[1].caption, u"err");
}

TEST_F(TerminalTest, ReceivedBytesAppearAsTextOrHexWithTheRCount) {
    struct Case {
        bool hex;
        std::string bytes;
        std::u16string shown;
    };
    const Case cases[] = {
        {false, "$GPGGA,1\r\n", u"$GPGGA,1\r\n"},
        // A zero byte ends the text of its read; R still counts every byte.
        {false, std::string("AB\0CD", 5), u"AB"},
        {true, "\x0A\x80\xFF", u"A80FF\r\n"},
        {false, "\xE9t\xE9", u"\u00E9t\u00E9"},
    };
    auto pty = MapPort(3);
    Run([&](CDlgTerminal& dlg) {
        SelectPort(dlg, 3);
        PressOpen(dlg);
        int total = 0;
        for (const Case& c : cases) {
            if (c.hex != (dlg.IsDlgButtonChecked(IDC_CHK_HEX) == BST_CHECKED)) {
                ClickBox(dlg, IDC_CHK_HEX);
            }
            wt::Click(dlg, IDC_BTN_CLEAR);
            ASSERT_TRUE(pty->Send(c.bytes));
            total += static_cast<int>(c.bytes.size());
            const std::u16string expected = Wide(std::to_string(total));
            EXPECT_TRUE(PassUntil([&] { return Text(dlg, IDC_RX_COUNT) == expected; }));
            EXPECT_EQ(Text(dlg, IDC_EDIT_RECEIVE), c.shown);
        }
    });
}

TEST_F(TerminalTest, ClosingResetsTheCountsForTheNextOpen) {
    auto pty = MapPort(3);
    Run([&](CDlgTerminal& dlg) {
        SelectPort(dlg, 3);
        PressOpen(dlg);
        ASSERT_TRUE(pty->Send("12345"));
        ASSERT_TRUE(PassUntil([&] { return Text(dlg, IDC_RX_COUNT) == u"5"; }));
        wt::Click(dlg, IDC_BTN_EX);
        dlg.SetDlgItemText(IDC_EDIT_SEND, u"xy");
        wt::Click(dlg, IDC_BTN_SEND);
        EXPECT_EQ(Text(dlg, IDC_TX_COUNT), u"2");
        PressOpen(dlg);
        // The labels keep their values until the next update.
        EXPECT_EQ(Text(dlg, IDC_RX_COUNT), u"5");
        EXPECT_EQ(dlg.RxTotal(), 0);
        EXPECT_EQ(dlg.TxTotal(), 0);
        PressOpen(dlg);
        ASSERT_TRUE(dlg.IsOpen());
        pty->Drain();
        ASSERT_TRUE(pty->Send("abc"));
        EXPECT_TRUE(PassUntil([&] { return Text(dlg, IDC_RX_COUNT) == u"3"; }));
    });
}

TEST_F(TerminalTest, ReceivingGoesOnOnTheNmeaTab) {
    auto pty = MapPort(3);
    Run([&](CDlgTerminal& dlg) {
        SelectPort(dlg, 3);
        PressOpen(dlg);
        wt::SelectTab(dlg, IDC_TAB, 1);
        ASSERT_TRUE(pty->Send("$GPRMC\r\n"));
        EXPECT_TRUE(PassUntil([&] { return Text(dlg, IDC_RX_COUNT) == u"8"; }));
        EXPECT_EQ(Text(dlg, IDC_EDIT_RECEIVE), u"$GPRMC\r\n");
    });
}

TEST_F(TerminalTest, AnalyzeHandsEveryChunkToThePageAndTheReaderGoesOn) {
    const std::string burst = "$GPGSA,A,3,05,12,,,,,,,,,,,2.5,1.3,2.1*3B\r\n"
                              "$GPGSV,1,1,02,05,40,083,46,12,30,200,31*7A\r\n";
    auto pty = MapPort(3);
    Run([&](CDlgTerminal& dlg) {
        SelectPort(dlg, 3);
        PressOpen(dlg);
        CDlgNMEA* page = g_pNmeaPage.load();
        ASSERT_NE(page, nullptr);
        wt::Click(*page, IDC_CHK_ANALYZE);
        ASSERT_EQ(g_bAnalyze.load(), 1);
        int total = 0;
        for (int round = 0; round < 3; ++round) {
            ASSERT_TRUE(pty->Send(burst));
            total += static_cast<int>(burst.size());
            const std::u16string expected = Wide(std::to_string(total));
            // A page that did not signal would hold the reader for 10000 ms (20 passes).
            EXPECT_TRUE(PassUntil([&] { return Text(dlg, IDC_RX_COUNT) == expected; }, 6));
        }
        EXPECT_EQ(page->GetDlgItemText(IDC_VIEW), u"02");
    });
}

TEST_F(TerminalTest, SendsPutTheDataAndEndingsOnTheLineAndCountCharacters) {
    struct Case {
        std::u16string text;
        int button;
        bool end, crLf, esc;
        std::string line;
        int w;
    };
    const Case cases[] = {
        {u"AB", IDC_BTN_SEND, false, true, false, "AB\r\n", 2},
        {u"1A2B3", IDC_BTN_SEND_HEX, false, false, false, "\x1A\x2B", 5},
        {u"", IDC_BTN_SEND, true, true, true, "", 0},
        {u"x", IDC_BTN_SEND, true, true, true, "x\x1A\r\n\x1B", 1},
        {u"\u00E9\u4E2D", IDC_BTN_SEND, false, false, false, "\xE9?", 2},
    };
    auto pty = MapPort(3);
    Run([&](CDlgTerminal& dlg) {
        SelectPort(dlg, 3);
        PressOpen(dlg);
        wt::Click(dlg, IDC_BTN_EX);
        int w = 0;
        for (const Case& c : cases) {
            auto tick = [&](int id, bool on) {
                if ((dlg.IsDlgButtonChecked(id) == BST_CHECKED) != on) {
                    ClickBox(dlg, id);
                }
            };
            tick(IDC_CHK_END, c.end);
            tick(IDC_CHK_CRLF, c.crLf);
            tick(IDC_CHK_ESC, c.esc);
            dlg.SetDlgItemText(IDC_EDIT_SEND, c.text);
            wt::Click(dlg, c.button);
            EXPECT_EQ(pty->Receive(c.line.size()), c.line);
            w += c.w;
            EXPECT_EQ(Text(dlg, IDC_TX_COUNT), Wide(std::to_string(w)));
        }
        EXPECT_EQ(pty->Drain(), "");
    });
}

TEST_F(TerminalTest, AutoSendRepeatsEveryPeriodUntilAutoIsCleared) {
    auto pty = MapPort(3);
    Run([&](CDlgTerminal& dlg) {
        SelectPort(dlg, 3);
        PressOpen(dlg);
        wt::Click(dlg, IDC_BTN_EX);
        dlg.SetDlgItemText(IDC_EDIT_SEND, u"41");
        wt::Click(dlg, IDC_BTN_SEND_HEX);
        EXPECT_EQ(pty->Receive(1), "A");
        dlg.SetDlgItemText(IDC_EDIT_PERIOD, u"300");
        // Ticking Auto sends the text as SEND does (not as hexadecimal), once a period.
        ClickAndTrackAuto(dlg);
        ASSERT_TRUE(wt::ProcessEventsUntil([&] { return !Enabled(dlg, IDC_EDIT_PERIOD); }));
        EXPECT_EQ(pty->Drain(), "");
        for (int i = 0; i < 3; ++i) {
            wt::AdvanceAndProcess(*m_clock, std::chrono::milliseconds(300));
            EXPECT_EQ(pty->Receive(2), "41") << i;
        }
        // The text in force is the one Auto started with.
        dlg.SetDlgItemText(IDC_EDIT_SEND, u"zz");
        wt::AdvanceAndProcess(*m_clock, std::chrono::milliseconds(300));
        EXPECT_EQ(pty->Receive(2), "41");

        ClickBox(dlg, IDC_CHK_AUTO);
        EXPECT_TRUE(PassUntil([&] { return Enabled(dlg, IDC_EDIT_PERIOD); }, 6));
        pty->Drain();
        wt::AdvanceAndProcess(*m_clock, 1000ms);
        EXPECT_EQ(pty->Drain(), "");
    });
}

TEST_F(TerminalTest, EveryByteOfAFastStreamArrivesInOnePassInOrder) {
    // 60000 bytes queued before one pass: one read per pass would show only
    // 4095 of them; the pass drains the queue, one chunk per read.
    const std::string stream = Stream(60000);
    auto pty = MapPort(3);
    Run([&](CDlgTerminal& dlg) {
        SelectPort(dlg, 3);
        PressOpen(dlg);
        ClickBox(dlg, IDC_CHK_HEX);
        std::thread writer([&] { pty->Send(stream); });
        writer.join();
        ASSERT_TRUE(WaitTaken(*pty));
        // The port may still be moving the last bytes it read into its queue
        // when the first pass starts, so a second pass may finish the stream;
        // one read per pass would need fifteen.
        const std::u16string expected = Wide(std::to_string(stream.size()));
        for (int pass = 0; pass < 2 && Text(dlg, IDC_RX_COUNT) != expected; ++pass) {
            ASSERT_TRUE(m_clock->waitForBlockedThreads(1));
            m_clock->advance(500ms);
            wt::ProcessEventsUntil([&] { return Text(dlg, IDC_RX_COUNT) == expected; }, 2s);
        }
        ASSERT_EQ(Text(dlg, IDC_RX_COUNT), expected);
        // More than 30000 characters are shown by then: new text still goes to the end.
        std::u16string shown = Text(dlg, IDC_EDIT_RECEIVE);
        std::erase(shown, u'\r');
        std::erase(shown, u'\n');
        std::u16string all;
        for (const char c : stream) {
            const uint8_t byte = static_cast<uint8_t>(c);
            std::u16string one = HexChunkText(std::span(&byte, 1));
            all += one.substr(0, one.size() - 2);
        }
        ASSERT_GT(shown.size(), 30000u);
        ASSERT_LT(shown.size(), all.size());
        EXPECT_EQ(all.substr(all.size() - shown.size()), shown);
    });
}

TEST_F(TerminalTest, ClosingWhileTheReaderIsBusyIsSafeAndCountsStartAgain) {
    const std::string stream = Stream(40000);
    auto pty = MapPort(3);
    Run([&](CDlgTerminal& dlg) {
        SelectPort(dlg, 3);
        for (int round = 0; round < 6; ++round) {
            PressOpen(dlg);
            ASSERT_TRUE(dlg.IsOpen());
            ASSERT_TRUE(pty->Send(stream));
            ASSERT_TRUE(WaitTaken(*pty));
            // Close while the reader is in its pass, waiting to hand over a chunk.
            m_clock->advance(500ms);
            wt::ProcessEventsUntil([&] { return dlg.RxTotal() > 0; }, 200ms);
            PressOpen(dlg);
            ASSERT_FALSE(dlg.IsOpen());
            EXPECT_EQ(dlg.RxTotal(), 0);
            const std::u16string shown = Text(dlg, IDC_RX_COUNT);
            // Chunks the closed port's reader still held are dropped.
            for (int i = 0; i < 3; ++i) {
                wt::AdvanceAndProcess(*m_clock, 500ms);
            }
            EXPECT_EQ(Text(dlg, IDC_RX_COUNT), shown);
        }
    });
}

TEST_F(TerminalTest, AVanishingDeviceNeitherCrashesNorHangsAndReopenWorks) {
    auto pty = MapPort(3);
    Run([&](CDlgTerminal& dlg) {
        SelectPort(dlg, 3);
        PressOpen(dlg);
        ASSERT_TRUE(pty->Send("before"));
        ASSERT_TRUE(PassUntil([&] { return Text(dlg, IDC_RX_COUNT) == u"6"; }));
        pty->Hangup();
        for (int i = 0; i < 4; ++i) {
            wt::AdvanceAndProcess(*m_clock, 500ms);
        }
        // Sends fail quietly; the window goes on.
        wt::Click(dlg, IDC_BTN_EX);
        dlg.SetDlgItemText(IDC_EDIT_SEND, u"lost");
        wt::Click(dlg, IDC_BTN_SEND);
        EXPECT_EQ(Text(dlg, IDC_TX_COUNT), u"4");
        PressOpen(dlg);
        EXPECT_FALSE(dlg.IsOpen());

        pty = MapPort(3);
        PressOpen(dlg);
        ASSERT_TRUE(dlg.IsOpen());
        ASSERT_TRUE(pty->Send("after"));
        EXPECT_TRUE(PassUntil([&] { return Text(dlg, IDC_RX_COUNT) == u"5"; }));
    });
}

} // namespace
} // namespace terminal::test
