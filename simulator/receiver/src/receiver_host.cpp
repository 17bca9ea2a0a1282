#include "simulator/receiver/receiver_host.h"

#include "platform/system/error.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <span>

namespace hh::sim {

namespace {

using SteadyClock = std::chrono::steady_clock;

// A receiver does not wait for a terminal that stopped reading: what the line
// cannot take within this time is dropped.
constexpr int kWriteGiveUpMs = 1000;

} // namespace

std::unique_ptr<PtyReceiverHost> PtyReceiverHost::Start(std::unique_ptr<BurstSource> source,
                                                        Pacing pacing,
                                                        std::chrono::milliseconds period) {
    std::unique_ptr<PtyReceiverHost> host(new PtyReceiverHost());
    host->source_ = std::move(source);
    host->pacing_ = pacing;
    host->period_ = period;
    // Raw from the start: no echo of the bursts back to the host, no CR/LF
    // translation, before the port sets its own mode.
    termios raw{};
    cfmakeraw(&raw);
    char name[128] = {};
    int master = -1;
    int device = -1;
    if (openpty(&master, &device, name, &raw, nullptr) != 0) {
        sys::SetLastErrorFromErrno(errno);
        return nullptr;
    }
    host->master_ = sys::posix::Fd(master);
    host->device_ = sys::posix::Fd(device);
    host->path_ = name;
    int flags = ::fcntl(master, F_GETFL);
    host->stopFd_ = sys::posix::Fd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (flags < 0 || ::fcntl(master, F_SETFL, flags | O_NONBLOCK | O_CLOEXEC) < 0 ||
        ::fcntl(master, F_SETFD, FD_CLOEXEC) < 0 || !host->stopFd_.valid()) {
        sys::SetLastErrorFromErrno(errno);
        return nullptr;
    }
    ::fcntl(device, F_SETFD, FD_CLOEXEC);
    PtyReceiverHost* raw_host = host.get();
    host->thread_ = std::thread([raw_host] { raw_host->run(); });
    return host;
}

PtyReceiverHost::~PtyReceiverHost() {
    stop();
}

int PtyReceiverHost::takeDeviceFd() {
    return device_.release();
}

void PtyReceiverHost::stop() {
    if (thread_.joinable()) {
        uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(stopFd_.get(), &one, sizeof one);
        thread_.join();
    }
    stopped_ = true;
}

bool PtyReceiverHost::emitNow() {
    return !stopped_ && sendBurst();
}

bool PtyReceiverHost::sendBurst() {
    std::lock_guard lock(mutex_);
    std::string burst = source_->nextBurst();
    bool ok = writeAll(burst);
    if (ok) {
        ++sent_;
    }
    return ok;
}

bool PtyReceiverHost::writeAll(const std::string& bytes) {
    const int stops[] = {stopFd_.get()};
    const sys::posix::Written written = sys::posix::WriteAllPolled(
        master_.get(), std::as_bytes(std::span(bytes.data(), bytes.size())),
        SteadyClock::now() + std::chrono::milliseconds(kWriteGiveUpMs), stops);
    // What the line did not take in time is dropped; a stop or a closed
    // device end ends the host.
    return written.end == sys::posix::WriteEnd::Done ||
           written.end == sys::posix::WriteEnd::TimedOut;
}

void PtyReceiverHost::run() {
    auto next = SteadyClock::now();
    char buf[512];
    for (;;) {
        int timeout = -1;
        if (pacing_ == Pacing::RealTime) {
            auto now = SteadyClock::now();
            if (now >= next) {
                if (!sendBurst()) {
                    break;
                }
                next += period_;
                // After a stall (a suspended host), carry on from now instead
                // of sending the missed seconds in one rush.
                if (next <= now) {
                    next = now + period_;
                }
            }
            timeout = static_cast<int>(
                std::chrono::ceil<std::chrono::milliseconds>(next - SteadyClock::now()).count());
            timeout = std::max(timeout, 0);
        }
        pollfd fds[2] = {{master_.get(), POLLIN, 0}, {stopFd_.get(), POLLIN, 0}};
        if (::poll(fds, 2, timeout) < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        if (fds[1].revents != 0) {
            break;
        }
        if (fds[0].revents & POLLIN) {
            ssize_t n = ::read(master_.get(), buf, sizeof buf);
            if (n > 0) {
                std::lock_guard lock(mutex_);
                source_->receive(std::string_view(buf, static_cast<std::size_t>(n)));
                heard_ += static_cast<uint64_t>(n);
                continue;
            }
            if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
                continue;
            }
            break; // EIO: the device end was closed
        }
        if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
            break;
        }
    }
    stopped_ = true;
}

} // namespace hh::sim
