// Capture to file: the save button and Log all, with their failure messages.

#include "../src/capture_file.h"
#include "terminal_fixture.h"

#include <platform/system/error.h>
#include <platform/window/testing.h>
#include <terminal/core/receive_text.h>

#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <thread>

namespace terminal::test {
namespace {

using namespace hh::win;
using namespace std::chrono_literals;
namespace wt = hh::win::testing;
namespace fs = std::filesystem;

std::vector<fs::path> CaptureFiles(const std::string& folder) {
    std::vector<fs::path> files;
    const std::regex name(R"(SAVE\d+-\d+-\d+_\d+-\d+-\d+\.txt)");
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (std::regex_match(entry.path().filename().string(), name)) {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

/// Lines of text that add up to n bytes, numbered so that a gap or a doubling shows.
std::string Stream(std::size_t n) {
    std::string s;
    for (int line = 0; s.size() < n; ++line) {
        s += "$GPTXT," + std::to_string(line) + ",the quick brown fox\r\n";
    }
    s.resize(n);
    return s;
}

TEST_F(TerminalTest, SaveWritesTheDisplayBytesAndOneZeroNextToTheProgram) {
    // Line ends as received, lone CR and LF included, are kept byte for byte.
    const std::u16string display = u"line 1\r\nline 2 \u00E9\u20AC\r\n\u4E2D\rcr\nlf";
    const std::string bytes = "line 1\r\nline 2 \xE9\x80\r\n?\rcr\nlf";
    Run([&](CDlgTerminal& dlg) {
        dlg.SetDlgItemText(IDC_EDIT_RECEIVE, display);
        wt::Click(dlg, IDC_BTN_SAVE);
    });
    const auto files = CaptureFiles(HostPath(u"\\SDMMC\\VARDI"));
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(ReadHostFile(files[0].string()), bytes + std::string(1, '\0'));
    const auto boxes = Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, u"ok");
    EXPECT_EQ(boxes[0].text, u"\\SDMMC\\VARDI\\" + Wide(files[0].filename().string()));
}

TEST_F(TerminalTest, SaveIntoAFolderThatCannotHoldFilesReportsIt) {
    fs::remove_all(HostPath(u"\\SDMMC\\VARDI"));
    { std::ofstream(HostPath(u"\\SDMMC\\VARDI")) << "not a folder"; }
    Run([&](CDlgTerminal& dlg) {
        dlg.SetDlgItemText(IDC_EDIT_RECEIVE, u"kept");
        wt::Click(dlg, IDC_BTN_SAVE);
        EXPECT_EQ(Text(dlg, IDC_EDIT_RECEIVE), u"kept");
    });
    const auto boxes = Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, u"create file failed");
    EXPECT_EQ(boxes[0].caption, u"VARDI");
}

// While it lives, no file of this process grows past `bytes`: a write beyond
// fails as on a full disk (EFBIG, which the device calls ERROR_DISK_FULL).
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &m_old);
        m_oldSignal = ::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = m_old;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &m_old);
        ::signal(SIGXFSZ, m_oldSignal);
    }

private:
    rlimit m_old{};
    sighandler_t m_oldSignal = nullptr;
};

TEST_F(TerminalTest, ASaveOnAFullDiskNamesItAndLeavesNoFile) {
    Run([&](CDlgTerminal& dlg) {
        dlg.SetDlgItemText(IDC_EDIT_RECEIVE, std::u16string(4096, u'x'));
        FileSizeLimit full(1000);
        wt::Click(dlg, IDC_BTN_SAVE);
    });
    EXPECT_TRUE(CaptureFiles(HostPath(u"\\SDMMC\\VARDI")).empty());
    EXPECT_EQ(fs::directory_iterator(HostPath(u"\\SDMMC\\VARDI")), fs::directory_iterator())
        << "no temporary file is left either";
    const auto boxes = Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, u"write file failed: the disk is full (ERROR_DISK_FULL, 112)");
}

// A capture that does not fit leaves every file as it was: an earlier
// capture whole, and no new file at all.
TEST_F(TerminalTest, ACaptureThatDoesNotFitLeavesTheFilesAsTheyWere) {
    const std::u16string earlier = u"\\SDMMC\\VARDI\\SAVE-earlier.txt";
    ASSERT_EQ(WriteCaptureFile(earlier, u"first", CaptureMode::Create), CaptureResult::Ok);
    const std::string before = ReadHostFile(HostPath(earlier));
    EXPECT_EQ(before, std::string("first") + '\0');
    const struct {
        const char* name;
        std::u16string path;
        CaptureMode mode;
    } cases[] = {
        {"append to an existing file", earlier, CaptureMode::Append},
        {"replace an existing file", earlier, CaptureMode::Create},
        {"append to a new file", u"\\SDMMC\\VARDI\\SAVE-new-log.txt", CaptureMode::Append},
        {"create a new file", u"\\SDMMC\\VARDI\\SAVE-new.txt", CaptureMode::Create},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CaptureResult result;
        uint32_t error = 0;
        {
            FileSizeLimit full(100);
            result = WriteCaptureFile(c.path, std::u16string(500, u'y'), c.mode);
            error = hh::sys::GetLastError();
        }
        EXPECT_EQ(result, CaptureResult::WriteFailed);
        EXPECT_EQ(error, hh::sys::ERROR_DISK_FULL);
        EXPECT_EQ(ReadHostFile(HostPath(earlier)), before);
    }
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(HostPath(u"\\SDMMC\\VARDI"))) {
        names.push_back(entry.path().filename().string());
    }
    EXPECT_EQ(names, std::vector<std::string>{"SAVE-earlier.txt"});
}

TEST_F(TerminalTest, LogAllKeepsEveryByteOfALongStreamInTheFilesAndTheDisplay) {
    const std::string stream = Stream(100000);
    auto pty = MapPort(3);
    std::u16string last;
    Run([&](CDlgTerminal& dlg) {
        SelectPort(dlg, 3);
        PressOpen(dlg);
        ClickBox(dlg, IDC_CHK_LOGALL);
        EXPECT_EQ(dlg.LogMode(), 1);
        // The stream comes in pieces over several passes, some passes holding
        // more than one buffer.
        std::size_t sent = 0;
        for (const std::size_t piece : {7000u, 25000u, 1u, 40000u, 27999u}) {
            ASSERT_TRUE(pty->Send(std::string_view(stream).substr(sent, piece)));
            sent += piece;
            const std::u16string expected = Wide(std::to_string(sent));
            ASSERT_TRUE(PassUntil([&] { return Text(dlg, IDC_RX_COUNT) == expected; }));
        }
        ASSERT_EQ(sent, stream.size());
        EXPECT_EQ(dlg.LogMode(), 2);
        last = Text(dlg, IDC_EDIT_RECEIVE);
    });
    const auto files = CaptureFiles(HostPath(u"\\SDMMC\\VARDI"));
    ASSERT_EQ(files.size(), 1u);
    std::string logged = ReadHostFile(files[0].string());
    // Each flush is followed by one zero byte.
    const auto flushes = std::count(logged.begin(), logged.end(), '\0');
    EXPECT_GE(flushes, 3);
    std::erase(logged, '\0');
    EXPECT_EQ(logged + std::string(last.begin(), last.end()), stream);
}

TEST_F(TerminalTest, TickingLogAllAgainStartsANewFileAtTheNextFlush) {
    const std::string stream = Stream(90000);
    auto pty = MapPort(3);
    Run([&](CDlgTerminal& dlg) {
        SelectPort(dlg, 3);
        PressOpen(dlg);
        ClickBox(dlg, IDC_CHK_LOGALL);
        ASSERT_TRUE(pty->Send(std::string_view(stream).substr(0, 30000)));
        ASSERT_TRUE(PassUntil([&] { return Text(dlg, IDC_RX_COUNT) == u"30000"; }));
        ASSERT_TRUE(PassUntil([&] { return dlg.LogMode() == 2; }));
        const std::u16string first = dlg.LogFile();
        ClickBox(dlg, IDC_CHK_LOGALL);
        EXPECT_EQ(dlg.LogMode(), 0);
        // Two saves within one second get the same name: wait for the next second.
        std::this_thread::sleep_for(1100ms);
        ClickBox(dlg, IDC_CHK_LOGALL);
        ASSERT_TRUE(pty->Send(std::string_view(stream).substr(30000, 30000)));
        ASSERT_TRUE(PassUntil([&] { return Text(dlg, IDC_RX_COUNT) == u"60000"; }));
        ASSERT_TRUE(PassUntil([&] { return dlg.LogMode() == 2; }));
        EXPECT_NE(dlg.LogFile(), first);
    });
    EXPECT_EQ(CaptureFiles(HostPath(u"\\SDMMC\\VARDI")).size(), 2u);
}

TEST_F(TerminalTest, AFailedLogFlushIsReportedFromTheReaderAndKeepsTheText) {
    const std::string stream = Stream(30000);
    fs::remove_all(HostPath(u"\\SDMMC\\VARDI"));
    { std::ofstream(HostPath(u"\\SDMMC\\VARDI")) << "not a folder"; }
    auto pty = MapPort(3);
    Run([&](CDlgTerminal& dlg) {
        SelectPort(dlg, 3);
        PressOpen(dlg);
        ClickBox(dlg, IDC_CHK_LOGALL);
        ASSERT_TRUE(pty->Send(stream));
        ASSERT_TRUE(PassUntil([&] { return Text(dlg, IDC_RX_COUNT) == u"30000"; }));
        m_boxes->Hold();
        m_clock->advance(500ms);
        ASSERT_TRUE(m_boxes->WaitForOpen(1));
        // The reader waits for the answer; the window does not.
        wt::Click(dlg, IDC_BTN_EX);
        EXPECT_TRUE(dlg.SendPanelShown());
        EXPECT_EQ(Text(dlg, IDC_EDIT_RECEIVE), Wide(stream));
        EXPECT_EQ(dlg.LogMode(), 2);
        EXPECT_TRUE(m_boxes->AnswerOpen(IDOK));
    });
    const auto boxes = Boxes();
    ASSERT_GE(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, u"SaveAllDataToFile :open file failed");
    EXPECT_EQ(boxes[0].caption, u"err");
    EXPECT_EQ(boxes[0].owner, nullptr);
    EXPECT_FALSE(boxes[0].fromUiThread);
}

} // namespace
} // namespace terminal::test
