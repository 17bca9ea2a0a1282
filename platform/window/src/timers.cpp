// Window timers. With the real clock each timer is a Qt timer. With a
// TestClock installed the timers are due times on that clock: after each
// advance the clock observer posts every occurrence that fell due, in order of
// due time, and the UI thread delivers them when it next handles events.

#include "internal.h"

#include <platform/system/clock.h>
#include <platform/window/ui_thread.h>

#include <QTimer>
#include <mutex>
#include <vector>

namespace hh::win::detail {
namespace {

/// The window system's shortest timer period.
constexpr std::uint32_t kMinimumPeriodMs = 10;

struct TimerEntry {
    std::uint64_t serial = 0;
    std::uintptr_t id = 0;
    std::int64_t periodMs = 0;
    std::int64_t dueMs = 0;
    std::uint64_t generation = 0;
    QTimer* qtTimer = nullptr; ///< null for timers on the test clock
};

std::mutex g_mutex;
std::vector<TimerEntry> g_timers;
std::uint64_t g_nextGeneration = 1;
int g_observer = -1;

void Deliver(std::uint64_t serial, std::uintptr_t id, std::uint64_t generation) {
    WithLiveWindow(serial, [&](Window* window) {
        static_cast<Dialog*>(window)->DispatchTimer(id, generation);
    });
}

/// Removes the entry (under the lock) and returns its Qt timer for deletion outside it.
QTimer* Remove(std::uint64_t serial, std::uintptr_t id, bool* found) {
    for (auto it = g_timers.begin(); it != g_timers.end(); ++it) {
        if (it->serial == serial && it->id == id) {
            QTimer* timer = it->qtTimer;
            g_timers.erase(it);
            *found = true;
            return timer;
        }
    }
    *found = false;
    return nullptr;
}

void OnClockAdvanced(std::int64_t nowMs) {
    std::lock_guard lock(g_mutex);
    for (;;) {
        TimerEntry* next = nullptr;
        for (TimerEntry& entry : g_timers) {
            if (!entry.qtTimer && entry.dueMs <= nowMs && (!next || entry.dueMs < next->dueMs)) {
                next = &entry;
            }
        }
        if (!next) {
            return;
        }
        const std::uint64_t serial = next->serial;
        const std::uintptr_t id = next->id;
        const std::uint64_t generation = next->generation;
        next->dueMs += next->periodMs;
        PostToUiThread([serial, id, generation] { Deliver(serial, id, generation); });
    }
}

} // namespace

void StartTimer(Dialog* dialog, std::uintptr_t id, std::uint32_t periodMs) {
    const std::uint64_t serial = SerialOf(dialog);
    const std::int64_t period = std::max(periodMs, kMinimumPeriodMs);
    QTimer* old = nullptr;
    TimerEntry entry{serial, id, period, 0, 0, nullptr};
    {
        std::lock_guard lock(g_mutex);
        bool found = false;
        old = Remove(serial, id, &found);
        entry.generation = g_nextGeneration++;
        if (hh::sys::IsTestClockInstalled()) {
            entry.dueMs = hh::sys::DeviceUptimeMs() + period;
        }
    }
    delete old;
    if (!hh::sys::IsTestClockInstalled()) {
        auto* timer = new QTimer(dialog->Widget());
        timer->setInterval(static_cast<int>(period));
        const std::uint64_t generation = entry.generation;
        QObject::connect(timer, &QTimer::timeout, timer,
                         [serial, id, generation] { Deliver(serial, id, generation); });
        timer->start();
        entry.qtTimer = timer;
    }
    std::lock_guard lock(g_mutex);
    g_timers.push_back(entry);
}

bool StopTimer(Dialog* dialog, std::uintptr_t id) {
    bool found = false;
    QTimer* timer = nullptr;
    {
        std::lock_guard lock(g_mutex);
        timer = Remove(SerialOf(dialog), id, &found);
    }
    delete timer;
    return found;
}

void StopAllTimers(Dialog* dialog) {
    const std::uint64_t serial = SerialOf(dialog);
    std::vector<QTimer*> timers;
    {
        std::lock_guard lock(g_mutex);
        std::erase_if(g_timers, [&](const TimerEntry& entry) {
            if (entry.serial != serial) {
                return false;
            }
            timers.push_back(entry.qtTimer);
            return true;
        });
    }
    for (QTimer* timer : timers) {
        delete timer;
    }
}

bool TimerCurrent(const Dialog* dialog, std::uintptr_t id, std::uint64_t generation) {
    const std::uint64_t serial = SerialOf(dialog);
    std::lock_guard lock(g_mutex);
    for (const TimerEntry& entry : g_timers) {
        if (entry.serial == serial && entry.id == id) {
            return entry.generation == generation;
        }
    }
    return false;
}

void InstallTimerClockObserver() {
    // Not under g_mutex: the clock may hold its own lock while it calls observers.
    const int observer = hh::sys::AddClockObserver(OnClockAdvanced);
    std::lock_guard lock(g_mutex);
    g_observer = observer;
}

void RemoveTimerClockObserver() {
    int observer = -1;
    {
        std::lock_guard lock(g_mutex);
        observer = g_observer;
        g_observer = -1;
        g_timers.clear();
    }
    if (observer >= 0) {
        hh::sys::RemoveClockObserver(observer);
    }
}

} // namespace hh::win::detail
