#include <platform/system/clock.h>
#include <platform/system/error.h>
#include <platform/system/event.h>
#include <platform/system/named_mutex.h>
#include <platform/system/testing.h>
#include <platform/system/thread.h>
#include <platform/system/wait.h>

#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <thread>

namespace hh::sys {
namespace {

using namespace std::chrono_literals;
using testing::DeviceRootTest;
using testing::WaitUntil;

using Mutexes = DeviceRootTest;

TEST_F(Mutexes, AreRecursiveForTheirOwnerAndExcludeOthers) {
    for (const char* name : {"", "MUTEX_FOR_COPY"}) {
        SCOPED_TRACE(name);
        Mutex mutex = Mutex::Create(true, name);
        ASSERT_TRUE(mutex);
        EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
        EXPECT_EQ(WaitForSingleObject(mutex, INFINITE), WAIT_OBJECT_0);
        uint32_t otherResult = 0xDEAD;
        std::thread([&] { otherResult = WaitForSingleObject(mutex, 0); }).join();
        EXPECT_EQ(otherResult, WAIT_TIMEOUT);
        EXPECT_TRUE(ReleaseMutex(mutex));
        EXPECT_TRUE(ReleaseMutex(mutex));
        EXPECT_FALSE(ReleaseMutex(mutex));
        EXPECT_EQ(GetLastError(), ERROR_NOT_OWNER);
        std::thread([&] {
            otherResult = WaitForSingleObject(mutex, 0);
            ReleaseMutex(mutex);
        }).join();
        EXPECT_EQ(otherResult, WAIT_OBJECT_0);
    }
}

TEST_F(Mutexes, OpeningAnExistingNameIgnoresInitialOwnership) {
    Mutex first = Mutex::Create(false, "MUTEX_FOR_COPY");
    Mutex second = Mutex::Create(true, u"MUTEX_FOR_COPY");
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_FALSE(second.release());
    uint32_t otherResult = 0xDEAD;
    std::thread([&] {
        otherResult = WaitForSingleObject(first, 0);
        first.release();
    }).join();
    EXPECT_EQ(otherResult, WAIT_OBJECT_0);
    EXPECT_FALSE(Mutex::Create(false, "bad\\name"));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_NAME);
}

TEST_F(Mutexes, AThreadThatEndsOwningItAbandonsIt) {
    Mutex mutex = Mutex::Create(false);
    std::thread([&] { EXPECT_EQ(WaitForSingleObject(mutex, INFINITE), WAIT_OBJECT_0); }).join();
    EXPECT_EQ(WaitForSingleObject(mutex, INFINITE), WAIT_ABANDONED);
    EXPECT_TRUE(mutex.release());
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(mutex.release());
}

TEST_F(Mutexes, AKilledOwnerProcessDoesNotBlockTheOthers) {
    Mutex mutex = Mutex::Create(false, "MUTEX_FOR_COPY");
    Event locked = Event::Create(EventReset::Manual, false, "EVENT_CHILD_LOCKED");
    const pid_t child = testing::StartChild("SyncChild.HoldMutexForever");
    ASSERT_EQ(WaitForSingleObject(locked, 20000), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_TIMEOUT);

    std::atomic<uint32_t> result{0xDEAD};
    std::thread waiter([&] {
        result = WaitForSingleObject(mutex, INFINITE);
        if (result == WAIT_ABANDONED) {
            mutex.release();
        }
    });
    kill(child, SIGKILL);
    testing::WaitChild(child);
    waiter.join();
    EXPECT_EQ(result, WAIT_ABANDONED);
    // It works on as before.
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(mutex.release());
    EXPECT_TRUE(testing::RunChild("SyncChild.TakeMutexOnce"));
}

TEST(SyncChild, HoldMutexForever) {
    HH_CHILD_ONLY();
    Mutex mutex = Mutex::Create(false, "MUTEX_FOR_COPY");
    ASSERT_EQ(WaitForSingleObject(mutex, INFINITE), WAIT_OBJECT_0);
    Event::Create(EventReset::Manual, false, "EVENT_CHILD_LOCKED").set();
    for (;;) {
        pause();
    }
}

TEST(SyncChild, TakeMutexOnce) {
    HH_CHILD_ONLY();
    Mutex mutex = Mutex::Create(false, "MUTEX_FOR_COPY");
    ASSERT_EQ(WaitForSingleObject(mutex, 20000), WAIT_OBJECT_0);
    ASSERT_TRUE(mutex.release());
}

TEST_F(Mutexes, TimedWaitsRunOnTheTestClock) {
    TestClock clock;
    Mutex mutex = Mutex::Create(true, "MUTEX_FOR_COPY");
    std::atomic<uint32_t> result{0xDEAD};
    std::thread waiter([&] { result = WaitForSingleObject(mutex, 500); });
    ASSERT_TRUE(clock.waitForBlockedThreads(1));
    clock.advance(499ms);
    EXPECT_EQ(result, 0xDEADu);
    clock.advance(1ms);
    waiter.join();
    EXPECT_EQ(result, WAIT_TIMEOUT);
    EXPECT_TRUE(mutex.release());
}

uint32_t AddOne(void* argument) {
    auto* value = static_cast<std::atomic<int>*>(argument);
    return static_cast<uint32_t>(++*value);
}

TEST(Threads, StartAtOnceAndReportTheirExitCode) {
    std::atomic<int> value{41};
    Thread thread = Thread::Start(&AddOne, &value);
    ASSERT_TRUE(thread);
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0); // stays signalled
    uint32_t code = 0;
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, 42u);
    EXPECT_NE(thread.id(), Thread::Start([] { return 0u; }).id());

    Event go = Event::Create(EventReset::Manual, false);
    Thread waiting = Thread::Start([&] { return WaitForSingleObject(go, INFINITE); });
    EXPECT_EQ(waiting.exitCode(), STILL_ACTIVE);
    EXPECT_EQ(WaitForSingleObject(waiting, 0), WAIT_TIMEOUT);
    go.set();
    EXPECT_EQ(WaitForSingleObject(waiting, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(waiting.exitCode(), WAIT_OBJECT_0);
    Thread null;
    EXPECT_FALSE(GetExitCodeThread(null, &code));
    EXPECT_FALSE(null.terminate(0));
}

TEST(Threads, RunOnWhenTheirHandleIsClosed) {
    Event go = Event::Create(EventReset::Manual, false);
    Event done = Event::Create(EventReset::Manual, false);
    Thread::Start([go, done]() mutable {
        WaitForSingleObject(go, INFINITE);
        done.set();
        return 0u;
    }).close();
    go.set();
    EXPECT_EQ(WaitForSingleObject(done, 20000), WAIT_OBJECT_0);
}

TEST(Threads, AProgramWaitsForThreadsWhoseHandlesAreClosed) {
    ASSERT_EQ(WaitForOtherThreads(INFINITE), WAIT_OBJECT_0); // what earlier tests left running
    Event go = Event::Create(EventReset::Manual, false);
    Thread::Start([go] { return WaitForSingleObject(go, INFINITE); }).close();
    EXPECT_EQ(WaitForOtherThreads(0), WAIT_TIMEOUT);
    // A child made by fork has none of the parent's threads.
    EXPECT_EQ(hh::sys::testing::RunInChild([] { return WaitForOtherThreads(0) == WAIT_OBJECT_0; }),
              1);
    // A platform thread that waits does not wait for itself.
    Thread waiter = Thread::Start([go]() mutable {
        go.set();
        return WaitForOtherThreads(INFINITE);
    });
    ASSERT_EQ(WaitForSingleObject(waiter, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(waiter.exitCode(), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForOtherThreads(INFINITE), WAIT_OBJECT_0);
}

// The recovery tool's stop: set the stop event, wait 3000 ms for the worker,
// terminate it with exit code 0 when it does not end.
TEST(Threads, AWorkerThatIgnoresItsStopEventIsTerminatedAfterTheGracePeriod) {
    TestClock clock;
    Event stop = Event::Create(EventReset::Automatic, false);
    Event never = Event::Create(EventReset::Manual, false);
    std::atomic<bool> cleanedUp{false};
    std::atomic<uint32_t> waitDuringUnwind{0};
    struct Cleanup {
        std::atomic<bool>& flag;
        std::atomic<uint32_t>& waitResult;
        Event& event;
        ~Cleanup() {
            waitResult = WaitForSingleObject(event, INFINITE);
            flag = true;
        }
    };
    Thread worker = Thread::Start([&] {
        Cleanup cleanup{cleanedUp, waitDuringUnwind, never};
        WaitForSingleObject(never, 1000000);
        return 5u;
    });
    stop.set();
    std::atomic<uint32_t> result{0xDEAD};
    std::thread stopper([&] { result = WaitForSingleObject(worker, 3000); });
    ASSERT_TRUE(clock.waitForBlockedThreads(2));
    clock.advance(2999ms);
    EXPECT_EQ(result, 0xDEADu);
    clock.advance(1ms);
    stopper.join();
    ASSERT_EQ(result, WAIT_TIMEOUT);

    EXPECT_TRUE(TerminateThread(worker, 0));
    // Blocked in a wait, the worker has unwound by now.
    EXPECT_TRUE(cleanedUp);
    EXPECT_EQ(waitDuringUnwind, WAIT_FAILED);
    EXPECT_EQ(WaitForSingleObject(worker, 0), WAIT_OBJECT_0);
    EXPECT_EQ(worker.exitCode(), 0u);
    EXPECT_TRUE(worker.terminate(9)); // already ended: the code stays
    EXPECT_EQ(worker.exitCode(), 0u);
}

TEST(Threads, ABusyThreadEndsForItsWaitersAtOnceAndUnwindsAtItsNextSleep) {
    std::atomic<bool> release{false};
    std::atomic<bool> afterSleep{false};
    std::atomic<bool> cleanedUp{false};
    struct Cleanup {
        std::atomic<bool>& flag;
        ~Cleanup() { flag = true; }
    };
    Thread worker = Thread::Start([&] {
        Cleanup cleanup{cleanedUp};
        while (!release) {
            std::this_thread::yield();
        }
        Sleep(1);
        afterSleep = true;
        return 5u;
    });
    EXPECT_TRUE(worker.terminate(7));
    EXPECT_EQ(WaitForSingleObject(worker, 0), WAIT_OBJECT_0);
    EXPECT_EQ(worker.exitCode(), 7u);
    EXPECT_FALSE(cleanedUp);
    release = true;
    EXPECT_TRUE(WaitUntil([&] { return cleanedUp.load(); }));
    EXPECT_FALSE(afterSleep);
    EXPECT_EQ(worker.exitCode(), 7u);
}

TEST(Threads, TerminatingItselfUnwindsAtOnce) {
    std::atomic<bool> afterTerminate{false};
    Thread self;
    Event ready = Event::Create(EventReset::Manual, false);
    Thread worker = Thread::Start([&] {
        WaitForSingleObject(ready, INFINITE);
        self.terminate(3);
        afterTerminate = true;
        return 0u;
    });
    self = worker;
    ready.set();
    EXPECT_EQ(WaitForSingleObject(worker, 20000), WAIT_OBJECT_0);
    EXPECT_EQ(worker.exitCode(), 3u);
    EXPECT_FALSE(afterTerminate);
}

} // namespace
} // namespace hh::sys
