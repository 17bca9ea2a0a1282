#include "clock_state.h"
#include "platform/system/clock.h"
#include "sync_internal.h"

#include <algorithm>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <vector>

namespace hh::sys {

namespace {

using detail::ThreadRecord;
using detail::Virtual;
using detail::VirtualClock;

struct Observers {
    std::recursive_mutex callMutex;
    std::mutex listMutex;
    std::vector<std::pair<int, std::function<void(int64_t)>>> list;
    int nextId = 1;
};

Observers& ClockObservers() {
    static Observers* observers = new Observers;
    return *observers;
}

} // namespace

TestClock::TestClock(int64_t startMs) {
    VirtualClock& vc = Virtual();
    std::lock_guard lock(vc.mutex);
    if (vc.installed.load()) {
        throw std::logic_error("a TestClock is already installed");
    }
    vc.now.store(startMs);
    vc.uptimeBase = 0;
    vc.timedWaiters.clear();
    vc.installed.store(true);
}

TestClock::~TestClock() {
    VirtualClock& vc = Virtual();
    {
        std::lock_guard lock(vc.mutex);
        vc.installed.store(false);
    }
    detail::BumpLocalWake();
}

int64_t TestClock::nowMs() const {
    return Virtual().now.load();
}

void TestClock::advance(Millis step) {
    VirtualClock& vc = Virtual();
    int64_t now = 0;
    {
        std::lock_guard lock(vc.mutex);
        now = vc.now.load() + std::max<int64_t>(step.count(), 0);
        vc.now.store(now);
    }
    // Every waiter wakes and re-checks its own deadline; those not yet due go
    // back to sleep.
    detail::BumpLocalWake();
    Observers& obs = ClockObservers();
    std::lock_guard callLock(obs.callMutex);
    std::vector<std::pair<int, std::function<void(int64_t)>>> list;
    {
        std::lock_guard lock(obs.listMutex);
        list = obs.list;
    }
    for (auto& [id, observer] : list) {
        bool stillThere = false;
        {
            std::lock_guard lock(obs.listMutex);
            stillThere = std::any_of(obs.list.begin(), obs.list.end(),
                                     [id = id](const auto& entry) { return entry.first == id; });
        }
        if (stillThere) {
            observer(now);
        }
    }
}

void TestClock::advanceInSteps(Millis total, Millis step) {
    VirtualClock& vc = Virtual();
    const int64_t stepMs = std::max<int64_t>(step.count(), 1);
    for (int64_t left = total.count(); left > 0;) {
        const int64_t s = std::min(left, stepMs);
        left -= s;
        struct Due {
            std::shared_ptr<ThreadRecord> record;
            uint64_t generation;
        };
        std::vector<Due> due;
        {
            std::lock_guard lock(vc.mutex);
            const int64_t target = vc.now.load() + s;
            for (auto& [key, waiter] : vc.timedWaiters) {
                if (waiter.deadline <= target) {
                    if (auto record = waiter.record.lock()) {
                        due.push_back({record, record->waitGeneration.load()});
                    }
                }
            }
        }
        advance(Millis(s));
        // A woken thread has had its turn once it is in its next wait or has
        // ended. A thread that blocks on something else is given up on after
        // a real second.
        std::unique_lock lock(vc.mutex);
        vc.changed.wait_for(lock, std::chrono::seconds(1), [&] {
            return std::all_of(due.begin(), due.end(), [](const Due& d) {
                return d.record->exited.load() ||
                       (d.record->inWait.load() && d.record->waitGeneration.load() != d.generation);
            });
        });
    }
}

std::size_t TestClock::blockedThreads() const {
    VirtualClock& vc = Virtual();
    std::lock_guard lock(vc.mutex);
    return vc.timedWaiters.size();
}

bool TestClock::waitForBlockedThreads(std::size_t n, Millis realLimit) const {
    VirtualClock& vc = Virtual();
    std::unique_lock lock(vc.mutex);
    return vc.changed.wait_for(lock, realLimit, [&] { return vc.timedWaiters.size() >= n; });
}

bool IsTestClockInstalled() {
    return Virtual().installed.load();
}

int AddClockObserver(std::function<void(int64_t nowMs)> observer) {
    Observers& obs = ClockObservers();
    std::lock_guard lock(obs.listMutex);
    const int id = obs.nextId++;
    obs.list.emplace_back(id, std::move(observer));
    return id;
}

void RemoveClockObserver(int id) {
    Observers& obs = ClockObservers();
    // Waits for an advance that is calling the observers on another thread,
    // so that the observer's owner may be destroyed once this returns.
    std::lock_guard callLock(obs.callMutex);
    std::lock_guard lock(obs.listMutex);
    std::erase_if(obs.list, [id](const auto& entry) { return entry.first == id; });
}

} // namespace hh::sys
