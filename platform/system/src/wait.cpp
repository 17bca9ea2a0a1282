#include "platform/system/wait.h"

#include "platform/system/error.h"
#include "sync_internal.h"

#include <linux/futex.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <vector>

namespace hh::sys {

namespace detail {

namespace {

timespec ToTimespec(int64_t ms) {
    return timespec{static_cast<time_t>(ms / 1000), static_cast<long>((ms % 1000) * 1000000)};
}

std::atomic<uint32_t> g_localWake{0};
std::atomic<uint32_t> g_localSleepers{0};

thread_local pid_t t_tid = 0;

} // namespace

int64_t MonotonicMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void BumpAndWake(const WatchedWord& w) {
    // A sleeper counts itself before the kernel compares the word with its
    // snapshot; both sides are sequentially consistent, so either this load
    // sees the sleeper or the sleeper's kernel sees the new value.
    w.word->fetch_add(1, std::memory_order_seq_cst);
    if (w.sleepers->load(std::memory_order_seq_cst) == 0) {
        return;
    }
    const int op = w.shared ? FUTEX_WAKE : (FUTEX_WAKE | FUTEX_PRIVATE_FLAG);
    syscall(SYS_futex, reinterpret_cast<uint32_t*>(w.word), op, INT_MAX, nullptr, nullptr, 0);
}

WatchedWord LocalWakeWord() {
    return WatchedWord{&g_localWake, false, &g_localSleepers};
}

pid_t CurrentTid() {
    if (t_tid == 0) {
        // A child made by fork would otherwise keep its parent thread's id.
        static const bool registered = pthread_atfork(nullptr, nullptr, [] { t_tid = 0; }) == 0;
        static_cast<void>(registered);
        t_tid = gettid();
    }
    return t_tid;
}

void SleepOnWords(std::span<const WatchedWord> words, std::span<const uint32_t> snapshots,
                  const Deadline& deadline, std::optional<int64_t> realSliceMs) {
    std::optional<int64_t> until;
    if (deadline.kind == Deadline::Kind::Real) {
        until = deadline.ms;
    }
    if (realSliceMs) {
        const int64_t sliceEnd = MonotonicMs() + *realSliceMs;
        until = until ? std::min(*until, sliceEnd) : sliceEnd;
    }
    timespec ts{};
    if (until) {
        ts = ToTimespec(*until);
    }
    std::vector<futex_waitv> waiters(words.size());
    for (std::size_t i = 0; i < words.size(); ++i) {
        waiters[i] = futex_waitv{};
        waiters[i].val = snapshots[i];
        waiters[i].uaddr = reinterpret_cast<uintptr_t>(words[i].word);
        waiters[i].flags = FUTEX_32 | (words[i].shared ? 0 : FUTEX_PRIVATE_FLAG);
        words[i].sleepers->fetch_add(1, std::memory_order_seq_cst);
    }
    const long rc = syscall(SYS_futex_waitv, waiters.data(), waiters.size(), 0,
                            until ? &ts : nullptr, CLOCK_MONOTONIC);
    if (rc < 0 && errno == ENOSYS) {
        // Kernels before 5.16: sleep on the first word in short slices so that
        // changes of the others are still seen soon.
        const int64_t slice = until ? std::clamp<int64_t>(*until - MonotonicMs(), 0, 5) : 5;
        const timespec rel = ToTimespec(slice);
        const int op = words[0].shared ? FUTEX_WAIT : (FUTEX_WAIT | FUTEX_PRIVATE_FLAG);
        syscall(SYS_futex, reinterpret_cast<uint32_t*>(words[0].word), op, snapshots[0], &rel,
                nullptr, 0);
    }
    for (const WatchedWord& word : words) {
        word.sleepers->fetch_sub(1, std::memory_order_seq_cst);
    }
}

} // namespace detail

namespace {

// How often a wait that includes a mutex looks again, since the death of a
// mutex owner in another process wakes nobody.
constexpr int64_t kMutexPollMs = 20;

} // namespace

uint32_t WaitForMultipleObjects(std::span<const Waitable* const> objects, uint32_t timeoutMs) {
    if (objects.empty() || objects.size() > MAXIMUM_WAIT_OBJECTS) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    for (const Waitable* object : objects) {
        if (!object || !object->object_) {
            SetLastError(ERROR_INVALID_HANDLE);
            return WAIT_FAILED;
        }
    }
    // An object that is ready already (an uncontended mutex, a set event) is
    // taken without the bookkeeping of a wait that sleeps.
    if (!detail::TerminatePending()) {
        for (std::size_t i = 0; i < objects.size(); ++i) {
            switch (objects[i]->object_->tryAcquire()) {
            case detail::WaitObject::Result::Acquired:
                return WAIT_OBJECT_0 + static_cast<uint32_t>(i);
            case detail::WaitObject::Result::Abandoned:
                return WAIT_ABANDONED + static_cast<uint32_t>(i);
            case detail::WaitObject::Result::Failed:
                return WAIT_FAILED;
            case detail::WaitObject::Result::NotReady:
                break;
            }
        }
        if (timeoutMs == 0) {
            return WAIT_TIMEOUT;
        }
    }
    std::vector<detail::WaitObject*> targets;
    std::vector<detail::WatchedWord> words{detail::LocalWakeWord()};
    bool poll = false;
    for (const Waitable* object : objects) {
        targets.push_back(object->object_.get());
        poll = poll || targets.back()->needsPolling();
        const detail::WatchedWord word = targets.back()->changeWord();
        if (std::none_of(words.begin(), words.end(),
                         [&](const detail::WatchedWord& w) { return w.word == word.word; })) {
            words.push_back(word);
        }
    }
    const detail::Deadline deadline = detail::Deadline::After(timeoutMs);
    detail::WaitScope scope(deadline);
    std::vector<uint32_t> snapshots(words.size());
    for (;;) {
        // Snapshot before looking: a change after it makes the sleep return.
        for (std::size_t i = 0; i < words.size(); ++i) {
            snapshots[i] = words[i].word->load();
        }
        if (scope.terminated()) {
            SetLastError(ERROR_OPERATION_ABORTED);
            return WAIT_FAILED;
        }
        for (std::size_t i = 0; i < targets.size(); ++i) {
            switch (targets[i]->tryAcquire()) {
            case detail::WaitObject::Result::Acquired:
                return WAIT_OBJECT_0 + static_cast<uint32_t>(i);
            case detail::WaitObject::Result::Abandoned:
                return WAIT_ABANDONED + static_cast<uint32_t>(i);
            case detail::WaitObject::Result::Failed:
                return WAIT_FAILED;
            case detail::WaitObject::Result::NotReady:
                break;
            }
        }
        if (timeoutMs == 0 || deadline.expired()) {
            return WAIT_TIMEOUT;
        }
        detail::SleepOnWords(words, snapshots, deadline,
                             poll ? std::optional<int64_t>(kMutexPollMs) : std::nullopt);
    }
}

uint32_t WaitForMultipleObjects(std::initializer_list<const Waitable*> objects,
                                uint32_t timeoutMs) {
    return WaitForMultipleObjects(std::span<const Waitable* const>(objects.begin(), objects.size()),
                                  timeoutMs);
}

uint32_t WaitForSingleObject(const Waitable& object, uint32_t timeoutMs) {
    const Waitable* one[] = {&object};
    return WaitForMultipleObjects(std::span<const Waitable* const>(one), timeoutMs);
}

} // namespace hh::sys
