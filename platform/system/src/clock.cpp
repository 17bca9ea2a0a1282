#include "platform/system/clock.h"

#include "boot_record.h"
#include "clock_state.h"
#include "platform/system/whole_file.h"
#include "sync_internal.h"

#include <algorithm>
#include <thread>

namespace hh::sys {

namespace detail {

VirtualClock& Virtual() {
    static VirtualClock* clock = new VirtualClock;
    return *clock;
}

namespace {

// Keeps a thread's record alive and marks it exited when the thread ends.
struct RecordHolder {
    std::shared_ptr<ThreadRecord> record;
    ~RecordHolder() {
        if (!record) {
            return;
        }
        record->exited.store(true);
        VirtualClock& vc = Virtual();
        if (vc.installed.load()) {
            std::lock_guard lock(vc.mutex);
            vc.changed.notify_all();
        }
    }
};

thread_local RecordHolder t_record;

} // namespace

std::shared_ptr<ThreadRecord> CurrentThreadRecord() {
    if (!t_record.record) {
        t_record.record = std::make_shared<ThreadRecord>();
    }
    return t_record.record;
}

void AdoptThreadRecord(std::shared_ptr<ThreadRecord> record) {
    t_record.record = std::move(record);
}

Deadline Deadline::After(uint32_t timeoutMs) {
    if (timeoutMs == INFINITE) {
        return Deadline{};
    }
    VirtualClock& vc = Virtual();
    if (vc.installed.load()) {
        return Deadline{Kind::Virtual, vc.now.load() + timeoutMs};
    }
    return Deadline{Kind::Real, MonotonicMs() + timeoutMs};
}

bool Deadline::expired() const {
    switch (kind) {
    case Kind::Never:
        return false;
    case Kind::Real:
        return MonotonicMs() >= ms;
    case Kind::Virtual:
        // Removing the test clock releases the waits that were running on it.
        return !Virtual().installed.load() || Virtual().now.load() >= ms;
    }
    return false;
}

WaitScope::WaitScope(const Deadline& deadline)
    : record_(CurrentThreadRecord()), counted_(deadline.kind == Deadline::Kind::Virtual) {
    VirtualClock& vc = Virtual();
    if (vc.installed.load()) {
        std::lock_guard lock(vc.mutex);
        if (counted_) {
            vc.timedWaiters[record_.get()] = VirtualClock::Waiter{record_, deadline.ms};
        }
        record_->waitGeneration.fetch_add(1);
        record_->inWait.store(true);
        vc.changed.notify_all();
    } else {
        counted_ = false;
        record_->waitGeneration.fetch_add(1);
        record_->inWait.store(true);
    }
}

WaitScope::~WaitScope() {
    VirtualClock& vc = Virtual();
    if (vc.installed.load() || counted_) {
        std::lock_guard lock(vc.mutex);
        vc.timedWaiters.erase(record_.get());
        record_->inWait.store(false);
        vc.changed.notify_all();
    } else {
        record_->inWait.store(false);
    }
}

bool TerminatePending() {
    const ThreadRecord* record = t_record.record.get();
    return record && (record->terminateRequested.load() || record->unwinding.load());
}

bool WaitScope::terminated() const {
    if (record_->unwinding.load()) {
        return true;
    }
    if (record_->terminateRequested.load()) {
        record_->unwinding.store(true);
        throw ThreadTerminated{};
    }
    return false;
}

} // namespace detail

using detail::Virtual;
using detail::VirtualClock;

int64_t DeviceUptimeMs() {
    VirtualClock& vc = Virtual();
    if (vc.installed.load()) {
        std::lock_guard lock(vc.mutex);
        return vc.now.load() - vc.uptimeBase;
    }
    const int64_t boot = detail::RealBootMs();
    return std::max<int64_t>(detail::MonotonicMs() - boot, 0);
}

uint32_t GetTickCount() {
    return static_cast<uint32_t>(DeviceUptimeMs());
}

bool RestartDeviceClock(std::span<const StateFileContents> alongWith) {
    VirtualClock& vc = Virtual();
    if (vc.installed.load()) {
        if (!alongWith.empty() && !WriteStateFiles(alongWith)) {
            return false;
        }
        std::lock_guard lock(vc.mutex);
        vc.uptimeBase = vc.now.load();
        return true;
    }
    return detail::WriteNewBoot(alongWith);
}

void Sleep(uint32_t ms) {
    if (ms == 0) {
        detail::WaitScope scope(detail::Deadline{});
        if (!scope.terminated()) {
            std::this_thread::yield();
        }
        return;
    }
    const detail::Deadline deadline = detail::Deadline::After(ms);
    detail::WaitScope scope(deadline);
    const detail::WatchedWord local = detail::LocalWakeWord();
    for (;;) {
        // Snapshot first: a terminate request or an advance made after it
        // changes the word, so the sleep below returns at once.
        const uint32_t snapshot = local.word->load();
        if (scope.terminated() || deadline.expired()) {
            return;
        }
        detail::SleepOnWords({&local, 1}, {&snapshot, 1}, deadline, std::nullopt);
    }
}

void Sleep(Millis duration) {
    const auto count = std::clamp<int64_t>(duration.count(), 0, INFINITE - 1);
    Sleep(static_cast<uint32_t>(count));
}

} // namespace hh::sys
