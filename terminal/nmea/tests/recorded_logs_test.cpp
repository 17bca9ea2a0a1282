// Real receiver recordings, read in place from the shared folder beside the
// checkout, in the reader's 4 KB pieces. The recordings are not ours to ship, so
// the test skips when the folder is absent.

#include "nmea_test_support.h"
#include "terminal/nmea/gps_page.h"
#include "terminal/nmea/nmea.h"

#include <platform/system/testing.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace terminal::nmea {
namespace {

namespace fs = std::filesystem;

template <std::size_t N>
bool Terminated(const char16_t (&field)[N]) {
    return field[N - 1] == u'\0';
}

TEST(RecordedLogs, EveryLogParsesInReaderSizedChunks) {
    const auto logs = hh::sys::testing::RecordedLogs();
    if (logs.empty()) {
        GTEST_SKIP() << hh::sys::testing::NoRecordedLogsMessage();
    }
    // The reader keeps one byte of its 4096 for the terminating zero.
    constexpr std::size_t kChunk = 4095;
    for (const auto& log : logs) {
        SCOPED_TRACE(log.filename().string());
        std::ifstream in(log, std::ios::binary);
        const std::string bytes{std::istreambuf_iterator<char>(in), {}};
        ASSERT_FALSE(bytes.empty());
        const std::u16string text = Widen(bytes);

        std::set<std::u16string> ggaTimes;
        int gsvChunks = 0;
        for (std::size_t at = 0; at < text.size(); at += kChunk) {
            NmeaContext ctx;
            ClearNmea(ctx);
            ParseChunk(ctx, std::u16string_view(text).substr(at, kChunk));
            const NmeaState& s = ctx.m_nmea;
            ASSERT_TRUE(Terminated(s.gga.szTime) && Terminated(s.gga.szAltitudeUnit) &&
                        Terminated(s.gsa.szVdop) && Terminated(s.rmc.szDate));
            if (s.gga.szTime[0] != u'\0') {
                ggaTimes.insert(s.gga.szTime);
            }
            if (s.gsv[0].szNumMessages[0] != u'\0') {
                ++gsvChunks;
            }
            const PillarWalk walk = WalkPillars(s, 35);
            ASSERT_LE(walk.drawn, kPillars);
        }
        // Whatever the parser took for a GGA time was a real sentence's time.
        if (bytes.find("$GPGGA,") != std::string::npos) {
            ASSERT_FALSE(ggaTimes.empty());
        }
        for (const auto& time : ggaTimes) {
            EXPECT_NE(bytes.find("$GPGGA," + Narrow(time) + ","), std::string::npos)
                << Narrow(time);
        }
        if (bytes.find("$GPGSV,") != std::string::npos) {
            EXPECT_GT(gsvChunks, 0);
        }
    }
}

} // namespace
} // namespace terminal::nmea
