#pragma once
// What the clock, the waits, the threads and the named objects share inside
// the platform: futex words to sleep on, deadlines on the real or the test
// clock, and the per-thread record that carries a pending terminate request.

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>

namespace hh::sys::detail {

/// A 32-bit word a waiter sleeps on. `shared` words live in memory mapped by
/// several processes and need the non-private futex operations. `sleepers`
/// counts the threads about to sleep or asleep on it, so that a change
/// nobody waits for costs no system call.
struct WatchedWord {
    std::atomic<uint32_t>* word;
    bool shared;
    std::atomic<uint32_t>* sleepers;
};

/// Increments the word and wakes every thread sleeping on it.
void BumpAndWake(const WatchedWord& word);

/// Whether the calling thread has a terminate request pending or is unwinding
/// for one: its next wait must then take the full path.
bool TerminatePending();

/// The calling thread's id, read from the kernel once per thread.
pid_t CurrentTid();

/// The process's own wake word: bumped by unnamed events, thread ends, test
/// clock advances and terminate requests. Every wait sleeps on it as well.
WatchedWord LocalWakeWord();
inline void BumpLocalWake() {
    BumpAndWake(LocalWakeWord());
}

/// When a wait ends: never, at a real CLOCK_MONOTONIC instant, or at an
/// instant of the installed TestClock (fixed when the wait starts).
struct Deadline {
    enum class Kind { Never, Real, Virtual } kind = Kind::Never;
    int64_t ms = 0;

    static Deadline After(uint32_t timeoutMs);
    bool expired() const;
    bool isTimed() const { return kind != Kind::Never; }
};

/// Milliseconds of CLOCK_MONOTONIC.
int64_t MonotonicMs();

/// Sleeps until one of the words no longer holds its snapshot value, the
/// deadline passes, or `realSlice` of real time passes (when given). Spurious
/// returns are allowed; callers re-check their condition.
void SleepOnWords(std::span<const WatchedWord> words, std::span<const uint32_t> snapshots,
                  const Deadline& deadline, std::optional<int64_t> realSliceMs);

/// Per-thread bookkeeping: terminate requests and, for the test clock, whether
/// the thread is inside a wait.
struct ThreadRecord {
    std::atomic<bool> terminateRequested{false};
    /// Set once the thread has started unwinding for a terminate request.
    std::atomic<bool> unwinding{false};
    std::atomic<bool> inWait{false};
    std::atomic<bool> exited{false};
    std::atomic<uint64_t> waitGeneration{0};
};

/// The calling thread's record (made on first use).
std::shared_ptr<ThreadRecord> CurrentThreadRecord();
/// Makes `record` the calling thread's record; used at a platform thread's entry.
void AdoptThreadRecord(std::shared_ptr<ThreadRecord> record);

/// Marks the calling thread as blocked in a wait for the test clock's
/// bookkeeping (blockedThreads, advanceInSteps) and throws the terminate
/// exception when the thread has been terminated.
class WaitScope {
public:
    explicit WaitScope(const Deadline& deadline);
    ~WaitScope();
    WaitScope(const WaitScope&) = delete;
    WaitScope& operator=(const WaitScope&) = delete;

    /// Throws ThreadTerminated when a terminate request is pending; true when
    /// the thread is already unwinding for one (the wait must end at once).
    bool terminated() const;

private:
    std::shared_ptr<ThreadRecord> record_;
    bool counted_;
};

/// What WaitForMultipleObjects needs of an event, a mutex or a thread.
class WaitObject {
public:
    enum class Result { NotReady, Acquired, Abandoned, Failed };

    virtual ~WaitObject() = default;
    /// Takes the object when it is ready, without blocking: resets an
    /// automatic-reset event, owns a mutex.
    virtual Result tryAcquire() = 0;
    /// The word that changes (and is woken) when the object may have become ready.
    virtual WatchedWord changeWord() const = 0;
    /// True when readiness can arrive without a wake (a mutex whose owner
    /// died), so that waiters also look again now and then.
    virtual bool needsPolling() const { return false; }
};

} // namespace hh::sys::detail
