// What one second of the simulated receiver costs: the model's burst under a
// full sky after its fix, and the burst of a receiver of the device, which
// also reads the scenario's change count from the device state first.

#include "simulator/gps/gps_receiver.h"
#include "simulator/receiver/receiver_host.h"

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

// The start time (whole hours of a day) whose sky holds the most satellites.
int64_t FullSkyUtc() {
    int64_t best = 1717243200;
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
    return best;
}

template <typename Source>
void RunToFix(Source& next, const hh::sim::GpsReceiver& rx) {
    while (rx.fixType() != hh::sim::GpsFix::Fix3D) {
        next();
    }
}

void BM_ModelBurst(benchmark::State& state) {
    hh::sim::GpsReceiver rx({.seed = 1, .utcStart = FullSkyUtc()});
    auto next = [&] { return rx.nextBurst(); };
    RunToFix(next, rx);
    std::size_t bytes = 0;
    for (auto _ : state) {
        const std::string burst = rx.nextBurst();
        bytes += burst.size();
        benchmark::DoNotOptimize(burst.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
    state.counters["satellites"] = static_cast<double>(rx.satellites().size());
}
BENCHMARK(BM_ModelBurst)->Unit(benchmark::kMicrosecond);

void BM_DeviceReceiverBurst(benchmark::State& state) {
    // A device root of its own, with a scenario stored.
    const std::filesystem::path root =
        std::filesystem::temp_directory_path() / ("hh-gps-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(root / ".device");
    ::setenv("HANDHELD_ROOT", root.c_str(), 1);
    {
        hh::sim::GpsSource source({.seed = 1, .utcStart = FullSkyUtc()}, "benchmark");
        auto next = [&] { return source.nextBurst(); };
        RunToFix(next, source.receiver());
        for (auto _ : state) {
            const std::string burst = source.nextBurst();
            benchmark::DoNotOptimize(burst.data());
        }
    }
    std::filesystem::remove_all(root);
}
BENCHMARK(BM_DeviceReceiverBurst)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
