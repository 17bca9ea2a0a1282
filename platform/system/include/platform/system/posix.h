#pragma once
// The host's POSIX calls as the platform and its device backends use them,
// wrapped once: an owned descriptor, whole writes that survive signals, and
// errno turned into the device's last error. Programs reach files and devices
// through the device services instead.

#include <platform/system/error.h>

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <optional>
#include <span>
#include <string_view>

namespace hh::sys::posix {

/// An owned file descriptor, closed when the holder goes.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    Fd(Fd&& other) noexcept : fd_(other.release()) {}
    Fd& operator=(Fd&& other) noexcept;
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd();

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    /// Hands the descriptor over; the holder is empty after.
    int release();
    void reset();

private:
    int fd_ = -1;
};

/// Writes all of data to a blocking descriptor, again after a signal. False
/// with errno set; a write that takes nothing sets ENOSPC. `written`, when
/// given, tells how much went in either way.
bool WriteAll(int fd, std::span<const std::byte> data, std::size_t* written = nullptr);
bool WriteAll(int fd, std::string_view text, std::size_t* written = nullptr);
/// WriteAll at a position of the file (pwrite), leaving the file offset as it is.
bool WriteAllAt(int fd, std::span<const std::byte> data, off_t offset);

/// How WriteAllPolled ended.
enum class WriteEnd {
    Done,     ///< everything was written
    TimedOut, ///< the deadline passed first
    Stopped,  ///< one of the stop descriptors became readable (stopIndex)
    HungUp,   ///< the other end went away
    Failed,   ///< a call failed (error holds its errno)
};

struct Written {
    std::size_t bytes = 0;
    WriteEnd end = WriteEnd::Done;
    std::size_t stopIndex = 0;
    int error = 0;
};

/// Writes all of data to a non-blocking descriptor, waiting for room until
/// the deadline (none: without limit) and ending early when one of `stops`
/// becomes readable. Signals neither end it nor lose bytes.
Written WriteAllPolled(int fd, std::span<const std::byte> data,
                       std::optional<std::chrono::steady_clock::time_point> deadline,
                       std::span<const int> stops = {});

/// SetLastError(error); returns false.
bool Fail(uint32_t error);
/// SetLastErrorFromErrno(errno, context); returns false.
bool FailErrno(ErrnoContext context = ErrnoContext::Any);

} // namespace hh::sys::posix
