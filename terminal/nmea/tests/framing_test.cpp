// ParseChunk finds its sentences in one pass. These tests hold it to the
// framing written out search by search: the first header of each kind through
// the first "*" at or after it, and for GSV a search from 5 characters after
// the previous header, three times at most. Chunks crowded with "$", "*" and
// partial headers, and the recorded logs, must decode identically.

#include "nmea_test_support.h"
#include "terminal/nmea/nmea.h"

#include <platform/system/testing.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <string_view>

namespace terminal::nmea {
namespace {

std::u16string_view Frame(std::u16string_view chunk, std::u16string_view header, std::size_t from,
                          std::size_t& found) {
    found = chunk.find(header, from);
    if (found == std::u16string_view::npos) {
        return {};
    }
    const std::size_t star = chunk.find(u'*', found);
    if (star == std::u16string_view::npos) {
        return {};
    }
    return chunk.substr(found, star - found + 1);
}

void SearchBySearch(NmeaContext& ctx, std::u16string_view chunk) {
    std::size_t at = 0;
    if (auto s = Frame(chunk, u"$GPGGA", 0, at); !s.empty()) {
        ParseGGA(ctx, s);
    }
    if (auto s = Frame(chunk, u"$GPGSA", 0, at); !s.empty()) {
        ParseGSA(ctx, s);
    }
    std::size_t from = 0;
    for (int i = 0; i < kGsvRecords; ++i) {
        const auto s = Frame(chunk, u"$GPGSV", from, at);
        if (at == std::u16string_view::npos) {
            break;
        }
        if (!s.empty()) {
            ParseGSV(ctx, s);
        }
        from = at + 5;
    }
    ctx.m_nGsvIndex = 0;
    if (auto s = Frame(chunk, u"$GPRMC", 0, at); !s.empty()) {
        ParseRMC(ctx, s);
    }
}

void ExpectSameAsSearchBySearch(std::u16string_view chunk) {
    NmeaContext expected;
    SearchBySearch(expected, chunk);
    NmeaContext actual;
    ParseChunk(actual, chunk);
    ASSERT_EQ(actual.m_nmea, expected.m_nmea) << Narrow(chunk);
    ASSERT_EQ(actual.m_nGsvIndex, 0);
}

// Pieces that make headers, near misses, sentence ends and fields collide.
constexpr std::array<std::string_view, 22> kPieces = {
    "$GPGGA,",  "$GPGSA,",  "$GPGSV,", "$GPRMC,", "$GNGGA,", "$GPGS",  "$GP",  "$",
    "$$GPGSV,", "$GPGSVX,", "$GPRMB,", "*",       "*4F\r\n", ",",      "\r\n", "12",
    "4807.038", "N",        "A",       "3",       ",,",      "$GPGGA",
};

TEST(Framing, CrowdedChunksDecodeAsSearchBySearch) {
    std::mt19937 random(20260101);
    for (int round = 0; round < 20000; ++round) {
        std::string bytes;
        // Short chunks put headers at the very end; long ones cross the
        // 16-character blocks the search works in.
        const std::size_t size = random() % 2 == 0 ? random() % 24 : random() % 600;
        while (bytes.size() < size) {
            bytes += kPieces[random() % kPieces.size()];
        }
        bytes.resize(size);
        ExpectSameAsSearchBySearch(Widen(bytes));
    }
}

TEST(Framing, HeadersAtEveryOffsetOfABlock) {
    const std::string sentences = "$GPGSV,3,1,12,01,40,083,46*$GPGSV,3,2,12,02,17*"
                                  "$GPRMC,1,A,2*$GPGGA,1,2*$GPGSA,A,3*$GPGSV,3,3,12,03*";
    for (std::size_t pad = 0; pad < 40; ++pad) {
        for (const std::size_t cut : {sentences.size(), sentences.size() - 1, std::size_t{30}}) {
            ExpectSameAsSearchBySearch(Widen(std::string(pad, 'x') + sentences.substr(0, cut)));
        }
    }
}

TEST(Framing, RecordedLogsDecodeAsSearchBySearch) {
    int logs = 0;
    for (const auto& log : hh::sys::testing::RecordedLogs()) {
        ++logs;
        std::ifstream in(log, std::ios::binary);
        const std::u16string text = Widen(std::string{std::istreambuf_iterator<char>(in), {}});
        // Every offset of a 4095-character window, stepped so that the cut
        // falls everywhere within a sentence.
        for (std::size_t at = 0; at < text.size(); at += 37) {
            ExpectSameAsSearchBySearch(std::u16string_view(text).substr(at, 4095));
        }
    }
    if (logs == 0) {
        GTEST_SKIP() << hh::sys::testing::NoRecordedLogsMessage();
    }
}

} // namespace
} // namespace terminal::nmea
