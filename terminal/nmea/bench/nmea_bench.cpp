// ParseChunk on the reader's 4 KB chunks.
//
// Chunk/ReceiverOutput: 1 Hz cycles of a 12-satellite receiver, from the
// simulated receiver. Chunk/Noise: line noise without a single sentence,
// where every header is looked for to the end of the chunk.
//
// Log/ours/<log> and Log/minmea/<log>: every recording in the shared
// nmea-logs folder (HH_NMEA_LOGS names another one), cut into 4095-byte
// chunks as the reader reads them; Log/.../all runs every chunk of every log,
// so each chunk weighs the same. The minmea column, built when the peer's
// folder is beside the checkout, frames the same sentences as ParseChunk does
// (the first "$GPGGA", "$GPGSA", "$GPRMC" and up to three "$GPGSV", each
// through the first "*" at or after its header) with std::string_view searches
// on the received bytes, and parses each in place with minmea_parse_*. Bytes
// per second count received bytes on both sides (ours reads the chunk as the
// page gets it, one UTF-16 unit per byte).

#include "simulator/gps/gps_receiver.h"
#include "terminal/nmea/gps_page.h"
#include "terminal/nmea/nmea.h"

#include <benchmark/benchmark.h>

#if HH_PEER_MINMEA
#include <minmea.h>
#endif

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace terminal::nmea;
namespace fs = std::filesystem;

constexpr std::size_t kChunk = 4095;

// The receiver under the fullest sky of a day (start times an hour apart),
// run up to a 3D fix.
hh::sim::GpsReceiver FullSkyReceiver() {
    int64_t best = 0;
    std::size_t most = 0;
    for (int64_t hour = 0; hour < 24; ++hour) {
        const int64_t utc = 1717243200 + hour * 3600;
        hh::sim::GpsReceiver rx({.seed = 1, .utcStart = utc});
        rx.nextBurst();
        if (rx.satellites().size() > most) {
            most = rx.satellites().size();
            best = utc;
        }
    }
    hh::sim::GpsReceiver rx({.seed = 1, .utcStart = best});
    while (rx.fixType() != hh::sim::GpsFix::Fix3D) {
        rx.nextBurst();
    }
    return rx;
}

std::u16string ReceiverChunk() {
    auto rx = FullSkyReceiver();
    std::string text;
    while (text.size() < kChunk) {
        text += rx.nextBurst();
    }
    text.resize(kChunk);
    return std::u16string(text.begin(), text.end());
}

std::u16string NoiseChunk() {
    std::u16string chunk;
    uint32_t x = 2463534242u;
    while (chunk.size() < kChunk) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        // Printable text and line ends, but never a "$".
        const char16_t ch = static_cast<char16_t>(u'%' + x % 90);
        chunk.push_back(x % 61 == 0 ? u'\n' : ch);
    }
    return chunk;
}

void Run(benchmark::State& state, const std::u16string& chunk) {
    NmeaContext ctx;
    for (auto _ : state) {
        ClearNmea(ctx);
        ParseChunk(ctx, chunk);
        benchmark::DoNotOptimize(ctx);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(chunk.size()));
}

void BM_ParseAndWalkReceiverOutput(benchmark::State& state) {
    const std::u16string chunk = ReceiverChunk();
    NmeaContext ctx;
    for (auto _ : state) {
        ClearNmea(ctx);
        ParseChunk(ctx, chunk);
        benchmark::DoNotOptimize(WalkPillars(ctx.m_nmea, 35));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(chunk.size()));
}

/// The chunks of one or more recordings: the received bytes and the text the
/// page gets for them.
struct Chunks {
    std::vector<std::string> bytes;
    std::vector<std::u16string> text;
    int64_t size = 0;

    void add(std::string_view log) {
        for (std::size_t at = 0; at < log.size(); at += kChunk) {
            const std::string_view piece = log.substr(at, kChunk);
            bytes.emplace_back(piece);
            text.emplace_back(piece.begin(), piece.end());
            size += static_cast<int64_t>(piece.size());
        }
    }
};

void RunOurs(benchmark::State& state, const Chunks& chunks) {
    NmeaContext ctx;
    for (auto _ : state) {
        for (const std::u16string& chunk : chunks.text) {
            ClearNmea(ctx);
            ParseChunk(ctx, chunk);
            benchmark::DoNotOptimize(ctx);
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * chunks.size);
}

#if HH_PEER_MINMEA
struct MinmeaFrames {
    minmea_sentence_gga gga;
    minmea_sentence_gsa gsa;
    minmea_sentence_gsv gsv[kGsvRecords];
    minmea_sentence_rmc rmc;
};

/// Where the sentence of the first `header` at or after `from` starts, or
/// nullptr without one or without a "*" after it; `found` gets the header's
/// position.
const char* Frame(std::string_view chunk, std::string_view header, std::size_t from,
                  std::size_t& found) {
    found = chunk.find(header, from);
    if (found == std::string_view::npos || chunk.find('*', found) == std::string_view::npos) {
        return nullptr;
    }
    return chunk.data() + found;
}

void ParseWithMinmea(MinmeaFrames& f, std::string_view chunk) {
    std::size_t at = 0;
    if (const char* s = Frame(chunk, "$GPGGA", 0, at)) {
        minmea_parse_gga(&f.gga, s);
    }
    if (const char* s = Frame(chunk, "$GPGSA", 0, at)) {
        minmea_parse_gsa(&f.gsa, s);
    }
    std::size_t from = 0;
    for (int i = 0; i < kGsvRecords; ++i) {
        const char* s = Frame(chunk, "$GPGSV", from, at);
        if (at == std::string_view::npos) {
            break;
        }
        if (s) {
            minmea_parse_gsv(&f.gsv[i], s);
        }
        from = at + 5;
    }
    if (const char* s = Frame(chunk, "$GPRMC", 0, at)) {
        minmea_parse_rmc(&f.rmc, s);
    }
}

void RunMinmea(benchmark::State& state, const Chunks& chunks) {
    MinmeaFrames frames{};
    for (auto _ : state) {
        for (const std::string& chunk : chunks.bytes) {
            frames = MinmeaFrames{};
            ParseWithMinmea(frames, chunk);
            benchmark::DoNotOptimize(frames);
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * chunks.size);
}
#endif

fs::path LogsDir() {
    if (const char* dir = std::getenv("HH_NMEA_LOGS")) {
        return dir;
    }
    return HH_NMEA_LOGS_DIR;
}

std::string ReadLog(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void RegisterLog(const std::string& name, const Chunks& chunks) {
    benchmark::RegisterBenchmark(("Log/ours/" + name).c_str(),
                                 [chunks](benchmark::State& s) { RunOurs(s, chunks); });
#if HH_PEER_MINMEA
    benchmark::RegisterBenchmark(("Log/minmea/" + name).c_str(),
                                 [chunks](benchmark::State& s) { RunMinmea(s, chunks); });
#endif
}

void RegisterLogs() {
    std::vector<fs::path> logs;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(LogsDir(), ec)) {
        if (entry.path().extension() == ".log") {
            logs.push_back(entry.path());
        }
    }
    if (logs.empty()) {
        std::fprintf(stderr, "no recorded logs in %s: the Log benchmarks are skipped\n",
                     LogsDir().c_str());
        return;
    }
    std::sort(logs.begin(), logs.end());
    Chunks all;
    for (const fs::path& log : logs) {
        const std::string bytes = ReadLog(log);
        Chunks chunks;
        chunks.add(bytes);
        all.add(bytes);
        RegisterLog(log.stem().string(), chunks);
    }
    RegisterLog("all", all);
}

} // namespace

int main(int argc, char** argv) {
    benchmark::RegisterBenchmark("Chunk/ReceiverOutput",
                                 [chunk = ReceiverChunk()](benchmark::State& s) { Run(s, chunk); });
    benchmark::RegisterBenchmark("Chunk/Noise",
                                 [chunk = NoiseChunk()](benchmark::State& s) { Run(s, chunk); });
    benchmark::RegisterBenchmark("Chunk/ParseAndWalkReceiverOutput", BM_ParseAndWalkReceiverOutput);
    RegisterLogs();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
