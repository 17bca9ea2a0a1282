#include "platform/system/thread.h"

#include "platform/system/error.h"
#include "sync_internal.h"

#include <pthread.h>

#include <system_error>
#include <thread>

namespace hh::sys {

namespace detail {

namespace {

// Platform threads that have started and not yet left their entry.
std::atomic<uint32_t> g_runningThreads{0};
thread_local bool t_platformThread = false;

} // namespace

class ThreadObject : public WaitObject {
public:
    ThreadObject() : record(std::make_shared<ThreadRecord>()) {
        static std::atomic<uint32_t> next{1};
        const uint32_t n = next.fetch_add(1);
        id = 0x1000 + n * 4;
        handle = 0x80000000u + n * 4;
    }

    Result tryAcquire() override { return ended.load() ? Result::Acquired : Result::NotReady; }
    WatchedWord changeWord() const override { return LocalWakeWord(); }

    // Records the end once: whichever of a normal return and a terminate
    // request comes first sets the exit code.
    bool end(uint32_t code) {
        bool expected = false;
        if (!ended.compare_exchange_strong(expected, true)) {
            return false;
        }
        exitCode.store(code);
        BumpLocalWake();
        return true;
    }

    void run(const std::function<uint32_t()>& body) {
        t_platformThread = true;
        AdoptThreadRecord(record);
        uint32_t code = 0;
        try {
            code = body();
        } catch (const ThreadTerminated&) {
            code = exitCode.load();
        }
        // Counted out before the handle is signalled, so that a waiter on the
        // handle finds the count without this thread.
        g_runningThreads.fetch_sub(1);
        end(code);
        running.store(false);
        BumpLocalWake();
    }

    std::shared_ptr<ThreadRecord> record;
    std::atomic<bool> ended{false};
    std::atomic<bool> running{true};
    std::atomic<uint32_t> exitCode{STILL_ACTIVE};
    uint32_t id = 0;
    uint32_t handle = 0;
};

// Ready once no platform thread runs but the one that looks.
class OtherThreadsObject : public WaitObject {
public:
    Result tryAcquire() override {
        const uint32_t self = t_platformThread ? 1 : 0;
        return g_runningThreads.load() <= self ? Result::Acquired : Result::NotReady;
    }
    WatchedWord changeWord() const override { return LocalWakeWord(); }
};

} // namespace detail

namespace {

class OtherThreads : public Waitable {
public:
    OtherThreads() : Waitable(std::make_shared<detail::OtherThreadsObject>()) {}
};

detail::ThreadObject* Object(const std::shared_ptr<detail::WaitObject>& object) {
    return static_cast<detail::ThreadObject*>(object.get());
}

} // namespace

Thread Thread::Start(std::function<uint32_t()> body) {
    Thread thread;
    // A child made by fork has only the thread that forked.
    static const bool registered =
        pthread_atfork(nullptr, nullptr, [] {
            detail::g_runningThreads.store(detail::t_platformThread ? 1 : 0);
        }) == 0;
    static_cast<void>(registered);
    auto object = std::make_shared<detail::ThreadObject>();
    detail::g_runningThreads.fetch_add(1);
    try {
        // The thread keeps its own reference, so closing every handle detaches it.
        std::thread([object, body = std::move(body)] { object->run(body); }).detach();
    } catch (const std::system_error&) {
        detail::g_runningThreads.fetch_sub(1);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return thread;
    }
    thread.object_ = std::move(object);
    return thread;
}

Thread Thread::Start(Routine routine, void* argument) {
    return Start([routine, argument] { return routine(argument); });
}

uint32_t Thread::id() const {
    return object_ ? Object(object_)->id : 0;
}

uint32_t Thread::handleValue() const {
    return object_ ? Object(object_)->handle : 0;
}

uint32_t Thread::exitCode() const {
    return object_ ? Object(object_)->exitCode.load() : STILL_ACTIVE;
}

bool Thread::terminate(uint32_t exitCode) {
    if (!object_) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    auto* object = Object(object_);
    if (!object->end(exitCode)) {
        return true; // it has ended already
    }
    if (object->record == detail::CurrentThreadRecord()) {
        object->record->unwinding.store(true);
        throw ThreadTerminated{};
    }
    object->record->terminateRequested.store(true);
    detail::BumpLocalWake();
    if (object->record->inWait.load()) {
        // Blocked in a platform call: it unwinds now; let it finish first.
        const detail::Deadline limit{detail::Deadline::Kind::Real, detail::MonotonicMs() + 1000};
        const detail::WatchedWord local = detail::LocalWakeWord();
        while (object->running.load() && !limit.expired()) {
            const uint32_t snapshot = local.word->load();
            if (!object->running.load()) {
                break;
            }
            detail::SleepOnWords({&local, 1}, {&snapshot, 1}, limit, std::nullopt);
        }
    }
    return true;
}

uint32_t WaitForOtherThreads(uint32_t timeoutMs) {
    return WaitForSingleObject(OtherThreads(), timeoutMs);
}

bool GetExitCodeThread(const Thread& thread, uint32_t* exitCode) {
    if (!thread) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    *exitCode = thread.exitCode();
    return true;
}

} // namespace hh::sys
