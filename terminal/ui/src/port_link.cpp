// The serial link of the terminal window: open, close, the window as the
// reader's client, sends and WriteRaw for the NMEA page.

#include "dlg_terminal_internal.h"

#include <platform/system/clock.h>
#include <platform/system/code_page.h>
#include <platform/system/error.h>
#include <platform/system/stream_device.h>
#include <platform/system/trace.h>
#include <platform/system/wait.h>
#include <platform/window/message_box.h>
#include <platform/window/ui_thread.h>
#include <terminal/core/receive_text.h>
#include <terminal/core/send_data.h>
#include <terminal/core/settings.h>
#include <terminal/page/shared_state.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <span>

namespace terminal {

using namespace hh::win;
using hh::sys::SerialPort;

namespace {

bool InitDCB(SerialPort& port, uint32_t baudRate, uint8_t byteSize, uint8_t parity,
             uint8_t stopBits) {
    hh::sys::DCB dcb;
    dcb.DCBlength = sizeof(dcb);
    if (!port.GetCommState(dcb)) {
        return false;
    }
    dcb.BaudRate = baudRate;
    dcb.fOutxCtsFlow = 0;
    dcb.fRtsControl = hh::sys::RTS_CONTROL_DISABLE;
    dcb.fParity = 1;
    dcb.ByteSize = byteSize;
    dcb.Parity = parity;
    dcb.StopBits = stopBits;
    return port.SetCommState(dcb);
}

bool InitCommTimeouts(SerialPort& port) {
    hh::sys::COMMTIMEOUTS timeouts;
    if (!port.GetCommTimeouts(timeouts)) {
        return false;
    }
    timeouts.ReadIntervalTimeout = hh::sys::MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = 10;
    timeouts.ReadTotalTimeoutConstant = 10;
    timeouts.WriteTotalTimeoutMultiplier = 50;
    timeouts.WriteTotalTimeoutConstant = 100;
    return port.SetCommTimeouts(timeouts);
}

} // namespace

int CDlgTerminal::OpenPort() {
    std::unique_ptr<hh::sys::StreamDevice> device = hh::sys::OpenStreamDevice(
        m_strPort, hh::sys::GENERIC_READ | hh::sys::GENERIC_WRITE, 0, hh::sys::OPEN_EXISTING, 0);
    if (!device) {
        g_hComm.reset();
        MessageBox(this,
                   FormatMessage(u"Unable to open %s, Error No.=%d", m_strPort.c_str(),
                                 static_cast<int>(hh::sys::GetLastError())),
                   u"Error", MB_OK);
        return 0;
    }
    // A device of another driver has no line settings: it fails like a port
    // that refuses them. A port that cannot be configured is released again
    // (the last reference closes it), so that it can be opened once more.
    std::shared_ptr<SerialPort> port(dynamic_cast<SerialPort*>(device.get()));
    if (port) {
        device.release();
        port->SetupComm(512, 512);
    }
    if (!port || !InitDCB(*port, BaudFromText(m_strBaud), m_byByteSize, m_byParity, m_byStopBits)) {
        MessageBox(this, u"Unable to configure the serial port", u"Error", MB_OK);
        MessageBox(this, u"InitDCB", u"err", MB_OK);
        return 0;
    }
    if (!InitCommTimeouts(*port)) {
        MessageBox(this, u"Unable to set the time-out parameters", u"Error", MB_OK);
        MessageBox(this, u"InitCommTimeouts", u"err", MB_OK);
        return 0;
    }
    port->EscapeCommFunction(hh::sys::SETDTR);
    port->EscapeCommFunction(hh::sys::SETRTS);

    auto session = std::make_shared<ReaderSession>(m_anchor);
    auto reader = PortReader::Create(port, session, {&g_bHexView, &g_bAnalyze});
    g_hReadThread = reader->Start();
    if (!g_hReadThread) {
        MessageBox(this, u"Unable to create the read thread", u"Error", MB_OK);
        return 0;
    }
    g_hComm = port;
    m_nRxLost = 0;
    if (Control* label = GetDlgItem(IDC_RX_COUNT)) {
        label->SetToolTip({});
    }
    m_session = session;
    m_reader = reader;

    LockOpenButton();
    SetDlgItemText(IDC_BTN_OPEN, u"close");
    SetWindowText(std::u16string(kTerminalTitle) + u"[" + m_strPort + u"OK " + m_strBaud + u"bps]");
    return 1;
}

int CDlgTerminal::ClosePort() {
    m_nRxTotal = 0;
    m_nTxTotal = 0;
    if (m_reader) {
        m_reader->Stop();
        m_reader.reset();
    }
    m_session.reset();
    if (g_hComm) {
        // Clearing the mask releases a reader waiting for characters; close()
        // wakes any other call in progress and waits only for it to leave the port.
        g_hComm->SetCommMask(0);
        g_hComm->EscapeCommFunction(hh::sys::CLRDTR);
        g_hComm->EscapeCommFunction(hh::sys::CLRRTS);
        g_hComm->PurgeComm(hh::sys::PURGE_TXCLEAR | hh::sys::PURGE_RXCLEAR);
        g_hComm->close();
        g_hComm.reset();
    }
    if (g_hReadThread) {
        g_hReadThread.close();
    }
    // The page goes before the dialog when the window is destroyed.
    if (CDlgNMEA* page = g_pNmeaPage.load(); page && page->IsCreated()) {
        page->ResetPage();
        page->StopTtff();
    }
    LockOpenButton();
    SetDlgItemText(IDC_BTN_OPEN, u"open");
    SetWindowText(kTerminalTitle);
    return 1;
}

void CDlgTerminal::LockOpenButton() {
    if (Control* button = GetDlgItem(IDC_BTN_OPEN)) {
        button->EnableWindow(false);
    }
    SetTimer(TIMER_OPENBUTTON, kOpenButtonLockMs);
}

void CDlgTerminal::OnOpenClose() {
    ReadSettings();
    const int result = m_bOpen ? ClosePort() : OpenPort();
    if (result == 1) {
        m_bOpen = !m_bOpen;
    }
}

void CDlgTerminal::WritePort(std::u16string_view text) {
    if (!g_hComm) {
        hh::sys::OutputDebugStringA("obrel->Write com data failed, com was closed.\n");
        return;
    }
    const bool hex = g_bHexSend.load() == 1;
    std::vector<uint8_t> data;
    if (hex) {
        data = HexSendBytes(text);
    } else {
        const std::string ansi = hh::sys::WideToAnsi(text);
        data.assign(ansi.begin(), ansi.end());
    }
    const SendEndings endings{g_bAppendEnd.load() != 0, g_bAppendCrLf.load() != 0,
                              g_bAppendEsc.load() != 0};
    const std::vector<uint8_t> buffer = BuildSendBuffer(std::move(data), hex, endings);
    m_nTxTotal += SentCharacterCount(text);
    SetDlgItemInt(IDC_TX_COUNT, m_nTxTotal);
    WriteBytes(*g_hComm, buffer);
}

void CDlgTerminal::ShowRxLost() {
    // A device that could not be held back (no flow control) lost bytes
    // before the port could take them. The R label keeps counting what was
    // received; the loss shows in its tooltip and in the debug output.
    const uint64_t lost = g_hComm ? g_hComm->LostBytes() : 0;
    if (lost == m_nRxLost) {
        return;
    }
    m_nRxLost = lost;
    const std::string text = "Receive overrun: " + std::to_string(lost) + " bytes lost";
    if (Control* label = GetDlgItem(IDC_RX_COUNT)) {
        label->SetToolTip(hh::sys::Utf8ToUtf16(text));
    }
    hh::sys::DebugPrintf("%s: %s\n", hh::sys::Utf16ToUtf8(m_strPort).c_str(), text.c_str());
}

int CDlgTerminal::WriteRaw(const uint8_t* data, uint32_t count) {
    return CallOnUiThread([&] {
        if (!g_hComm) {
            return 0;
        }
        return WriteBytes(*g_hComm, std::span(data, count)) ? 1 : 0;
    });
}

bool CDlgTerminal::ReaderSession::ChunkReceived(std::u16string_view text, uint32_t bytes) {
    bool delivered = false;
    OnDialog(anchor, [&](CDlgTerminal& dlg) {
        // Bytes read just before a close belong to the closed port.
        if (!dlg.IsCurrent(*this)) {
            return;
        }
        if (auto* display = dlg.Item<Edit>(IDC_EDIT_RECEIVE)) {
            // Always at the end, so the display keeps the stream whole and in order.
            const long end = display->GetWindowTextLength();
            display->SetSel(end, end);
            display->ScrollCaret();
            display->ReplaceSel(text);
        }
        dlg.m_nRxTotal += static_cast<int32_t>(bytes);
        dlg.SetDlgItemInt(IDC_RX_COUNT, dlg.m_nRxTotal);
        dlg.ShowRxLost();
        delivered = true;
    });
    return delivered;
}

void CDlgTerminal::ReaderSession::HandToPage(const std::u16string& chunk) {
    // The page gets its own copy: a chunk the reader gave up waiting for must
    // not change, or vanish, while the page still reads it.
    auto copy = std::make_shared<const std::u16string>(chunk);
    PostToUiThread([copy, anchor = anchor] {
        Dialog* page = g_hNmeaPage.load();
        if (anchor->dialog && page && page->IsCreated()) {
            page->SendMessage(WM_NMEA_DATA, reinterpret_cast<WPARAM>(copy.get()), 0);
        } else {
            // No page to draw it: release the reader at once.
            g_hDrawPillarEvent.set();
        }
    });
    hh::sys::WaitForSingleObject(g_hDrawPillarEvent, kDrawPillarWaitMs);
}

} // namespace terminal
