// Restel's dialog offscreen on a temporary device root, with the simulated
// power driver and the test clock. A restart ends the dialog instead of the
// test program, and so does every way the program ends itself.

#include <platform/system/clock.h>
#include <platform/system/error.h>
#include <platform/system/module_path.h>
#include <platform/system/stream_device.h>
#include <platform/system/testing.h>
#include <platform/window/application.h>
#include <platform/window/screen.h>
#include <platform/window/testing.h>
#include <platform/window/ui_thread.h>
#include <recovery/app/recovery_dlg.h>
#include <recovery/app/screens.h>
#include <recovery/config/path_config.h>
#include <recovery/engine/copy_engine.h>
#include <recovery/engine/power_requests.h>
#include <recovery/engine/recovery_run.h>
#include <simulator/power/power_driver.h>

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <QApplication>
#include <QString>
#include <QWidget>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace recovery {
namespace {

namespace sys = hh::sys;
namespace win = hh::win;
namespace wt = hh::win::testing;
namespace sim = hh::sim;
using namespace std::chrono_literals;

// Qt's warnings while a test runs: a control that repaints itself inside the
// dialog's painting shows up here ("Recursive repaint detected") and leaves
// the dialog unpainted on a real display.
std::vector<std::string> g_qtWarnings;

void RecordQtWarning(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type != QtDebugMsg && type != QtInfoMsg &&
        message.contains(QStringLiteral("paint"), Qt::CaseInsensitive)) {
        g_qtWarnings.push_back(message.toStdString());
    }
}

struct Pair {
    std::string source;
    std::string destination;
};

/// What the tool's message box showed when the test answered it.
struct SeenBox {
    std::u16string text;
    std::u16string caption;
    int answered = 0;
};

class RestelTest : public hh::sys::testing::DeviceRootTest {
protected:
    void SetUp() override {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        ::setenv("HANDHELD_SCREEN", "480x272", 1);
        DeviceRootTest::SetUp();
        ::setenv("XDG_RUNTIME_DIR", base_.c_str(), 0);
        std::filesystem::create_directories(root_ / "SDMMC/Restel");
        sys::SetModuleName(u"Restel");
        Put("ResidentFlash/old.dat", "old");
        Put("SDMMC/MaroltData/AppData/profile.dat", "user");
        Put("SDMMC/Factory/a.txt", "a");
        Put("SDMMC/Factory/sub/b.txt", "b");
        Put("SDMMC/Factory/sub/c.txt", "c");
        WritePathXml({{"\\SDMMC\\Factory", "\\ResidentFlash"}});
        app_.emplace(u"Restel");
        g_qtWarnings.clear();
        previousHandler_ = qInstallMessageHandler(RecordQtWarning);
        sim::RegisterSimulatedPower([this] {
            ++restarts_;
            if (dialog_) {
                dialog_->EndDialog(0);
            }
        });
        g_dwLastCopyError = 0;
    }

    void TearDown() override {
        sys::UnregisterStreamDriver("PWR");
        sys::RegisterKernelServices(nullptr);
        qInstallMessageHandler(previousHandler_);
        app_.reset();
        DeviceRootTest::TearDown();
    }

    void Put(const std::string& relative, const std::string& text) {
        hh::sys::testing::WriteHost(root_ / relative, text);
    }
    std::string Get(const std::string& relative) {
        std::ifstream in(root_ / relative, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    bool Exists(const std::string& relative) { return std::filesystem::exists(root_ / relative); }

    void WritePathXml(const std::vector<Pair>& pairs) {
        std::string attributes = "Count=\"" + std::to_string(pairs.size()) + "\"";
        for (size_t i = 0; i < pairs.size(); ++i) {
            attributes += " Src" + std::to_string(i) + "=\"" + pairs[i].source + "\" Dst" +
                          std::to_string(i) + "=\"" + pairs[i].destination + "\"";
        }
        Put("SDMMC/Restel/Path.xml", "<Recovery><Paths " + attributes + "/></Recovery>");
    }

    // Runs the dialog; whileOpen runs once its loop runs. The start sleeps
    // 100 ms on the UI thread (the task bar step) before any other thread
    // waits on the clock, so the clock is moved when that sleep begins.
    void RunDialog(const std::function<void()>& whileOpen) {
        CRecoveryDlg dialog([this](int code) {
            ended_.push_back(code);
            dialog_->EndDialog(0);
        });
        dialog_ = &dialog;
        std::thread mover = wt::AdvanceWhenBlocked(clock_, 100ms);
        result_ = wt::RunModal(dialog, whileOpen);
        mover.join();
        dialog_ = nullptr;
    }

    // Clicks a button whose handler sleeps 100 ms on the UI thread while the
    // worker already waits on the clock: the clock moves once both wait.
    void ClickThroughSleep(int id) {
        ASSERT_TRUE(clock_.waitForBlockedThreads(1)) << "the worker waits for its stop event";
        std::thread mover([this] {
            if (clock_.waitForBlockedThreads(2)) {
                clock_.advance(100ms);
            }
        });
        wt::Click(*dialog_, id);
        mover.join();
    }

    // Answers the tool's message box with OK as soon as it is open and shows
    // its text, in whichever modal loop is running then; what it showed goes
    // to box_. Gives up after five real seconds.
    void AnswerMsgBoxWhenOpen() {
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        win::PostToUiThread([this, deadline] { PollMsgBox(deadline); });
    }

    void PollMsgBox(std::chrono::steady_clock::time_point deadline) {
        for (QWidget* widget : QApplication::allWidgets()) {
            auto* box = dynamic_cast<CMsgBox*>(win::Window::FromWidget(widget));
            if (box && widget->isVisible() && !box->GetDlgItemText(IDC_MSG_TEXT).empty()) {
                box_.text = box->GetDlgItemText(IDC_MSG_TEXT);
                box_.caption = box->GetWindowText();
                ++box_.answered;
                wt::Click(*box, win::IDOK);
                return;
            }
        }
        if (std::chrono::steady_clock::now() < deadline) {
            win::PostToUiThread([this, deadline] { PollMsgBox(deadline); });
        }
    }

    // Moves the clock in poll-timer steps until the worker has finished the
    // recovery (or the real-time limit passes); a failure's box opens then.
    bool RunWorkerToTheEnd() {
        return wt::ProcessEventsUntil([this] {
            if (dialog_ == nullptr || dialog_->m_bCompleted != 0 || box_.answered != 0) {
                return true;
            }
            if (clock_.blockedThreads() >= 1) {
                wt::AdvanceAndProcess(clock_, 100ms);
            }
            return false;
        });
    }

    // The dark pixels of the dialog's rendering in rows top .. bottom.
    int DarkPixels(int top, int bottom) {
        QImage image = wt::Grab(*dialog_);
        int dark = 0;
        for (int y = top; y < bottom && y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                dark += qGray(image.pixel(x, y)) < 128 ? 1 : 0;
            }
        }
        return dark;
    }

    static uint32_t Flag() { return sim::ReadStoredRecoverFlag().value_or(0xDEAD); }

    sys::TestClock clock_;
    std::optional<win::Application> app_;
    QtMessageHandler previousHandler_ = nullptr;
    CRecoveryDlg* dialog_ = nullptr;
    std::intptr_t result_ = 0;
    int restarts_ = 0;
    std::vector<int> ended_;
    SeenBox box_;
};

TEST_F(RestelTest, ConfirmationScreenThenYesRequestsTheRecoveryAndRestarts) {
    RunDialog([this] {
        EXPECT_EQ(win::DisplayOrientation(), win::DMDO_90);
        EXPECT_EQ(dialog_->ConfirmScreen(), 1);
        const win::Rect client = dialog_->GetClientRect();
        EXPECT_EQ(client.Width(), 272) << "the rotated screen, task bar hidden";
        EXPECT_EQ(client.Height(), 480);
        const ScreenLayout layout = LayoutFor(client.Width(), client.Height(), 0);
        for (auto [id, place] : {std::pair{IDC_BTN_NO, layout.no}, {IDC_BTN_YES, layout.yes}}) {
            win::Control* button = dialog_->GetDlgItem(id);
            EXPECT_TRUE(button->IsWindowVisible()) << id;
            EXPECT_EQ(button->GetWindowRect().left, place.x) << id;
            EXPECT_EQ(button->GetWindowRect().top, place.y) << id;
            EXPECT_EQ(button->GetWindowRect().Width(), place.width) << id;
        }
        EXPECT_EQ(dialog_->GetDlgItemText(IDC_BTN_NO), u"NO");
        EXPECT_EQ(dialog_->GetDlgItemText(IDC_BTN_YES), u"YES");
        EXPECT_FALSE(dialog_->GetDlgItem(IDC_PROGRESS)->IsWindowVisible());
        EXPECT_GT(DarkPixels(40, 80), 200) << "the title";
        EXPECT_GT(DarkPixels(80, layout.no.y), 200) << "the warning, above the buttons";
        // Beside and between the buttons nothing is drawn: no text hides behind them.
        const QImage image = wt::Grab(*dialog_);
        int darkBeside = 0;
        for (int y = layout.no.y; y < layout.no.y + layout.no.height; ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const bool onButton = (x >= layout.no.x && x < layout.no.x + layout.no.width) ||
                                      (x >= layout.yes.x && x < layout.yes.x + layout.yes.width);
                darkBeside += !onButton && qGray(image.pixel(x, y)) < 128 ? 1 : 0;
            }
        }
        EXPECT_EQ(darkBeside, 0);
        ClickThroughSleep(IDC_BTN_YES);
    });
    EXPECT_EQ(restarts_, 1);
    EXPECT_EQ(Flag(), RECOVER_PENDING) << "100 written, turned into 101 by the restart";
    EXPECT_TRUE(ended_.empty());
    EXPECT_EQ(Get("ResidentFlash/old.dat"), "old");
    EXPECT_EQ(Get("SDMMC/MaroltData/AppData/profile.dat"), "user");
}

TEST_F(RestelTest, NoRestoresTheOrientationAndChangesNothingElse) {
    RunDialog([this] { wt::Click(*dialog_, IDC_BTN_NO); });
    EXPECT_EQ(ended_, std::vector<int>{0});
    EXPECT_EQ(restarts_, 0);
    EXPECT_EQ(Flag(), 0u);
    EXPECT_EQ(win::DisplayOrientation(), win::DMDO_0);
    win::Window* bar = win::FindWindow(u"HHTaskBar");
    ASSERT_NE(bar, nullptr);
    EXPECT_FALSE(bar->IsWindowVisible()) << "the task bar stays hidden";
    EXPECT_EQ(win::GetWorkArea().Height(), win::GetSystemMetrics(win::SM_CYSCREEN));
}

TEST_F(RestelTest, EscapeEndsTheDialogAsTheWindowSystemDoes) {
    RunDialog([this] { wt::PressEscape(*dialog_); });
    EXPECT_EQ(result_, win::IDCANCEL);
    EXPECT_TRUE(ended_.empty());
    EXPECT_EQ(restarts_, 0);
    EXPECT_EQ(Flag(), 0u);
}

TEST_F(RestelTest, PendingFlagRunsTheRecoveryWithCountdownAndRestart) {
    ASSERT_TRUE(sim::StoreRecoverFlag(RECOVER_PENDING));

    std::vector<int32_t> countdowns;
    RunDialog([&] {
        EXPECT_EQ(dialog_->ConfirmScreen(), 0);
        EXPECT_FALSE(dialog_->GetDlgItem(IDC_BTN_YES)->IsWindowVisible());
        EXPECT_FALSE(dialog_->GetDlgItem(IDC_BTN_NO)->IsWindowVisible());
        EXPECT_TRUE(dialog_->GetDlgItem(IDC_PROGRESS)->IsWindowVisible());
        EXPECT_EQ(Flag(), 0u) << "cleared before the work starts";
        EXPECT_EQ(Get("ResidentFlash/old.dat"), "old") << "the worker starts at its next wake";
        // Before the worker wakes: a redraw with files counted and copied shows
        // the percentage and moves the bar.
        dialog_->m_nTotalFiles = 3;
        dialog_->SetCopiedFiles(1);
        wt::AdvanceAndProcess(clock_, std::chrono::milliseconds(kPollPeriodMs));
        wt::ProcessEvents();
        EXPECT_EQ(dialog_->Item<win::ProgressBar>(IDC_PROGRESS)->GetPos(), 1);
        EXPECT_GT(DarkPixels(80, 240), 200) << "the percentage";
        dialog_->m_nTotalFiles = 0;
        dialog_->SetCopiedFiles(0);
        ASSERT_TRUE(RunWorkerToTheEnd());
        ASSERT_EQ(dialog_->m_bCompleted, 1);
        auto* progress = dialog_->Item<win::ProgressBar>(IDC_PROGRESS);
        EXPECT_FALSE(progress->IsWindowVisible());
        EXPECT_EQ(progress->GetRangeMax(), 3) << "the range is the counted files";
        countdowns.push_back(dialog_->Countdown());
        for (int tick = 0; tick < 6 && dialog_ && restarts_ == 0; ++tick) {
            wt::AdvanceAndProcess(clock_, 1000ms);
            wt::ProcessEvents();
            if (restarts_ == 0) {
                countdowns.push_back(dialog_->Countdown());
                EXPECT_EQ(progress->GetPos(), 3) << "the position follows at each redraw";
                EXPECT_GT(DarkPixels(0, 480 / 2 + 30), 200) << "completion and countdown";
            }
        }
    });
    EXPECT_EQ(countdowns, (std::vector<int32_t>{5, 4, 3, 2, 1, 0}));
    EXPECT_EQ(restarts_, 1);
    EXPECT_EQ(box_.answered, 0);
    EXPECT_TRUE(g_qtWarnings.empty()) << g_qtWarnings.front();
    EXPECT_FALSE(Exists("ResidentFlash/old.dat"));
    EXPECT_TRUE(Exists("ResidentFlash"));
    EXPECT_EQ(Get("ResidentFlash/a.txt"), "a");
    EXPECT_EQ(Get("ResidentFlash/sub/c.txt"), "c");
    EXPECT_FALSE(Exists("SDMMC/MaroltData/AppData"));
    EXPECT_EQ(Get("SDMMC/Factory/sub/b.txt"), "b") << "the source stays";
    EXPECT_EQ(Flag(), 0u);
}

TEST_F(RestelTest, SourceMissingAtStartShowsTheFailureAndRestarts) {
    struct Case {
        const char* name;
        std::vector<Pair> pairs;
        std::u16string text;
    } cases[] = {
        {"missing", {{"\\SDMMC\\Gone", "\\ResidentFlash"}}, RecoverFailedText(2)},
        {"no pairs", {}, u""},
    };
    for (const Case& c : cases) {
        WritePathXml(c.pairs);
        ASSERT_TRUE(sim::StoreRecoverFlag(RECOVER_PENDING));
        restarts_ = 0;
        box_ = {};
        AnswerMsgBoxWhenOpen();
        RunDialog([] {});
        EXPECT_EQ(box_.answered, 1) << c.name;
        if (!c.text.empty()) {
            EXPECT_EQ(box_.text, c.text) << c.name;
        } else {
            EXPECT_EQ(box_.text.rfind(u"Recover failed(", 0), 0u) << c.name;
        }
        EXPECT_EQ(box_.caption, u"Recover") << c.name;
        EXPECT_EQ(restarts_, 1) << c.name;
        EXPECT_EQ(Flag(), 0u) << c.name;
        EXPECT_EQ(Get("ResidentFlash/old.dat"), "old") << c.name << ": nothing deleted";
        EXPECT_EQ(Get("SDMMC/MaroltData/AppData/profile.dat"), "user") << c.name;
    }
}

TEST_F(RestelTest, FailedRecoveryShowsItsErrorKeepsUserDataAndRestarts) {
    std::filesystem::create_directories(root_ / "SDMMC/Empty");
    Put("SDMMC/Navi/nav.dat", "nav");
    Put("SDMMC/Big/map.bin", std::string(256 * 1024, 'm'));
    struct Case {
        const char* name;
        std::vector<Pair> pairs;
        uint64_t fileSizeLimit; ///< stands for a volume that fills up; 0: none
        std::u16string text;
        bool flashEmptied;
    } cases[] = {
        // A source with nothing in it fails before anything is deleted.
        {"empty source",
         {{"\\SDMMC\\Factory", "\\ResidentFlash"}, {"\\SDMMC\\Empty", "\\SDMMC\\Out"}},
         0,
         RecoverFailedText(0),
         false},
        // Configurations that would destroy data are refused before anything
        // is deleted, each with its own code.
        {"blank pair", {{"", ""}}, 0, RecoverFailedText(kBlankPathError), false},
        {"destination inside its source",
         {{"\\SDMMC\\Navi", "\\SDMMC\\Navi\\sub"}},
         0,
         RecoverFailedText(kSourceOverlapsDestinationError),
         false},
        {"source is the flash",
         {{"\\ResidentFlash", "\\SDMMC\\Saved"}},
         0,
         RecoverFailedText(kSourceMeetsFlashError),
         false},
        {"link leaving the root",
         {{"\\SDMMC\\Factory", "\\ResidentFlash"}, {"\\SDMMC\\Escape", "\\SDMMC\\Out"}},
         0,
         RecoverFailedText(kOutsideRootError),
         false},
        // A folder where a file must go: the destination cannot be written.
        {"unwritable destination",
         {{"\\SDMMC\\Factory", "\\ResidentFlash"}, {"\\SDMMC\\Navi", "\\SDMMC\\MaroltNavi"}},
         0,
         RecoverFailedText(sys::ERROR_ACCESS_DENIED),
         true},
        {"full volume",
         {{"\\SDMMC\\Big", "\\ResidentFlash"}},
         64 * 1024,
         RecoverFailedText(sys::ERROR_DISK_FULL),
         true},
    };
    std::filesystem::create_directories(root_ / "SDMMC/MaroltNavi/nav.dat/x");
    Put("SDMMC/Escape/a.txt", "a");
    std::filesystem::create_symlink(root_.parent_path(), root_ / "SDMMC/Escape/out");
    for (const Case& c : cases) {
        Put("ResidentFlash/old.dat", "old");
        WritePathXml(c.pairs);
        ASSERT_TRUE(sim::StoreRecoverFlag(RECOVER_PENDING));
        restarts_ = 0;
        box_ = {};
        g_dwLastCopyError = 0;
        rlimit saved{};
        ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
        auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        if (c.fileSizeLimit != 0) {
            rlimit small = saved;
            small.rlim_cur = c.fileSizeLimit;
            ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
        }
        RunDialog([&] {
            AnswerMsgBoxWhenOpen();
            EXPECT_TRUE(RunWorkerToTheEnd()) << c.name;
        });
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);
        EXPECT_EQ(box_.answered, 1) << c.name;
        EXPECT_EQ(box_.text, c.text) << c.name;
        EXPECT_EQ(box_.caption, u"Recover") << c.name;
        EXPECT_EQ(restarts_, 1) << c.name << ": the restart follows OK";
        EXPECT_EQ(Flag(), 0u) << c.name;
        EXPECT_EQ(Get("SDMMC/MaroltData/AppData/profile.dat"), "user") << c.name;
        EXPECT_EQ(Exists("ResidentFlash/old.dat"), !c.flashEmptied) << c.name;
        EXPECT_TRUE(Exists("SDMMC/Navi/nav.dat")) << c.name << ": sources stay";
        EXPECT_EQ(Get("SDMMC/Big/map.bin").size(), 256u * 1024) << c.name;
    }
}

TEST_F(RestelTest, UnreadablePathXmlShowsXmlErrorAndEndsLeavingTheFlag) {
    enum class Kind { Text, Missing, Pipe, Folder };
    struct Case {
        const char* name;
        Kind kind;
        std::optional<std::string> contents;
    } cases[] = {
        {"malformed", Kind::Text, "<Recovery><Paths Count=\"1\"></Recovery>"},
        {"missing", Kind::Missing, std::nullopt},
        {"count beyond any list", Kind::Text,
         "<Recovery><Paths Count=\"" + std::to_string(kMaxPathPairs + 1) +
             "\" Src0=\"\\SDMMC\\Factory\" Dst0=\"\\ResidentFlash\"/></Recovery>"},
        {"a pipe no one writes to", Kind::Pipe, std::nullopt},
        {"a folder", Kind::Folder, std::nullopt},
        {"a reference to nul that would cut the source short", Kind::Text,
         "<Recovery><Paths Count=\"1\" Src0=\"\\SDMMC\\Factory&#0;\\x\" "
         "Dst0=\"\\ResidentFlash\"/></Recovery>"},
        {"bytes that are no characters", Kind::Text,
         "<Recovery><Paths Count=\"1\" Src0=\"\\SDMMC\\\xff\xfe\" "
         "Dst0=\"\\ResidentFlash\"/></Recovery>"},
    };
    for (const Case& c : cases) {
        const std::filesystem::path pathXml = root_ / "SDMMC/Restel/Path.xml";
        std::filesystem::remove_all(pathXml);
        if (c.kind == Kind::Text) {
            Put("SDMMC/Restel/Path.xml", *c.contents);
        } else if (c.kind == Kind::Pipe) {
            ASSERT_EQ(::mkfifo(pathXml.c_str(), 0644), 0);
        } else if (c.kind == Kind::Folder) {
            std::filesystem::create_directory(pathXml);
        }
        ASSERT_TRUE(sim::StoreRecoverFlag(RECOVER_PENDING));
        ended_.clear();
        win::MessageBoxScript script;
        RunDialog([] {});
        std::vector<win::MessageBoxRecord> boxes = script.Boxes();
        ASSERT_FALSE(boxes.empty()) << c.name;
        EXPECT_EQ(boxes.back().text, u"XML ERROR!") << c.name;
        EXPECT_EQ(boxes.back().caption, u"") << c.name;
        EXPECT_EQ(boxes.back().style, win::MB_TOPMOST) << c.name;
        EXPECT_EQ(ended_, std::vector<int>{0}) << c.name;
        EXPECT_EQ(restarts_, 0) << c.name;
        EXPECT_EQ(Flag(), RECOVER_PENDING) << c.name << ": the flag is left alone";
        EXPECT_EQ(Get("ResidentFlash/old.dat"), "old") << c.name;
        if (c.contents) {
            // A document that loaded is written back; its pairs stay.
            EXPECT_NE(Get("SDMMC/Restel/Path.xml").find(c.contents->substr(10, 20)),
                      std::string::npos)
                << c.name;
        }
    }
}

TEST_F(RestelTest, FlagWriteFailureLeavesEverythingAsItWas) {
    sys::UnregisterStreamDriver("PWR");
    RunDialog([this] {
        EXPECT_EQ(dialog_->ConfirmScreen(), 1) << "an unreadable flag reads 0";
        AnswerMsgBoxWhenOpen();
        wt::Click(*dialog_, IDC_BTN_YES);
    });
    EXPECT_EQ(box_.answered, 1);
    EXPECT_EQ(box_.text, FlagFailedText(sys::ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(box_.caption, u"Recover");
    EXPECT_EQ(ended_, std::vector<int>{0});
    EXPECT_EQ(restarts_, 0);
    EXPECT_EQ(win::DisplayOrientation(), win::DMDO_0);
    EXPECT_FALSE(Exists(".device/recover_flag"));
}

TEST_F(RestelTest, MessageBoxSetsItsTextsAgainAtEveryErase) {
    RunDialog([this] {
        CMsgBox box(u"Recover failed(5)!Press OK to reboot.", u"Recover");
        win::PostToUiThread([&] {
            wt::ProcessEventsUntil([&] { return !box.GetDlgItemText(IDC_MSG_TEXT).empty(); });
            EXPECT_EQ(box.GetWindowText(), u"Recover");
            EXPECT_TRUE(box.GetDlgItem(win::IDOK)->IsWindowVisible());
            EXPECT_EQ(box.GetDlgItemText(win::IDOK), u"OK");
            box.SetDlgItemText(IDC_MSG_TEXT, u"changed");
            box.SetWindowText(u"changed");
            box.Invalidate(true);
            wt::ProcessEventsUntil([&] { return box.GetWindowText() == u"Recover"; });
            EXPECT_EQ(box.GetDlgItemText(IDC_MSG_TEXT), u"Recover failed(5)!Press OK to reboot.");
            wt::Click(box, win::IDOK);
        });
        EXPECT_EQ(box.DoModal(), win::IDOK);
        wt::Click(*dialog_, IDC_BTN_NO);
    });
    EXPECT_EQ(ended_, std::vector<int>{0});
}

TEST_F(RestelTest, RecoverFailedBoxAnswersEnterAndEscapeFromTheKeyboard) {
    WritePathXml({{"\\SDMMC\\Gone", "\\ResidentFlash"}});
    for (const int key : {win::VK_RETURN, win::VK_ESCAPE}) {
        ASSERT_TRUE(sim::StoreRecoverFlag(RECOVER_PENDING));
        restarts_ = 0;
        std::u16string text;
        bool delivered = false;
        bool closedByKey = false;
        // Presses the key on the keyboard once the box shows its text; gives
        // up after five real seconds.
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        std::function<void()> pressWhenOpen = [&] {
            for (QWidget* widget : QApplication::allWidgets()) {
                auto* box = dynamic_cast<CMsgBox*>(win::Window::FromWidget(widget));
                if (box && widget->isVisible() && !box->GetDlgItemText(IDC_MSG_TEXT).empty()) {
                    text = box->GetDlgItemText(IDC_MSG_TEXT);
                    delivered = wt::PressKeyOnKeyboard(key);
                    closedByKey = !widget->isVisible();
                    if (!closedByKey) {
                        wt::Click(*box, win::IDOK);
                    }
                    return;
                }
            }
            if (std::chrono::steady_clock::now() < deadline) {
                win::PostToUiThread(pressWhenOpen);
            }
        };
        win::PostToUiThread(pressWhenOpen);
        RunDialog([] {});
        EXPECT_EQ(text, RecoverFailedText(2)) << key;
        EXPECT_TRUE(delivered) << key;
        EXPECT_TRUE(closedByKey) << key;
        EXPECT_EQ(restarts_, 1) << key;
        EXPECT_EQ(Flag(), 0u) << key;
    }
}

} // namespace
} // namespace recovery
