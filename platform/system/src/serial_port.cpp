#include "platform/system/serial_port.h"

#include "platform/system/error.h"
#include "platform/system/posix.h"
#include "platform/system/serial_line.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace hh::sys {

namespace {

using SteadyClock = std::chrono::steady_clock;

using posix::Fail;
using posix::FailErrno;

void Signal(int eventFd) {
    uint64_t one = 1;
    // An eventfd only refuses a write when its counter would overflow, which a
    // handful of signals never reaches.
    [[maybe_unused]] ssize_t written = ::write(eventFd, &one, sizeof one);
}

void Drain(int eventFd) {
    uint64_t value = 0;
    [[maybe_unused]] ssize_t got = ::read(eventFd, &value, sizeof value);
}

// Modem-line requests that a device without modem lines (a pseudo-terminal)
// refuses count as done.
bool ModemIoctl(int fd, unsigned long request, int bits) {
    int arg = bits;
    if (ioctl(fd, request, &arg) == 0 || errno == ENOTTY || errno == EINVAL) {
        return true;
    }
    return FailErrno();
}

bool BreakIoctl(int fd, unsigned long request) {
    if (ioctl(fd, request) == 0 || errno == ENOTTY || errno == EINVAL) {
        return true;
    }
    return FailErrno();
}

DCB DefaultDcb() {
    DCB dcb;
    dcb.BaudRate = 9600;
    dcb.fBinary = 1;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fTXContinueOnXoff = 1;
    dcb.XonLim = 512;
    dcb.XoffLim = 128;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    return dcb;
}

} // namespace

struct SerialPort::State {
    int fd = -1;
    int closeFd = -1;   // signalled once by close(): wakes the reader and writers
    int txAbortFd = -1; // signalled by PURGE_TXABORT: wakes a blocked writer
    std::function<void()> afterClose;
    std::thread reader;

    mutable std::mutex mutex;
    std::condition_variable changed;
    bool closed = false;
    bool broken = false;
    int active = 0;

    std::vector<std::byte> queue;
    std::size_t head = 0; // first unread byte of queue
    uint32_t errors = 0;
    uint64_t deviceLostAtOpen = 0; // the device's lost count before this port was open
    uint64_t lost = 0;             // received characters lost since open
    uint32_t eventMask = 0;
    uint32_t history = 0; // events seen since the mask was set or last waited for
    uint64_t maskGeneration = 0;
    uint64_t rxAbortGeneration = 0;
    DCB dcb;
    COMMTIMEOUTS timeouts;

    std::mutex writeMutex; // one WriteFile at a time reaches the device

    std::size_t queued() const { return queue.size() - head; }

    void noteEvents(uint32_t events) {
        history |= events & eventMask;
        changed.notify_all();
    }

    // Queues received bytes; data is scratch space that may be rewritten.
    void append(std::byte* data, std::size_t count) {
        if (dcb.fNull) {
            std::size_t kept = 0;
            for (std::size_t i = 0; i < count; ++i) {
                if (data[i] != std::byte{0}) {
                    data[kept++] = data[i];
                }
            }
            count = kept;
        }
        if (count == 0) {
            return;
        }
        uint32_t events = EV_RXCHAR;
        if (dcb.EvtChar != 0 &&
            std::find(data, data + count, static_cast<std::byte>(dcb.EvtChar)) != data + count) {
            events |= EV_RXFLAG;
        }
        if (head > 0 && head >= queue.size() / 2) {
            queue.erase(queue.begin(), queue.begin() + static_cast<std::ptrdiff_t>(head));
            head = 0;
        }
        queue.insert(queue.end(), data, data + count);
        noteEvents(events);
    }

    std::size_t take(std::byte* out, std::size_t max) {
        std::size_t n = std::min(max, queued());
        if (n == 0) {
            return 0;
        }
        if (queued() == kSerialReceiveQueueLimit) {
            changed.notify_all(); // the reader thread waits for room
        }
        std::memcpy(out, queue.data() + head, n);
        head += n;
        if (head == queue.size()) {
            queue.clear();
            head = 0;
        }
        return n;
    }

    void markBroken() {
        std::lock_guard lock(mutex);
        broken = true;
        changed.notify_all();
    }

    // The host device's count of received characters it lost (hardware
    // overruns and its own buffer overruns); 0 for a device that keeps none
    // (a pseudo-terminal, whose writer simply waits).
    uint64_t deviceLost() const {
        serial_icounter_struct counts{};
        if (ioctl(fd, TIOCGICOUNT, &counts) != 0) {
            return 0;
        }
        return static_cast<uint64_t>(counts.overrun) + static_cast<uint64_t>(counts.buf_overrun);
    }

    // Moves what the host device delivers into the queue until close() or the
    // device vanishes. A full queue stops the reading: the bytes stay in the
    // kernel, which holds a sender with flow control back (a pseudo-terminal's
    // writer waits, a UART with RTS/CTS drops RTS), instead of being lost here.
    void readLoop() {
        std::vector<std::byte> chunk(64 * 1024);
        for (;;) {
            std::size_t room = 0;
            {
                std::unique_lock lock(mutex);
                changed.wait(lock,
                             [this] { return closed || queued() < kSerialReceiveQueueLimit; });
                if (closed) {
                    return;
                }
                room = kSerialReceiveQueueLimit - queued();
            }
            pollfd fds[2] = {{fd, POLLIN, 0}, {closeFd, POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0) {
                if (errno == EINTR) {
                    continue;
                }
                markBroken();
                return;
            }
            if (fds[1].revents != 0) {
                return;
            }
            if (fds[0].revents & POLLIN) {
                ssize_t n = ::read(fd, chunk.data(), std::min(chunk.size(), room));
                if (n > 0) {
                    std::lock_guard lock(mutex);
                    append(chunk.data(), static_cast<std::size_t>(n));
                    continue;
                }
                if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
                    continue;
                }
                markBroken();
                return;
            }
            if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
                markBroken();
                return;
            }
        }
    }
};

namespace {

// Counts a call in progress so that close() can wait for it to leave; fails
// when the port is already closed.
class Call {
public:
    explicit Call(SerialPort::State& s) : s_(s), lock_(s.mutex) {
        ok_ = !s_.closed;
        if (ok_) {
            ++s_.active;
        }
    }
    ~Call() {
        if (!lock_.owns_lock()) {
            lock_.lock();
        }
        if (ok_ && --s_.active == 0) {
            s_.changed.notify_all();
        }
    }
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;

    bool ok() const { return ok_; }
    std::unique_lock<std::mutex>& lock() { return lock_; }

private:
    SerialPort::State& s_;
    std::unique_lock<std::mutex> lock_;
    bool ok_ = false;
};

} // namespace

SerialPort::SerialPort(std::unique_ptr<State> state) : state_(std::move(state)) {}

std::unique_ptr<SerialPort> SerialPort::Open(SerialTarget target) {
    auto state = std::make_unique<State>();
    state->fd = target.fd;
    state->afterClose = std::move(target.afterClose);
    auto release = [&state](uint32_t error) -> std::unique_ptr<SerialPort> {
        for (int fd : {state->fd, state->closeFd, state->txAbortFd}) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
        if (state->afterClose) {
            state->afterClose();
        }
        SetLastError(error);
        return nullptr;
    };
    if (state->fd < 0) {
        return release(ERROR_INVALID_HANDLE);
    }
    if (!::isatty(state->fd)) {
        return release(ERROR_NOT_SUPPORTED);
    }
    int flags = ::fcntl(state->fd, F_GETFL);
    if (flags < 0 || ::fcntl(state->fd, F_SETFL, flags | O_NONBLOCK) < 0) {
        return release(ErrorFromErrno(errno));
    }
    state->dcb = DefaultDcb();
    if (!ApplyLineSettings(state->fd, MapDcbToLine(state->dcb))) {
        return release(ErrorFromErrno(errno, ErrnoContext::DeviceIo));
    }
    ModemIoctl(state->fd, TIOCMBIS, TIOCM_DTR | TIOCM_RTS);
    state->closeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    state->txAbortFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (state->closeFd < 0 || state->txAbortFd < 0) {
        return release(ErrorFromErrno(errno));
    }
    state->deviceLostAtOpen = state->deviceLost();
    State* raw = state.get();
    state->reader = std::thread([raw] { raw->readLoop(); });
    return std::unique_ptr<SerialPort>(new SerialPort(std::move(state)));
}

SerialPort::~SerialPort() {
    close();
}

void SerialPort::close() {
    auto& s = *state_;
    {
        std::unique_lock lock(s.mutex);
        if (s.closed) {
            return;
        }
        s.closed = true;
        Signal(s.closeFd);
        s.changed.notify_all();
        s.changed.wait(lock, [&s] { return s.active == 0; });
    }
    s.reader.join();
    // Drop what the device still holds for sending, as closing a UART does.
    ::tcflush(s.fd, TCIOFLUSH);
    ::close(s.fd);
    ::close(s.closeFd);
    ::close(s.txAbortFd);
    if (s.afterClose) {
        s.afterClose();
    }
}

uint64_t SerialPort::LostBytes() const {
    std::lock_guard lock(state_->mutex);
    return state_->lost;
}

bool SerialPort::broken() const {
    std::lock_guard lock(state_->mutex);
    return state_->broken;
}

bool SerialPort::SetupComm(uint32_t, uint32_t) {
    Call call(*state_);
    return call.ok() || Fail(ERROR_INVALID_HANDLE);
}

bool SerialPort::GetCommState(DCB& dcb) {
    Call call(*state_);
    if (!call.ok()) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    dcb = state_->dcb;
    uint32_t baud = 0;
    if (ReadLineSpeed(state_->fd, baud) && baud != 0) {
        dcb.BaudRate = baud;
    }
    return true;
}

bool SerialPort::SetCommState(const DCB& dcb) {
    auto& s = *state_;
    Call call(s);
    if (!call.ok()) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    if (s.broken) {
        return Fail(ERROR_DEVICE_NOT_CONNECTED);
    }
    if (!IsValidDcb(dcb)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    if (!ApplyLineSettings(s.fd, MapDcbToLine(dcb))) {
        return FailErrno();
    }
    if (dcb.fDtrControl != DTR_CONTROL_HANDSHAKE &&
        !ModemIoctl(s.fd, dcb.fDtrControl == DTR_CONTROL_ENABLE ? TIOCMBIS : TIOCMBIC, TIOCM_DTR)) {
        return false;
    }
    if ((dcb.fRtsControl == RTS_CONTROL_ENABLE || dcb.fRtsControl == RTS_CONTROL_DISABLE) &&
        !ModemIoctl(s.fd, dcb.fRtsControl == RTS_CONTROL_ENABLE ? TIOCMBIS : TIOCMBIC, TIOCM_RTS)) {
        return false;
    }
    s.dcb = dcb;
    s.dcb.DCBlength = sizeof(DCB);
    return true;
}

bool SerialPort::GetCommTimeouts(COMMTIMEOUTS& timeouts) {
    Call call(*state_);
    if (!call.ok()) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    timeouts = state_->timeouts;
    return true;
}

bool SerialPort::SetCommTimeouts(const COMMTIMEOUTS& timeouts) {
    Call call(*state_);
    if (!call.ok()) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    state_->timeouts = timeouts;
    return true;
}

bool SerialPort::EscapeCommFunction(uint32_t function) {
    auto& s = *state_;
    Call call(s);
    if (!call.ok()) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    if (s.broken) {
        return Fail(ERROR_DEVICE_NOT_CONNECTED);
    }
    switch (function) {
    case SETDTR:
        return ModemIoctl(s.fd, TIOCMBIS, TIOCM_DTR);
    case CLRDTR:
        return ModemIoctl(s.fd, TIOCMBIC, TIOCM_DTR);
    case SETRTS:
        return ModemIoctl(s.fd, TIOCMBIS, TIOCM_RTS);
    case CLRRTS:
        return ModemIoctl(s.fd, TIOCMBIC, TIOCM_RTS);
    case SETBREAK:
        return BreakIoctl(s.fd, TIOCSBRK);
    case CLRBREAK:
        return BreakIoctl(s.fd, TIOCCBRK);
    case SETXOFF:
        return ::tcflow(s.fd, TCOOFF) == 0 || FailErrno();
    case SETXON:
        return ::tcflow(s.fd, TCOON) == 0 || FailErrno();
    default:
        return Fail(ERROR_INVALID_PARAMETER);
    }
}

bool SerialPort::SetCommMask(uint32_t mask) {
    auto& s = *state_;
    Call call(s);
    if (!call.ok()) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    s.eventMask = mask;
    s.history = 0;
    ++s.maskGeneration;
    s.changed.notify_all();
    return true;
}

bool SerialPort::GetCommMask(uint32_t& mask) {
    Call call(*state_);
    if (!call.ok()) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    mask = state_->eventMask;
    return true;
}

bool SerialPort::WaitCommEvent(uint32_t& eventMask) {
    auto& s = *state_;
    eventMask = 0;
    Call call(s);
    if (!call.ok()) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    if (s.eventMask == 0) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    uint64_t generation = s.maskGeneration;
    s.changed.wait(call.lock(), [&] {
        return s.closed || s.broken || s.maskGeneration != generation ||
               (s.history & s.eventMask) != 0;
    });
    if (s.closed) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    if (s.maskGeneration != generation) {
        return true;
    }
    if ((s.history & s.eventMask) != 0) {
        eventMask = s.history & s.eventMask;
        s.history &= ~eventMask;
        return true;
    }
    return Fail(ERROR_DEVICE_NOT_CONNECTED);
}

bool SerialPort::ClearCommError(uint32_t* errors, COMSTAT* stat) {
    auto& s = *state_;
    Call call(s);
    if (!call.ok()) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    if (!s.broken) {
        const uint64_t lost = s.deviceLost();
        if (lost > s.deviceLostAtOpen + s.lost) {
            s.lost = lost - s.deviceLostAtOpen;
            s.errors |= CE_OVERRUN;
        }
    }
    if (errors) {
        *errors = s.errors;
    }
    s.errors = 0;
    if (stat) {
        *stat = COMSTAT();
        stat->cbInQue = static_cast<uint32_t>(s.queued());
        int pending = 0;
        if (!s.broken && ioctl(s.fd, TIOCOUTQ, &pending) == 0 && pending > 0) {
            stat->cbOutQue = static_cast<uint32_t>(pending);
        }
    }
    return true;
}

bool SerialPort::PurgeComm(uint32_t flags) {
    auto& s = *state_;
    Call call(s);
    if (!call.ok()) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    if (flags & ~(PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    if (flags & PURGE_RXCLEAR) {
        ::tcflush(s.fd, TCIFLUSH);
        s.queue.clear();
        s.head = 0;
        s.changed.notify_all();
    }
    if (flags & PURGE_TXCLEAR) {
        ::tcflush(s.fd, TCOFLUSH);
    }
    if (flags & PURGE_RXABORT) {
        ++s.rxAbortGeneration;
        s.changed.notify_all();
    }
    if (flags & PURGE_TXABORT) {
        Signal(s.txAbortFd);
    }
    return true;
}

bool SerialPort::read(std::span<std::byte> buffer, uint32_t& bytesRead) {
    auto& s = *state_;
    bytesRead = 0;
    Call call(s);
    if (!call.ok()) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    const COMMTIMEOUTS t = s.timeouts;
    const std::size_t want = buffer.size();
    std::size_t got = s.take(buffer.data(), want);
    bytesRead = static_cast<uint32_t>(got);
    if (got == want) {
        return true;
    }
    if (t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == 0 &&
        t.ReadTotalTimeoutConstant == 0) {
        return true;
    }
    if (s.broken) {
        return got > 0 || Fail(ERROR_DEVICE_NOT_CONNECTED);
    }

    const auto start = SteadyClock::now();
    std::optional<SteadyClock::time_point> totalDeadline;
    std::optional<std::chrono::milliseconds> interval;
    bool returnAtFirstByte = false;
    if (t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == MAXDWORD &&
        t.ReadTotalTimeoutConstant != MAXDWORD) {
        if (got > 0) {
            return true;
        }
        returnAtFirstByte = true;
        totalDeadline = start + std::chrono::milliseconds(t.ReadTotalTimeoutConstant);
    } else {
        if (t.ReadTotalTimeoutMultiplier != 0 || t.ReadTotalTimeoutConstant != 0) {
            uint64_t total = uint64_t{t.ReadTotalTimeoutMultiplier} * want +
                             uint64_t{t.ReadTotalTimeoutConstant};
            totalDeadline = start + std::chrono::milliseconds(total);
        }
        if (t.ReadIntervalTimeout != 0 && t.ReadIntervalTimeout != MAXDWORD) {
            interval = std::chrono::milliseconds(t.ReadIntervalTimeout);
        }
    }

    const uint64_t abortGeneration = s.rxAbortGeneration;
    auto lastByte = SteadyClock::now();
    for (;;) {
        std::optional<SteadyClock::time_point> deadline = totalDeadline;
        if (interval && got > 0) {
            auto gapEnd = lastByte + *interval;
            deadline = deadline ? std::min(*deadline, gapEnd) : gapEnd;
        }
        auto ready = [&] {
            return s.closed || s.broken || s.queued() > 0 || s.rxAbortGeneration != abortGeneration;
        };
        bool woke = true;
        if (deadline) {
            woke = s.changed.wait_until(call.lock(), *deadline, ready);
        } else {
            s.changed.wait(call.lock(), ready);
        }
        if (s.closed) {
            return Fail(ERROR_INVALID_HANDLE);
        }
        if (s.rxAbortGeneration != abortGeneration) {
            return Fail(ERROR_OPERATION_ABORTED);
        }
        if (!woke) {
            return true;
        }
        std::size_t n = s.take(buffer.data() + got, want - got);
        got += n;
        bytesRead = static_cast<uint32_t>(got);
        if (got == want || (returnAtFirstByte && got > 0)) {
            return true;
        }
        if (n > 0) {
            lastByte = SteadyClock::now();
        } else if (s.broken) {
            return got > 0 || Fail(ERROR_DEVICE_NOT_CONNECTED);
        }
    }
}

bool SerialPort::write(std::span<const std::byte> data, uint32_t& bytesWritten) {
    auto& s = *state_;
    bytesWritten = 0;
    Call call(s);
    if (!call.ok()) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    if (s.broken) {
        return Fail(ERROR_DEVICE_NOT_CONNECTED);
    }
    const COMMTIMEOUTS t = s.timeouts;
    // The device write runs without the lock so that reads, waits and status
    // calls go on meanwhile; close() wakes it through closeFd.
    call.lock().unlock();
    std::lock_guard writing(s.writeMutex);
    Drain(s.txAbortFd);

    std::optional<SteadyClock::time_point> deadline;
    if (t.WriteTotalTimeoutMultiplier != 0 || t.WriteTotalTimeoutConstant != 0) {
        uint64_t total = uint64_t{t.WriteTotalTimeoutMultiplier} * data.size() +
                         uint64_t{t.WriteTotalTimeoutConstant};
        deadline = SteadyClock::now() + std::chrono::milliseconds(total);
    }
    const int stops[] = {s.closeFd, s.txAbortFd};
    const posix::Written written = posix::WriteAllPolled(s.fd, data, deadline, stops);
    const std::size_t done = written.bytes;
    uint32_t failure = ERROR_SUCCESS;
    switch (written.end) {
    case posix::WriteEnd::Done:
    case posix::WriteEnd::TimedOut:
        break;
    case posix::WriteEnd::Stopped:
        failure = written.stopIndex == 0 ? ERROR_INVALID_HANDLE : ERROR_OPERATION_ABORTED;
        break;
    case posix::WriteEnd::HungUp:
        failure = ERROR_DEVICE_NOT_CONNECTED;
        break;
    case posix::WriteEnd::Failed:
        failure = ErrorFromErrno(written.error, ErrnoContext::DeviceIo);
        break;
    }
    bytesWritten = static_cast<uint32_t>(done);
    call.lock().lock();
    if (failure == ERROR_DEVICE_NOT_CONNECTED) {
        s.broken = true;
        s.changed.notify_all();
    }
    if (failure != ERROR_SUCCESS) {
        return Fail(failure);
    }
    if (done > 0) {
        s.noteEvents(EV_TXEMPTY);
    }
    return true;
}

} // namespace hh::sys
