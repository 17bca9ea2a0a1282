// Worker threads and the UI thread: window calls carried over, posting order,
// message boxes that block the worker but not the UI thread.

#include "window_fixture.h"

#include <platform/system/clock.h>
#include <platform/window/message_box.h>
#include <platform/window/ui_thread.h>

#include <atomic>
#include <thread>

namespace hh::win::test {
namespace {

using namespace std::chrono_literals;
namespace t = hh::win::testing;

class ThreadsTest : public WindowTest {
protected:
    void SetUp() override { ASSERT_TRUE(dialog.Create(nullptr)); }

    Recorder dialog{Tpl({
        Ctl(1029, u"STATIC", u"0", 0, DluRect(5, 5, 40, 8)),
        Ctl(1000, u"EDIT", u"", ES_MULTILINE | WS_VSCROLL, DluRect(5, 20, 100, 50)),
        Ctl(1018, u"EDIT", u"1000", ES_NUMBER, DluRect(5, 80, 40, 12)),
    })};
};

/// Runs fn on a worker while the UI thread keeps handling events.
void OnWorker(const std::function<void()>& fn) {
    std::atomic<bool> done{false};
    std::thread worker([&] {
        fn();
        done = true;
    });
    EXPECT_TRUE(t::ProcessEventsUntil([&] { return done.load(); }));
    worker.join();
}

TEST_F(ThreadsTest, WorkerWindowCallsRunOnTheUiThread) {
    OnWorker([&] {
        EXPECT_FALSE(IsUiThread());
        dialog.SetDlgItemInt(1029, 4096, true);
        Edit* display = dialog.Item<Edit>(1000);
        display->SetSel(30000, 30000);
        display->ScrollCaret();
        display->ReplaceSel(u"$GPGGA\r\n");
        display->ReplaceSel(u"$GPRMC\r\n");
        EXPECT_EQ(dialog.GetDlgItemInt(1018), 1000);
        dialog.GetDlgItem(1018)->EnableWindow(false);
        EXPECT_TRUE(dialog.SetTimer(2, 1000));
        EXPECT_TRUE(dialog.KillTimer(2));
    });
    EXPECT_EQ(dialog.GetDlgItemText(1029), u"4096");
    EXPECT_EQ(dialog.GetDlgItemText(1000), u"$GPGGA\r\n$GPRMC\r\n");
    EXPECT_FALSE(dialog.GetDlgItem(1018)->IsWindowEnabled());
}

TEST_F(ThreadsTest, SendMessageFromAWorkerWaitsForTheHandler) {
    std::thread::id handledOn;
    LRESULT result = 0;
    OnWorker([&] {
        result = dialog.SendMessage(WM_USER + 5, 40, 2);
        handledOn = std::this_thread::get_id();
    });
    EXPECT_EQ(result, 42);
    ASSERT_EQ(dialog.messages.size(), 1u); // handled before SendMessage returned
    EXPECT_NE(handledOn, std::thread::id());
}

TEST_F(ThreadsTest, PostedMessagesArriveInPostingOrderFromTwoThreads) {
    constexpr WPARAM kCount = 200;
    std::atomic<int> turn{0};
    auto poster = [&](WPARAM tag) {
        for (WPARAM i = 0; i < kCount; ++i) {
            // Alternate strictly so that the posting order across both threads is known.
            while (turn.load() != static_cast<int>(i * 2 + tag)) {
                std::this_thread::yield();
            }
            dialog.PostMessage(WM_USER + 1, tag * 1000 + i, 0);
            turn.fetch_add(1);
        }
    };
    std::thread a(poster, 0);
    std::thread b(poster, 1);
    a.join();
    b.join();
    t::ProcessEvents();
    ASSERT_EQ(dialog.messages.size(), 2 * kCount);
    for (WPARAM i = 0; i < kCount; ++i) {
        EXPECT_EQ(dialog.messages[2 * i].second, i);
        EXPECT_EQ(dialog.messages[2 * i + 1].second, 1000 + i);
    }
}

TEST_F(ThreadsTest, WorkerMessageBoxWaitsForItsAnswerWhileTheUiRuns) {
    MessageBoxScript script;
    script.Hold();
    std::atomic<int> answer{-1};
    std::thread reader([&] {
        answer = MessageBox(nullptr, u"SaveAllDataToFile :open file failed", u"err", MB_YESNO);
    });
    ASSERT_TRUE(script.WaitForOpen(1));
    // The UI thread is free: it handles a posted message while the box is open.
    dialog.PostMessage(WM_USER + 1, 7, 0);
    t::ProcessEvents();
    ASSERT_EQ(dialog.messages.size(), 1u);
    EXPECT_EQ(answer.load(), -1);

    EXPECT_TRUE(script.AnswerOpen(IDNO));
    reader.join();
    EXPECT_EQ(answer.load(), IDNO);
    const auto boxes = script.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, u"SaveAllDataToFile :open file failed");
    EXPECT_EQ(boxes[0].caption, u"err");
    EXPECT_EQ(boxes[0].style, MB_YESNO);
    EXPECT_FALSE(boxes[0].fromUiThread);
    EXPECT_EQ(boxes[0].answer, IDNO);
    EXPECT_EQ(script.OpenCount(), 0u);
}

TEST_F(ThreadsTest, ModalBoxOnTheUiThreadKeepsTimersRunning) {
    hh::sys::TestClock clock;
    MessageBoxScript script;
    script.Hold();
    dialog.SetTimer(11, 100);
    bool ownerEnabled = true;
    dialog.onTimer = [&](std::uintptr_t) {
        ownerEnabled = dialog.IsWindowEnabled();
        if (dialog.timers.size() == 3) {
            script.AnswerOpen(IDOK);
        }
    };
    std::atomic<bool> stop{false};
    std::thread ticker([&] {
        while (!stop) {
            if (script.OpenCount() > 0) {
                clock.advance(100ms);
            }
            std::this_thread::sleep_for(1ms);
        }
    });
    const int answer = MessageBox(&dialog, u"Failed to Set Compass to Hall Adjust Mode ", u"ERROR",
                                  MB_TOPMOST | MB_ICONEXCLAMATION);
    stop = true;
    ticker.join();
    EXPECT_EQ(answer, IDOK);
    EXPECT_GE(dialog.timers.size(), 3u);
    EXPECT_FALSE(ownerEnabled); // the owner is disabled while its box is open
    EXPECT_TRUE(dialog.IsWindowEnabled());
    const auto boxes = script.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].fromUiThread);
    EXPECT_EQ(boxes[0].owner, &dialog);
    EXPECT_EQ(boxes[0].style, MB_TOPMOST | MB_ICONEXCLAMATION);
}

TEST_F(ThreadsTest, CaptionsAndScriptedAnswers) {
    MessageBoxScript script;
    script.Answer(IDYES);
    EXPECT_EQ(MessageBox(&dialog, u"Reboot?", u"", MB_YESNO), IDYES);
    EXPECT_EQ(MessageBox(nullptr, u"create auto thread failed :8"), IDOK);
    EXPECT_EQ(MessageBox(nullptr, u"XML ERROR!", std::u16string_view(u""), MB_TOPMOST), IDOK);
    EXPECT_EQ(MessageBox(nullptr, u"Delete?", u"Q", MB_YESNO | MB_DEFBUTTON2), IDNO);
    const auto boxes = script.Boxes();
    ASSERT_EQ(boxes.size(), 4u);
    struct Expected {
        std::u16string caption;
        int answer;
    };
    const Expected expected[] = {{u"", IDYES}, {u"WindowTests", IDOK}, {u"", IDOK}, {u"Q", IDNO}};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(boxes[i].caption, expected[i].caption) << i;
        EXPECT_EQ(boxes[i].answer, expected[i].answer) << i;
    }
}

TEST(ApplicationEnd, BlockedSendAndWorkerBoxAreReleased) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    auto app = std::make_unique<Application>(u"Ending");
    std::atomic<bool> ran{false};
    std::atomic<int> sendResult{-1};
    std::atomic<int> boxAnswer{-1};
    std::thread sender([&] { sendResult = RunOnUiThread([&] { ran = true; }) ? 1 : 0; });
    std::thread boxer(
        [&] { boxAnswer = MessageBox(nullptr, u"alloc space failed", u"err", MB_OK); });
    std::this_thread::sleep_for(20ms); // let both queue their calls; nobody handles them
    app.reset();
    sender.join();
    boxer.join();
    EXPECT_FALSE(ran.load());
    EXPECT_EQ(sendResult.load(), 0);
    EXPECT_EQ(boxAnswer.load(), 0);
}

} // namespace
} // namespace hh::win::test
