#include "platform/system/clock.h"

#include "platform/system/device_root.h"
#include "platform/system/error.h"
#include "platform/system/whole_file.h"
#include "sync_internal.h"

#include <linux/futex.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <condition_variable>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
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

using detail::ThreadRecord;

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

VirtualClock& Virtual() {
    static VirtualClock* clock = new VirtualClock;
    return *clock;
}

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

// The boot instant of the device root, as a CLOCK_MONOTONIC reading in
// milliseconds kept in <state>/boot. The file is re-read when it is replaced
// (new inode or time stamp), so a restart made by another process is seen.
struct BootEntry {
    std::string path;
    ino_t inode = 0;
    timespec mtime{};
    int64_t bootMs = 0;
    bool valid = false;
};

constexpr const char* kBootFile = "boot";
constexpr std::size_t kMaxBootFile = 64;

std::mutex g_bootMutex;
BootEntry g_boot;

std::optional<int64_t> ParseBoot(const std::string& text) {
    int64_t value = 0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr == text.data() || value < 0) {
        return std::nullopt;
    }
    while (ptr != end && (*ptr == '\n' || *ptr == ' ')) {
        ++ptr;
    }
    if (ptr != end) {
        return std::nullopt;
    }
    return value;
}

std::optional<int64_t> ReadBootFile() {
    const uint32_t savedError = GetLastError();
    std::optional<std::string> text = ReadStateFile(kBootFile, kMaxBootFile);
    SetLastError(savedError);
    return text ? ParseBoot(*text) : std::nullopt;
}

// Writes a new boot instant durably, so a reader in another process sees
// either the old or the new value. With `onlyIfAbsent` the file is published
// only when there is none, which fails when another process has just started
// the boot first. The caller's last error is kept: reading the clock never
// changes it.
enum class BootWrite { Published, Exists, Failed };

BootWrite WriteBootFile(int64_t bootMs, bool onlyIfAbsent) {
    const uint32_t savedError = GetLastError();
    const bool published =
        WriteStateFile(kBootFile, std::to_string(bootMs) + "\n",
                       onlyIfAbsent ? StateWrite::CreateNew : StateWrite::Replace);
    const bool exists = !published && GetLastError() == ERROR_FILE_EXISTS;
    SetLastError(savedError);
    return published ? BootWrite::Published : exists ? BootWrite::Exists : BootWrite::Failed;
}

std::string BootPath() {
    return (DeviceStateDir() / kBootFile).string();
}

int64_t RealBootMs() {
    BootEntry& cache = g_boot;
    const std::string path = BootPath();
    std::lock_guard lock(g_bootMutex);
    for (int attempt = 0; attempt < 3; ++attempt) {
        struct stat st {};
        const bool exists = stat(path.c_str(), &st) == 0;
        if (exists && cache.valid && cache.path == path && cache.inode == st.st_ino &&
            cache.mtime.tv_sec == st.st_mtim.tv_sec && cache.mtime.tv_nsec == st.st_mtim.tv_nsec) {
            return cache.bootMs;
        }
        const int64_t now = detail::MonotonicMs();
        if (exists) {
            // A boot instant in the future belongs to an earlier host boot.
            if (auto stored = ReadBootFile(); stored && *stored <= now) {
                cache = {};
                cache.path = path;
                cache.inode = st.st_ino;
                cache.mtime = st.st_mtim;
                cache.bootMs = *stored;
                cache.valid = true;
                return *stored;
            }
            WriteBootFile(now, false);
        } else if (WriteBootFile(now, true) == BootWrite::Failed) {
            break;
        }
    }
    // The state folder cannot be written: keep a boot instant for this
    // process so that the tick count still moves.
    if (!cache.valid || cache.path != path) {
        cache = {};
        cache.path = path;
        cache.bootMs = detail::MonotonicMs();
        cache.valid = true;
    }
    return cache.bootMs;
}

} // namespace

namespace detail {

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

int64_t DeviceUptimeMs() {
    VirtualClock& vc = Virtual();
    if (vc.installed.load()) {
        std::lock_guard lock(vc.mutex);
        return vc.now.load() - vc.uptimeBase;
    }
    const int64_t boot = RealBootMs();
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
    std::lock_guard lock(g_bootMutex);
    std::vector<StateFileContents> files(alongWith.begin(), alongWith.end());
    files.push_back({kBootFile, std::to_string(detail::MonotonicMs()) + "\n"});
    if (!WriteStateFiles(files)) {
        return false;
    }
    g_boot.valid = false;
    return true;
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
