#pragma once
// The device clock. GetTickCount counts milliseconds since the simulated device
// started; sleeps, timed waits and window timers all run on one process-wide
// clock, which a test may replace with a TestClock that only moves when the
// test advances it, so that no test waits real seconds.

#include <platform/system/whole_file.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

namespace hh::sys {

using Millis = std::chrono::milliseconds;

/// "No time limit" for waits, as on the device.
inline constexpr uint32_t INFINITE = 0xFFFFFFFFu;

/// Milliseconds since the simulated device started, wrapping at 2^32.
uint32_t GetTickCount();

/// Milliseconds since the simulated device started, without the 32-bit wrap.
int64_t DeviceUptimeMs();

/// Suspends the calling thread for the given time on the platform clock.
/// Sleep(0) only yields. In a terminated platform thread it throws
/// ThreadTerminated (see thread.h).
void Sleep(uint32_t ms);
void Sleep(Millis duration);

/// Starts the simulated device again: the tick count restarts from 0 for
/// every process of the device root. With a TestClock installed the device's
/// uptime restarts at the test clock's current instant instead; sleeps and
/// timed waits are not disturbed. The files of the state folder in alongWith
/// are replaced in the same step: either the restart and all of them happen,
/// or (false, with the last error set; ERROR_DISK_FULL on a full disk) none.
bool RestartDeviceClock(std::span<const StateFileContents> alongWith = {});

/// Thrown by Sleep and by every wait in a platform thread that another thread
/// has terminated; the thread's entry catches it. Code that catches all
/// exceptions must rethrow this one.
struct ThreadTerminated {};

/// A clock that moves only when the test advances it. Installing one makes
/// DeviceUptimeMs, Sleep, timed waits and window timers follow it; at most one
/// is installed at a time, and it must outlive every thread that uses it.
class TestClock {
public:
    /// Installs a test clock starting at startMs.
    explicit TestClock(int64_t startMs = 0);
    /// Uninstalls it; the real clock is used again.
    ~TestClock();
    TestClock(const TestClock&) = delete;
    TestClock& operator=(const TestClock&) = delete;

    int64_t nowMs() const;
    /// Moves the clock forward and wakes every sleeper and timed waiter that is
    /// due, then notifies the observers (window timers).
    void advance(Millis step);
    /// Advances in steps of `step` until `total` has passed, letting woken
    /// threads run between steps (they get to their next wait first).
    void advanceInSteps(Millis total, Millis step);
    /// Number of threads currently blocked in Sleep or a timed wait.
    std::size_t blockedThreads() const;
    /// Blocks (real time, bounded by realLimit) until at least n threads are
    /// blocked on this clock; false when the limit passed first.
    bool waitForBlockedThreads(std::size_t n, Millis realLimit = Millis(5000)) const;
};

/// True while a TestClock is installed.
bool IsTestClockInstalled();

/// Observers run (on the advancing thread) after every TestClock::advance;
/// the window layer uses this to fire its timers. Returns an id for removal.
int AddClockObserver(std::function<void(int64_t nowMs)> observer);
void RemoveClockObserver(int id);

} // namespace hh::sys
