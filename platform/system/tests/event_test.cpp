#include <platform/system/clock.h>
#include <platform/system/device_root.h>
#include <platform/system/error.h>
#include <platform/system/event.h>
#include <platform/system/named_mutex.h>
#include <platform/system/testing.h>
#include <platform/system/thread.h>
#include <platform/system/wait.h>

#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace hh::sys {
namespace {

using namespace std::chrono_literals;
using testing::DeviceRootTest;
using testing::WaitUntil;

std::size_t SharedObjectsOfThisRoot() {
    std::size_t count = 0;
    const std::string prefix = "hh-" + DeviceRootTag() + "-";
    for (const auto& entry : std::filesystem::directory_iterator("/dev/shm")) {
        count += entry.path().filename().string().rfind(prefix, 0) == 0 ? 1 : 0;
    }
    return count;
}

using Events = DeviceRootTest;

TEST_F(Events, ManualAndAutomaticResetInEveryCombination) {
    struct Row {
        EventReset reset;
        const char* name;
        uint32_t secondWait;
    };
    const Row rows[] = {
        {EventReset::Manual, "", WAIT_OBJECT_0},
        {EventReset::Automatic, "", WAIT_TIMEOUT},
        {EventReset::Manual, "EVENT_MANUAL", WAIT_OBJECT_0},
        {EventReset::Automatic, "EVENT_AUTO", WAIT_TIMEOUT},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Event event = Event::Create(row.reset, false, row.name);
        ASSERT_TRUE(event);
        EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
        EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
        EXPECT_TRUE(EventModify(event, EVENT_SET));
        EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
        EXPECT_EQ(WaitForSingleObject(event, 0), row.secondWait);
        EXPECT_TRUE(EventModify(event, EVENT_RESET));
        EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
        Event initiallySet = Event::Create(row.reset, true);
        EXPECT_EQ(WaitForSingleObject(initiallySet, 0), WAIT_OBJECT_0);
    }
}

TEST_F(Events, OpeningAnExistingNameSharesStateAndIgnoresTheArguments) {
    Event first = Event::Create(EventReset::Automatic, false, "EVENT_DRAW_PILLAR");
    ASSERT_TRUE(first);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    Event second = Event::Create(EventReset::Manual, true, u"EVENT_DRAW_PILLAR");
    ASSERT_TRUE(second);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(second.name(), "EVENT_DRAW_PILLAR");
    EXPECT_EQ(WaitForSingleObject(second, 0), WAIT_TIMEOUT); // not set, still automatic
    SetEventData(first, 7);
    SetEventData(first, 0xCAFEF00D); // one word, overwritten
    SetEvent(first);
    EXPECT_EQ(WaitForSingleObject(second, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(first, 0), WAIT_TIMEOUT);
    EXPECT_EQ(GetEventData(second), 0xCAFEF00Du);
    // Names are case-sensitive.
    Event other = Event::Create(EventReset::Manual, false, "event_draw_pillar");
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
}

TEST_F(Events, AWideNameWithASurrogatePairMeetsItsUtf8Spelling) {
    const char16_t wide[] = {u'E', 0xD83D, 0xDE00, u'\0'};
    Event first = Event::Create(EventReset::Manual, false, std::u16string_view(wide));
    ASSERT_TRUE(first);
    Event second = Event::Create(EventReset::Manual, false, "E\xF0\x9F\x98\x80");
    ASSERT_TRUE(second);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(second.name(), "E\xF0\x9F\x98\x80");
}

TEST_F(Events, BadNamesAndNullHandlesFailClearly) {
    Mutex mutex = Mutex::Create(false, "MUTEX_FOR_COPY");
    ASSERT_TRUE(mutex);
    struct Row {
        std::string name;
        uint32_t error;
    };
    const Row rows[] = {
        {"Global\\EVENT", ERROR_INVALID_NAME},
        {std::string(261, 'x'), ERROR_FILENAME_EXCED_RANGE},
        {"MUTEX_FOR_COPY", ERROR_INVALID_HANDLE},
    };
    for (const auto& row : rows) {
        SetLastError(ERROR_SUCCESS);
        EXPECT_FALSE(Event::Create(EventReset::Manual, false, row.name)) << row.name;
        EXPECT_EQ(GetLastError(), row.error) << row.name;
    }
    EXPECT_TRUE(Event::Create(EventReset::Manual, false, std::string(260, 'x')));

    Event null;
    EXPECT_FALSE(null.set());
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(WaitForSingleObject(null, 0), WAIT_FAILED);
    Event event = Event::Create(EventReset::Manual, false);
    EXPECT_FALSE(EventModify(event, 99));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(WaitForMultipleObjects(std::span<const Waitable* const>(), 0), WAIT_FAILED);
}

TEST_F(Events, AutomaticResetReleasesExactlyOneWaiterPerSet) {
    for (const char* name : {"", "EVENT_ONE_AT_A_TIME"}) {
        Event event = Event::Create(EventReset::Automatic, false, name);
        std::atomic<int> released{0};
        std::vector<std::thread> waiters;
        for (int i = 0; i < 3; ++i) {
            waiters.emplace_back([&] {
                if (WaitForSingleObject(event, INFINITE) == WAIT_OBJECT_0) {
                    ++released;
                }
            });
        }
        for (int expected = 1; expected <= 3; ++expected) {
            event.set();
            EXPECT_TRUE(WaitUntil([&] { return released == expected; })) << name;
            // Give any wrongly woken second waiter the time to show up.
            std::this_thread::sleep_for(20ms);
            EXPECT_EQ(released, expected) << name;
        }
        for (auto& t : waiters) {
            t.join();
        }
    }
}

TEST_F(Events, WaitForAnyReturnsTheLowestSignalledIndex) {
    std::vector<Event> events;
    std::vector<const Waitable*> handles;
    for (int i = 0; i < 4; ++i) {
        events.push_back(Event::Create(EventReset::Automatic, false,
                                       i % 2 ? "AKSPEC_EVENT_" + std::to_string(i) : ""));
    }
    for (auto& e : events) {
        handles.push_back(&e);
    }
    events[3].set();
    events[1].set();
    EXPECT_EQ(WaitForMultipleObjects(handles, 0), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(WaitForMultipleObjects(handles, 0), WAIT_OBJECT_0 + 3);
    EXPECT_EQ(WaitForMultipleObjects(handles, 0), WAIT_TIMEOUT);

    // A waiter that sleeps is woken by a set of any of them.
    std::atomic<uint32_t> result{0xDEAD};
    std::thread waiter([&] { result = WaitForMultipleObjects(handles, INFINITE); });
    events[2].set();
    waiter.join();
    EXPECT_EQ(result, WAIT_OBJECT_0 + 2);
}

TEST_F(Events, TimedWaitsRunOnTheTestClock) {
    TestClock clock;
    Event event = Event::Create(EventReset::Automatic, false, "EVENT_DRAW_PILLAR");
    std::atomic<uint32_t> result{0xDEAD};
    std::thread waiter([&] { result = WaitForSingleObject(event, 10000); });
    ASSERT_TRUE(clock.waitForBlockedThreads(1));
    clock.advance(9999ms);
    EXPECT_EQ(clock.blockedThreads(), 1u);
    EXPECT_EQ(result, 0xDEADu);
    clock.advance(1ms);
    waiter.join();
    EXPECT_EQ(result, WAIT_TIMEOUT);

    // A set ends a timed wait without the clock moving.
    std::thread second([&] { result = WaitForSingleObject(event, 500); });
    ASSERT_TRUE(clock.waitForBlockedThreads(1));
    event.set();
    second.join();
    EXPECT_EQ(result, WAIT_OBJECT_0);
    EXPECT_EQ(clock.nowMs(), 10000);
}

TEST_F(Events, ASecondProcessSeesTheEventAndItsDataWord) {
    Event ping = Event::Create(EventReset::Automatic, false, "EVENT_PING");
    Event pong = Event::Create(EventReset::Automatic, false, "EVENT_PONG");
    const pid_t child = testing::StartChild("SyncChild.AnswerPing");
    ping.setData(41);
    ping.set();
    EXPECT_EQ(WaitForSingleObject(pong, 20000), WAIT_OBJECT_0);
    EXPECT_EQ(pong.data(), 42u);
    const int status = testing::WaitChild(child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(SyncChild, AnswerPing) {
    HH_CHILD_ONLY();
    Event ping = Event::Create(EventReset::Manual, false, "EVENT_PING");
    ASSERT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    Event pong = Event::Create(EventReset::Manual, false, "EVENT_PONG");
    ASSERT_EQ(WaitForSingleObject(ping, 20000), WAIT_OBJECT_0);
    pong.setData(ping.data() + 1);
    pong.set();
}

TEST_F(Events, WaitForAnyMixesLocalAndOtherProcessesEvents) {
    Event local = Event::Create(EventReset::Manual, false);
    Event shared = Event::Create(EventReset::Manual, false, "EVENT_OVL_TARVEN");
    const Waitable* both[] = {&local, &shared};
    ASSERT_TRUE(testing::RunChild("SyncChild.SetTarven"));
    EXPECT_EQ(WaitForMultipleObjects(both, 20000), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(shared.data(), 1009u);
}

TEST(SyncChild, SetTarven) {
    HH_CHILD_ONLY();
    Event event = Event::Create(EventReset::Manual, false, "EVENT_OVL_TARVEN");
    event.setData(1009);
    event.set();
}

TEST_F(Events, NamedObjectsOfTwoDeviceRootsDoNotMeet) {
    Event first = Event::Create(EventReset::Manual, true, "EVENT_SAME_NAME");
    {
        testing::TempDeviceRoot other(testing::RootLayout::Empty);
        ASSERT_TRUE(other.ok());
        Event second = Event::Create(EventReset::Manual, false, "EVENT_SAME_NAME");
        EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
        EXPECT_EQ(WaitForSingleObject(second, 0), WAIT_TIMEOUT);
    }
    EXPECT_EQ(WaitForSingleObject(first, 0), WAIT_OBJECT_0);
}

TEST_F(Events, NamesGoWithTheirLastHandleEvenAfterACrash) {
    {
        Event a = Event::Create(EventReset::Manual, false, "EVENT_A");
        Event copy = a;
        Event b = Event::Create(EventReset::Manual, false, "EVENT_A");
        EXPECT_EQ(SharedObjectsOfThisRoot(), 2u); // the event and the hub
        a.close();
        b.close();
        EXPECT_EQ(SharedObjectsOfThisRoot(), 2u);
    }
    EXPECT_EQ(SharedObjectsOfThisRoot(), 0u);

    // A process killed with its handles open leaves the name behind; the next
    // opener starts a fresh event, as the device would.
    const pid_t child = testing::StartChild("SyncChild.CrashHoldingEvent");
    const int status = testing::WaitChild(child);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(SharedObjectsOfThisRoot(), 2u);
    Event fresh = Event::Create(EventReset::Manual, false, "EVENT_LEFT_BEHIND");
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    EXPECT_EQ(WaitForSingleObject(fresh, 0), WAIT_TIMEOUT);
    EXPECT_EQ(fresh.data(), 0u);
    fresh.close();
    EXPECT_EQ(SharedObjectsOfThisRoot(), 0u);
}

TEST(SyncChild, CrashHoldingEvent) {
    HH_CHILD_ONLY();
    Event event = Event::Create(EventReset::Manual, true, "EVENT_LEFT_BEHIND");
    event.setData(5);
    raise(SIGKILL);
}

// A named object on a full /dev/shm is refused with the disk's error; the
// pages of its shared block are taken before they are written, so the
// process never meets SIGBUS through the mapping.
TEST_F(Events, ANamedEventOnAFullSharedMemoryIsRefusedNotACrash) {
    const int result = testing::RunOnSmallDisk("/dev/shm", 64 * 1024, [] {
        testing::FillDisk("/dev/shm");
        // A file may still be made; only its pages find no room.
        std::filesystem::remove("/dev/shm/.filler/0");
        Event event = Event::Create(EventReset::Manual, false, "FULL_SHM_EVENT");
        return !event && GetLastError() == ERROR_DISK_FULL ? 0 : 1;
    });
    if (result == testing::kCannotMount) {
        GTEST_SKIP() << "mounting a small file system needs root";
    }
    EXPECT_EQ(result, 0);
}

} // namespace
} // namespace hh::sys
