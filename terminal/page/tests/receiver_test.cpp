// The page against simulated receivers on real pseudo-terminals: the GPS
// receiver model answering the page's cold start, and recorded logs replayed
// burst by burst. The test stands in for the reader thread: it reads what the
// line delivered and hands each read to the page.

#include "page_test_support.h"
#include "simulator/receiver/receiver_host.h"
#include "terminal/page/shared_state.h"

#include <platform/system/testing.h>
#include <platform/system/wait.h>
#include <platform/window/testing.h>

#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <QColor>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <vector>

namespace terminal::testing {
namespace {

namespace fs = std::filesystem;
namespace wt = hh::win::testing;

// The reader's buffer keeps one of its 4096 bytes for the terminating zero.
constexpr std::size_t kReadSize = 4095;

// Reads from the line until done(bytes) holds or a few real seconds pass.
template <class Done>
std::string ReadUntil(int fd, Done done) {
    std::string bytes;
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!done(bytes) && std::chrono::steady_clock::now() < giveUp) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) {
            continue;
        }
        char buf[kReadSize];
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0) {
            break;
        }
        bytes.append(buf, static_cast<std::size_t>(n));
    }
    return bytes;
}

// One second of the simulated receiver: its burst ends with the RMC line.
std::string ReadGpsBurst(int fd) {
    return ReadUntil(fd, [](const std::string& bytes) {
        const auto rmc = bytes.find("$GPRMC");
        return rmc != std::string::npos && bytes.find("\r\n", rmc) != std::string::npos;
    });
}

class ReceiverPageTest : public PageTest {
protected:
    void TearDown() override {
        PageTest::TearDown();
        if (m_fd >= 0) {
            ::close(m_fd);
        }
        m_host.reset();
    }

    void StartHost(std::unique_ptr<hh::sim::BurstSource> source) {
        m_host = hh::sim::PtyReceiverHost::Start(std::move(source), hh::sim::Pacing::Manual);
        ASSERT_NE(m_host, nullptr);
        m_fd = m_host->takeDeviceFd();
        ASSERT_GE(m_fd, 0);
    }

    // The number of pillars the last chunk drew (their PRN labels are set).
    int PillarsDrawn() const {
        int n = 0;
        for (int p = 0; p < 12; ++p) {
            n += Text(IDC_PRN_FIRST + p).empty() ? 0 : 1;
        }
        return n;
    }

    // The number of pillars whose bar shows a satellite used in a 3D fix.
    int RedPillars() const {
        int red = 0;
        for (int p = 0; p < 12; ++p) {
            const QImage image = PillarImage(p);
            red += image.pixelColor(0, image.height() - 1) == QColor(255, 0, 0) ? 1 : 0;
        }
        return red;
    }

    // One second: the TTFF tick, then the receiver's burst read and handed over.
    void PlaySecond() {
        Second();
        ASSERT_TRUE(m_host->emitNow());
        const std::string burst = ReadGpsBurst(m_fd);
        ASSERT_NE(burst.find("$GPRMC"), std::string::npos);
        ASSERT_EQ(Feed(Widen(burst)), hh::sys::WAIT_OBJECT_0);
    }

    std::unique_ptr<hh::sim::PtyReceiverHost> m_host;
    int m_fd = -1;
};

TEST_F(ReceiverPageTest, ColdStartThroughThePortRestartsTheReceiversAcquisition) {
    StartHost(std::make_unique<hh::sim::GpsSource>());
    SetPortFd(m_fd);
    wt::Click(*m_page, IDC_CHK_ANALYZE);

    // Power-on: the receiver reaches a 3D fix within a minute.
    for (int second = 0; second < 60 && Text(IDC_FIX) != u"3D"; ++second) {
        ASSERT_NO_FATAL_FAILURE(PlaySecond());
    }
    ASSERT_EQ(Text(IDC_FIX), u"3D");
    const int inView = std::stoi(Narrow(Text(IDC_VIEW)));
    EXPECT_EQ(PillarsDrawn(), std::min(inView, 12));
    EXPECT_GE(RedPillars(), 4);
    EXPECT_EQ(Text(IDC_LATITUDE).substr(0, 4), u"N48\u00B0");
    EXPECT_EQ(Text(IDC_LONGITUDE).substr(0, 5), u"E011\u00B0");
    const std::u16string time = Text(IDC_TIME_DATE);
    ASSERT_EQ(time.size(), 15u) << Narrow(time);
    EXPECT_EQ(time.substr(2, 1), u":");
    EXPECT_EQ(time.substr(5, 1), u":");
    EXPECT_EQ(time.substr(8), u" 010624");

    wt::Click(*m_page, IDC_BTN_COLD);
    EXPECT_EQ(TakeWrittenBytes(), "$PGNVS,RSET,COLD\r\n");
    ASSERT_TRUE(wt::ProcessEventsUntil([&] { return m_host->bytesHeard() == 18; }));

    // The receiver drops its fix at once, then needs 26 to 45 s to collect the
    // ephemerides before its first fix, 2D or straight 3D.
    std::vector<std::u16string> fixes;
    while (fixes.size() < 120 && (fixes.empty() || fixes.back() != u"3D")) {
        ASSERT_NO_FATAL_FAILURE(PlaySecond());
        fixes.push_back(Text(IDC_FIX));
    }
    ASSERT_EQ(fixes.back(), u"3D");
    EXPECT_EQ(fixes.front(), u"NA");
    const auto firstFix =
        std::find_if(fixes.begin(), fixes.end(), [](const auto& f) { return f != u"NA"; });
    const auto first3D = std::find(fixes.begin(), fixes.end(), u"3D");
    EXPECT_TRUE(std::all_of(firstFix, first3D, [](const auto& f) { return f == u"2D"; }));
    const auto secondsToFix = firstFix - fixes.begin();
    EXPECT_GE(secondsToFix, 26);
    EXPECT_LE(secondsToFix, 45);
    // The count showed 0, 1, 2, ... once a second and stopped at the first fix.
    EXPECT_EQ(Text(IDC_TTFF), Widen(std::to_string(secondsToFix)));
    EXPECT_EQ(m_page->Ttff(), 0);
}

TEST_F(ReceiverPageTest, RecordedLogsReplayedThroughThePortDrawTheirSatellites) {
    const auto logs = hh::sys::testing::RecordedLogs();
    if (logs.empty()) {
        GTEST_SKIP() << hh::sys::testing::NoRecordedLogsMessage();
    }
    wt::Click(*m_page, IDC_CHK_ANALYZE);
    for (const fs::path& log : logs) {
        SCOPED_TRACE(log.filename().string());
        std::ifstream in(log, std::ios::binary);
        const std::string text{std::istreambuf_iterator<char>(in), {}};
        const std::vector<std::string> bursts = hh::sim::SplitIntoBursts(text);
        auto source = hh::sim::ReplaySource::Load(log.string());
        ASSERT_NE(source, nullptr);
        ASSERT_NO_FATAL_FAILURE(StartHost(std::move(source)));

        int chunksWithSatellites = 0;
        for (const std::string& burst : bursts) {
            ASSERT_TRUE(m_host->emitNow());
            const std::string bytes =
                ReadUntil(m_fd, [&](const std::string& got) { return got.size() >= burst.size(); });
            ASSERT_EQ(bytes, burst);
            for (std::size_t at = 0; at < bytes.size(); at += kReadSize) {
                const std::u16string chunk = Widen(std::string_view(bytes).substr(at, kReadSize));
                ASSERT_EQ(Feed(chunk), hh::sys::WAIT_OBJECT_0);
                const int drawn = PillarsDrawn();
                chunksWithSatellites += drawn > 0 ? 1 : 0;
                // Every PRN shown began a field of this read (a three-digit
                // PRN is cut to its slot's two characters).
                for (int p = 0; p < drawn; ++p) {
                    const std::u16string prn = Text(IDC_PRN_FIRST + p);
                    EXPECT_NE(chunk.find(u"," + prn), std::u16string::npos) << Narrow(prn);
                }
            }
        }
        if (text.find("$GPGSV,") != std::string::npos) {
            EXPECT_GT(chunksWithSatellites, 0);
        }
        ::close(m_fd);
        m_fd = -1;
        m_host.reset();
    }
}

} // namespace
} // namespace terminal::testing
