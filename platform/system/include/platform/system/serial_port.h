#pragma once
// Serial ports "COM0:" ... "COM10:" over the host's terminal devices (termios).
//
// A port is a stream device of the "COM" driver (RegisterSerialDriver). COM<n>
// resolves to a host device: the environment variable HANDHELD_COM<n> (a device
// path such as /dev/ttyUSB0 or /dev/pts/5, "gps" for the simulated receiver, or
// "replay:FILE" for a recorded log played back) overrides the device's own
// mapping, which has COM7 -> "gps" and nothing else. Targets other than a path
// are provided by a backend through RegisterSerialTargetProvider, so that the
// platform knows nothing of the simulator.
//
// Receiving: from open to close a reader thread moves every byte the host
// device delivers into the port's own receive queue, so that a caller that
// polls every 500 ms loses nothing at any baud rate, whatever queue size it
// asked for in SetupComm. A byte that left the host device is never dropped:
// while the queue holds kSerialReceiveQueueLimit bytes the port stops reading,
// and the kernel holds back a sender with flow control (the writer of a
// pseudo-terminal waits; a UART with RTS/CTS lowers RTS). What a device could
// not hold back and lost itself (its hardware or driver buffer overran, as
// the kernel counts it) is reported as CE_OVERRUN and counted in LostBytes().
//
// Time-outs of reads, writes and the wait are the driver's own timers and run
// in real time, as a UART's do; they are in milliseconds and short.
//
// A host device that vanishes while open (USB adapter unplugged, the far end of
// a pseudo-terminal closed) breaks the port: bytes already queued can still be
// read, then reads, writes and WaitCommEvent fail at once with
// ERROR_DEVICE_NOT_CONNECTED. Closing always works, and the same COM port can
// be opened again.
//
// Lifetime and threads: every operation may be called from any thread. close()
// (also run by the destructor) wakes every thread blocked in WaitCommEvent,
// read or write; those calls return false with ERROR_INVALID_HANDLE, and
// close() waits for them to leave before it releases the host device. Calls
// made after close() fail the same way. The object itself must outlive every
// call on it: a handle layer that lets one thread close a port that another
// thread is using keeps the object alive (shared ownership of the
// StreamDevice) until the last call has returned, and calls close() at
// CloseHandle.

#include "platform/system/stream_device.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace hh::sys {

inline constexpr uint32_t MAXDWORD = 0xFFFFFFFFu;

// Parity codes of DCB::Parity.
inline constexpr uint8_t NOPARITY = 0;
inline constexpr uint8_t ODDPARITY = 1;
inline constexpr uint8_t EVENPARITY = 2;
inline constexpr uint8_t MARKPARITY = 3;
inline constexpr uint8_t SPACEPARITY = 4;

// Stop-bit codes of DCB::StopBits.
inline constexpr uint8_t ONESTOPBIT = 0;
inline constexpr uint8_t ONE5STOPBITS = 1;
inline constexpr uint8_t TWOSTOPBITS = 2;

// DCB::fDtrControl and DCB::fRtsControl.
inline constexpr uint32_t DTR_CONTROL_DISABLE = 0;
inline constexpr uint32_t DTR_CONTROL_ENABLE = 1;
inline constexpr uint32_t DTR_CONTROL_HANDSHAKE = 2;
inline constexpr uint32_t RTS_CONTROL_DISABLE = 0;
inline constexpr uint32_t RTS_CONTROL_ENABLE = 1;
inline constexpr uint32_t RTS_CONTROL_HANDSHAKE = 2;
inline constexpr uint32_t RTS_CONTROL_TOGGLE = 3;

// EscapeCommFunction codes.
inline constexpr uint32_t SETXOFF = 1;
inline constexpr uint32_t SETXON = 2;
inline constexpr uint32_t SETRTS = 3;
inline constexpr uint32_t CLRRTS = 4;
inline constexpr uint32_t SETDTR = 5;
inline constexpr uint32_t CLRDTR = 6;
inline constexpr uint32_t SETBREAK = 8;
inline constexpr uint32_t CLRBREAK = 9;

// Event mask bits of SetCommMask / WaitCommEvent.
inline constexpr uint32_t EV_RXCHAR = 0x0001;
inline constexpr uint32_t EV_RXFLAG = 0x0002;
inline constexpr uint32_t EV_TXEMPTY = 0x0004;
inline constexpr uint32_t EV_CTS = 0x0008;
inline constexpr uint32_t EV_DSR = 0x0010;
inline constexpr uint32_t EV_RLSD = 0x0020;
inline constexpr uint32_t EV_BREAK = 0x0040;
inline constexpr uint32_t EV_ERR = 0x0080;
inline constexpr uint32_t EV_RING = 0x0100;

// Error bits of ClearCommError.
inline constexpr uint32_t CE_RXOVER = 0x0001;
inline constexpr uint32_t CE_OVERRUN = 0x0002;
inline constexpr uint32_t CE_RXPARITY = 0x0004;
inline constexpr uint32_t CE_FRAME = 0x0008;
inline constexpr uint32_t CE_BREAK = 0x0010;

// PurgeComm flags.
inline constexpr uint32_t PURGE_TXABORT = 0x1;
inline constexpr uint32_t PURGE_RXABORT = 0x2;
inline constexpr uint32_t PURGE_TXCLEAR = 0x4;
inline constexpr uint32_t PURGE_RXCLEAR = 0x8;

/// Line settings of a port, field for field as on the device.
struct DCB {
    uint32_t DCBlength = sizeof(DCB);
    uint32_t BaudRate = 0;
    uint32_t fBinary : 1;
    uint32_t fParity : 1;
    uint32_t fOutxCtsFlow : 1;
    uint32_t fOutxDsrFlow : 1;
    uint32_t fDtrControl : 2;
    uint32_t fDsrSensitivity : 1;
    uint32_t fTXContinueOnXoff : 1;
    uint32_t fOutX : 1;
    uint32_t fInX : 1;
    uint32_t fErrorChar : 1;
    uint32_t fNull : 1;
    uint32_t fRtsControl : 2;
    uint32_t fAbortOnError : 1;
    uint32_t fDummy2 : 17;
    uint16_t wReserved = 0;
    uint16_t XonLim = 0;
    uint16_t XoffLim = 0;
    uint8_t ByteSize = 8;
    uint8_t Parity = NOPARITY;
    uint8_t StopBits = ONESTOPBIT;
    char XonChar = 0;
    char XoffChar = 0;
    char ErrorChar = 0;
    char EofChar = 0;
    char EvtChar = 0;
    uint16_t wReserved1 = 0;

    DCB()
        : fBinary(0), fParity(0), fOutxCtsFlow(0), fOutxDsrFlow(0), fDtrControl(0),
          fDsrSensitivity(0), fTXContinueOnXoff(0), fOutX(0), fInX(0), fErrorChar(0), fNull(0),
          fRtsControl(0), fAbortOnError(0), fDummy2(0) {}
};

/// Read and write time-outs in milliseconds. ReadIntervalTimeout MAXDWORD with
/// both read totals 0 returns at once with what is queued; MAXDWORD with
/// multiplier MAXDWORD and a constant below MAXDWORD returns at once when
/// something is queued, else at the first byte or after the constant. Otherwise
/// a read ends when the buffer is full, after multiplier * length + constant
/// (no limit when both are 0), or when the gap after a byte exceeds
/// ReadIntervalTimeout (0 or MAXDWORD: no gap limit). A write ends when all is
/// written or after WriteTotalTimeoutMultiplier * length +
/// WriteTotalTimeoutConstant (no limit when both are 0). A time-out is not an
/// error: the call succeeds with the count transferred.
struct COMMTIMEOUTS {
    uint32_t ReadIntervalTimeout = 0;
    uint32_t ReadTotalTimeoutMultiplier = 0;
    uint32_t ReadTotalTimeoutConstant = 0;
    uint32_t WriteTotalTimeoutMultiplier = 0;
    uint32_t WriteTotalTimeoutConstant = 0;
};

/// Port status from ClearCommError.
struct COMSTAT {
    uint32_t fCtsHold : 1;
    uint32_t fDsrHold : 1;
    uint32_t fRlsdHold : 1;
    uint32_t fXoffHold : 1;
    uint32_t fXoffSent : 1;
    uint32_t fEof : 1;
    uint32_t fTxim : 1;
    uint32_t fReserved : 25;
    uint32_t cbInQue = 0;  ///< bytes in the port's receive queue
    uint32_t cbOutQue = 0; ///< bytes the host device has not sent yet

    COMSTAT()
        : fCtsHold(0), fDsrHold(0), fRlsdHold(0), fXoffHold(0), fXoffSent(0), fEof(0), fTxim(0),
          fReserved(0) {}
};

/// Receive queue capacity of every port.
inline constexpr std::size_t kSerialReceiveQueueLimit = 16u << 20;

/// A host device for a port: an open file descriptor of a terminal device,
/// which the port takes over, and what must run after the port has closed it
/// (a simulated receiver stops its host thread there).
struct SerialTarget {
    int fd = -1;
    std::function<void()> afterClose;
};

/// Makes the host device for a mapping "scheme" or "scheme:argument"; returns
/// nothing with the last error set when it cannot.
using SerialTargetProvider = std::function<std::optional<SerialTarget>(std::string_view argument)>;

class SerialPort final : public StreamDevice {
public:
    /// Takes over a host device and sets it to raw 9600 baud, 8 data bits, no
    /// parity, one stop bit, DTR and RTS on. Null with the last error set
    /// (ERROR_NOT_SUPPORTED when fd is no terminal device).
    static std::unique_ptr<SerialPort> Open(SerialTarget target);
    ~SerialPort() override;
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    /// Accepts any queue sizes: the receive queue is always kSerialReceiveQueueLimit.
    bool SetupComm(uint32_t inQueue, uint32_t outQueue);
    /// The current settings, with the baud rate the host device reports.
    bool GetCommState(DCB& dcb);
    /// Applies ByteSize 5..8, Parity 0..4, StopBits 0..2 and any non-zero baud
    /// rate (rates without a termios constant included), flow control, XON/XOFF
    /// characters and the DTR/RTS control; ERROR_INVALID_PARAMETER otherwise.
    /// ONE5STOPBITS asks for the long stop bit (termios CSTOPB): a UART gives 1.5
    /// stop bits with 5 data bits and 2 otherwise. A pseudo-terminal keeps
    /// settings it cannot apply, and they read back as set.
    bool SetCommState(const DCB& dcb);
    bool GetCommTimeouts(COMMTIMEOUTS& timeouts);
    bool SetCommTimeouts(const COMMTIMEOUTS& timeouts);
    /// SETDTR, CLRDTR, SETRTS, CLRRTS, SETBREAK, CLRBREAK, SETXOFF, SETXON. A host
    /// device without modem lines (a pseudo-terminal) accepts and ignores them.
    bool EscapeCommFunction(uint32_t function);
    /// Sets the event mask, forgets events seen so far and releases a pending
    /// WaitCommEvent, which then succeeds with mask 0.
    bool SetCommMask(uint32_t mask);
    bool GetCommMask(uint32_t& mask);
    /// Blocks until an event of the mask occurs after the mask was set
    /// (EV_RXCHAR, EV_RXFLAG, EV_TXEMPTY, EV_ERR), and reports which. Fails at
    /// once with ERROR_INVALID_PARAMETER when the mask is 0.
    bool WaitCommEvent(uint32_t& eventMask);
    /// Reports and clears the error bits; fills stat when given.
    bool ClearCommError(uint32_t* errors, COMSTAT* stat);
    /// PURGE_RXCLEAR empties the receive queue, PURGE_TXCLEAR drops unsent
    /// output, PURGE_RXABORT / PURGE_TXABORT end pending reads / writes
    /// (ERROR_OPERATION_ABORTED).
    bool PurgeComm(uint32_t flags);

    /// ReadFile: from the receive queue, honouring the read time-outs.
    bool read(std::span<std::byte> buffer, uint32_t& bytesRead) override;
    /// WriteFile: to the host device, honouring the write time-outs.
    bool write(std::span<const std::byte> data, uint32_t& bytesWritten) override;

    /// Wakes and waits for calls in progress, stops the reader thread and closes
    /// the host device; later calls fail with ERROR_INVALID_HANDLE.
    void close();
    /// True once the host device has vanished.
    bool broken() const;
    /// Received characters the host device lost since open, as far as
    /// ClearCommError has seen (0 for a pseudo-terminal).
    uint64_t LostBytes() const;

    /// The port's shared state, defined by the implementation.
    struct State;

private:
    explicit SerialPort(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

/// Registers the "COM" stream driver (idempotent; call at program start).
void RegisterSerialDriver();
/// Registers (or replaces) the provider of a mapping scheme such as "gps" or "replay".
void RegisterSerialTargetProvider(std::string_view scheme, SerialTargetProvider provider);
void UnregisterSerialTargetProvider(std::string_view scheme);
/// Number of COM ports: COM0 ... COM10.
inline constexpr unsigned kSerialPortCount = 11;
/// What COM<index> maps to: the HANDHELD_COM<index> value when set and not
/// empty, else the device's own mapping ("gps" for COM7); nothing when the port
/// is unmapped or index is beyond COM10.
std::optional<std::string> SerialPortMapping(unsigned index);
/// Opens the host device of a mapping text (a path, "gps", "replay:FILE").
/// Null with ERROR_FILE_NOT_FOUND for a missing device or unknown scheme.
std::unique_ptr<SerialPort> OpenSerialTarget(std::string_view mapping);

} // namespace hh::sys
