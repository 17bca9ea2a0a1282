#include "platform/system/posix.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <vector>

namespace hh::sys::posix {

Fd& Fd::operator=(Fd&& other) noexcept {
    if (this != &other) {
        reset();
        fd_ = other.release();
    }
    return *this;
}

Fd::~Fd() {
    reset();
}

int Fd::release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

void Fd::reset() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

namespace {

// Writes all of data with write(rest, done), again after a signal.
template <typename Write>
bool WriteWhole(std::span<const std::byte> data, std::size_t* written, Write write) {
    std::size_t done = 0;
    bool ok = true;
    while (done < data.size()) {
        const ssize_t n = write(data.subspan(done), done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            if (n == 0) {
                errno = ENOSPC;
            }
            ok = false;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    if (written) {
        *written = done;
    }
    return ok;
}

} // namespace

bool WriteAll(int fd, std::span<const std::byte> data, std::size_t* written) {
    return WriteWhole(data, written, [fd](std::span<const std::byte> rest, std::size_t) {
        return ::write(fd, rest.data(), rest.size());
    });
}

bool WriteAllAt(int fd, std::span<const std::byte> data, off_t offset) {
    return WriteWhole(
        data, nullptr, [fd, offset](std::span<const std::byte> rest, std::size_t done) {
            return ::pwrite(fd, rest.data(), rest.size(), offset + static_cast<off_t>(done));
        });
}

bool WriteAll(int fd, std::string_view text, std::size_t* written) {
    return WriteAll(fd, std::as_bytes(std::span(text.data(), text.size())), written);
}

Written WriteAllPolled(int fd, std::span<const std::byte> data,
                       std::optional<std::chrono::steady_clock::time_point> deadline,
                       std::span<const int> stops) {
    Written result;
    std::vector<pollfd> fds;
    fds.push_back({fd, POLLOUT, 0});
    for (int stop : stops) {
        fds.push_back({stop, POLLIN, 0});
    }
    while (result.bytes < data.size()) {
        const ssize_t n = ::write(fd, data.data() + result.bytes, data.size() - result.bytes);
        if (n > 0) {
            result.bytes += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno != EAGAIN) {
            result.end = WriteEnd::Failed;
            result.error = errno;
            return result;
        }
        int waitMs = -1;
        if (deadline) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(
                *deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                result.end = WriteEnd::TimedOut;
                return result;
            }
            waitMs = static_cast<int>(std::min<int64_t>(left.count(), INT_MAX));
        }
        for (pollfd& p : fds) {
            p.revents = 0;
        }
        if (::poll(fds.data(), fds.size(), waitMs) < 0 && errno != EINTR) {
            result.end = WriteEnd::Failed;
            result.error = errno;
            return result;
        }
        for (std::size_t i = 1; i < fds.size(); ++i) {
            if (fds[i].revents != 0) {
                result.end = WriteEnd::Stopped;
                result.stopIndex = i - 1;
                return result;
            }
        }
        if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
            result.end = WriteEnd::HungUp;
            return result;
        }
    }
    return result;
}

bool Fail(uint32_t error) {
    SetLastError(error);
    return false;
}

bool FailErrno(ErrnoContext context) {
    SetLastErrorFromErrno(errno, context);
    return false;
}

} // namespace hh::sys::posix
