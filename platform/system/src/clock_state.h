#pragma once
// What the real clock, the test clock and the waits share inside the
// platform: the state of the installed test clock and its observers.

#include "sync_internal.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace hh::sys::detail {

// The test clock's state lives for the whole process, so that a thread that
// is still leaving a wait never touches freed memory.
struct VirtualClock {
    struct Waiter {
        std::weak_ptr<ThreadRecord> record;
        int64_t deadline;
    };

    std::mutex mutex;
    std::condition_variable changed;
    std::atomic<bool> installed{false};
    std::atomic<int64_t> now{0};
    int64_t uptimeBase = 0;
    std::map<const ThreadRecord*, Waiter> timedWaiters;
};

VirtualClock& Virtual();

} // namespace hh::sys::detail
