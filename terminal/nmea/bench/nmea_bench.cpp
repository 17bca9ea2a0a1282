// ParseChunk on the reader's 4 KB chunks: a receiver's output (1 Hz cycles of a
// 12-satellite receiver, from the simulated receiver) and line noise without a
// single sentence, where every search runs to the end of the chunk.

#include "simulator/gps/gps_receiver.h"
#include "terminal/nmea/gps_page.h"
#include "terminal/nmea/nmea.h"

#include <benchmark/benchmark.h>

#include <cstddef>
#include <string>

namespace {

using namespace terminal::nmea;

constexpr std::size_t kChunk = 4095;

// A seed whose receiver tracks twelve satellites, run up to a 3D fix.
hh::sim::GpsReceiver TwelveSatelliteReceiver() {
    for (uint64_t seed = 1;; ++seed) {
        hh::sim::GpsReceiver rx({.seed = seed});
        rx.nextBurst();
        if (rx.satellites().size() == 12) {
            while (rx.fixType() != hh::sim::GpsFix::Fix3D) {
                rx.nextBurst();
            }
            return rx;
        }
    }
}

std::u16string ReceiverChunk() {
    auto rx = TwelveSatelliteReceiver();
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

void BM_ParseChunkReceiverOutput(benchmark::State& state) {
    Run(state, ReceiverChunk());
}
void BM_ParseChunkNoise(benchmark::State& state) {
    Run(state, NoiseChunk());
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

BENCHMARK(BM_ParseChunkReceiverOutput);
BENCHMARK(BM_ParseChunkNoise);
BENCHMARK(BM_ParseAndWalkReceiverOutput);

} // namespace

BENCHMARK_MAIN();
