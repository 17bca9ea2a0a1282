#pragma once
// The terminal window: one modal dialog that fills the screen. It lists the
// ports and line settings, opens and closes the chosen port, shows what the
// reader thread receives as text or hexadecimal with the R and W counts, sends
// the send box (plain or hexadecimal, once or periodically, with the ending
// bytes), saves or logs the display to files next to the program, and holds
// the "NMEA" page on its second tab.
//
// Threads. Every handler runs on the UI thread. The reader thread (one per
// open port, terminal/link's PortReader, with the window as its client) and
// the auto-send thread reach the window only through calls the UI thread runs
// for them; each such call first checks that the dialog still
// exists and, for the reader, that its port is still the open one, so a
// thread that outlives a close or the dialog touches nothing. The UI thread
// never waits for either thread: closing wakes a reader blocked on the port,
// and the port object stays alive until the reader's last call has returned.

#include <platform/system/serial_port.h>
#include <platform/system/thread.h>
#include <platform/window/dialog.h>
#include <terminal/link/port_reader.h>
#include <terminal/page/dlg_nmea.h>
#include <terminal/ui/terminal_ids.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>

namespace terminal {

/// The open port; null when closed. Used on the UI thread only (the reader
/// holds its own reference to the port it reads).
extern std::shared_ptr<hh::sys::SerialPort> g_hComm;
/// The reader thread of the open port; a null handle once closed.
extern hh::sys::Thread g_hReadThread;
/// The auto-send thread; a null handle when none was started.
extern hh::sys::Thread g_hAutoSendThread;
/// The HEX box: received bytes are shown in hexadecimal.
extern std::atomic<int32_t> g_bHexView;
/// 1 after send_Hex, 0 after SEND: the conversion of sends and auto-sends.
extern std::atomic<uint8_t> g_bHexSend;
/// The End(0x1A), Esc(0x1B) and \r\n(0D0A) boxes.
extern std::atomic<int32_t> g_bAppendEnd;
extern std::atomic<int32_t> g_bAppendEsc;
extern std::atomic<int32_t> g_bAppendCrLf;

/// How long the reader waits for the NMEA page to draw a chunk.
inline constexpr uint32_t kDrawPillarWaitMs = 10000;

class CDlgTerminal : public hh::win::Dialog {
public:
    CDlgTerminal();
    ~CDlgTerminal() override;

    /// Opens m_strPort with the chosen settings and starts the reader; 1 on
    /// success, 0 after a failure (reported in a message box).
    int OpenPort();
    /// Closes the port (also when none is open) and resets the NMEA page; returns 1.
    int ClosePort();
    /// Sends the text as SEND / send_Hex / auto-send do (g_bHexSend and the endings).
    void WritePort(std::u16string_view text);
    /// The NMEA page's writer: the bytes one per write on the UI thread; 1 when
    /// all were written (or count is 0), 0 when no port is open or a write fails.
    static int WriteRaw(const uint8_t* data, uint32_t count);

    /// The save button: the display into a new file next to the program.
    void SaveDisplay();
    /// The program's folder, ending in "\"; empty when its path cannot be read.
    static std::u16string GetProgramDir();
    /// GetProgramDir() + "SAVE" + timestamp + ".txt".
    static std::u16string BuildSaveFileName();

    int32_t RxTotal() const { return m_nRxTotal; }
    int32_t TxTotal() const { return m_nTxTotal; }
    int32_t LogMode() const { return m_nLogMode; }
    const std::u16string& LogFile() const { return m_strLogFile; }
    bool IsOpen() const { return m_bOpen != 0; }
    bool KeyboardShown() const { return m_bKeyboard != 0; }
    bool TaskBarShown() const { return m_bTaskBar != 0; }
    bool SendPanelShown() const { return m_bSendPanel != 0; }

protected:
    bool OnInitDialog() override;
    void OnCommand(int id, int code) override;
    hh::win::LRESULT OnNotify(const hh::win::Notification& notification) override;
    void OnTimer(std::uintptr_t id) override;
    void OnDestroy() override;

private:
    struct Anchor;
    struct ReaderSession;

    static uint32_t AutoSendThreadProc(const std::shared_ptr<Anchor>& anchor);
    /// Runs fn on the UI thread with the dialog, if it still exists; false when it is gone.
    static bool OnDialog(const std::shared_ptr<Anchor>& anchor,
                         const std::function<void(CDlgTerminal&)>& fn);
    bool IsCurrent(const ReaderSession& session) const { return m_session.get() == &session; }

    void FillSettingsLists();
    void LayOutControls();
    void ReadSettings();
    void OnOpenClose();
    void OnPanelSwitch();
    void OnTabChanged();
    void SendProcedure();
    void ShowControls(std::initializer_list<int> ids, bool show);
    void LockOpenButton();
    void ShowRxLost();

    hh::win::HICON m_hIcon = nullptr;

    // Port link.
    std::u16string m_strPort;
    std::u16string m_strBaud;
    uint8_t m_byByteSize = 8;
    uint8_t m_byStopBits = hh::sys::ONESTOPBIT;
    uint8_t m_byParity = hh::sys::NOPARITY;
    int32_t m_bOpen = 0;
    int32_t m_nRxTotal = 0;
    int32_t m_nTxTotal = 0;
    /// Received characters the port's device lost since the port was opened,
    /// as last shown (the R label's tooltip and a debug line).
    uint64_t m_nRxLost = 0;
    std::shared_ptr<ReaderSession> m_session;
    std::shared_ptr<PortReader> m_reader;

    // Window.
    int32_t m_bKeyboard = 0;
    int32_t m_bTaskBar = 0;
    int32_t m_bSendPanel = 0;
    std::u16string m_strAutoText;

    // Capture.
    std::u16string m_strLogFile;
    int32_t m_nLogMode = 0;

    std::shared_ptr<Anchor> m_anchor;
    CDlgNMEA m_pageNmea;
};

} // namespace terminal
