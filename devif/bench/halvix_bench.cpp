// Speed of libHalvix.so on the simulated device: one driver round trip (open,
// one request, close), one registry-backed export, each with its median and
// 99th percentile; and the buzzer's timing on the real clock.

#include <devif/halvix.h>
#include <platform/system/clock.h>
#include <platform/system/testing.h>
#include <simulator/backlight/backlight_driver.h>
#include <simulator/device/simulated_device.h>
#include <simulator/state/device_state.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

std::optional<hh::sys::testing::TempDeviceRoot>& Device() {
    static std::optional<hh::sys::testing::TempDeviceRoot> device;
    if (!device) {
        device.emplace();
        if (!hh::sim::RegisterSimulatedDevice([] {})) {
            std::fprintf(stderr, "%s\n", hh::sim::state::StateErrorText().c_str());
            std::exit(1);
        }
    }
    return device;
}

// Times each call on its own and reports the median and 99th percentile.
template <typename Call>
void Timed(benchmark::State& state, Call call) {
    Device();
    std::vector<double> us;
    us.reserve(100000);
    for (auto _ : state) {
        Clock::time_point start = Clock::now();
        benchmark::DoNotOptimize(call());
        us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    std::sort(us.begin(), us.end());
    state.counters["median_us"] = us[us.size() / 2];
    state.counters["p99_us"] = us[std::min(us.size() - 1, us.size() * 99 / 100)];
}

void DriverRoundTrip(benchmark::State& state) {
    SetBackLightLevel(40);
    Timed(state, [] { return GetBackLightLevel(); });
}
BENCHMARK(DriverRoundTrip);

void RegistryExport(benchmark::State& state) {
    SetBKLSuspendTimeout(30);
    Timed(state, [] { return GetBKLSuspendTimeout(); });
}
BENCHMARK(RegistryExport);

void SensorRequestOnAnOpenObject(benchmark::State& state) {
    GSensorTst gsensor;
    gsensor.Open();
    _XYZ_POSITION p{};
    Timed(state, [&] { return gsensor.GetPosition(p); });
}
BENCHMARK(SensorRequestOnAnOpenObject);

// 5 x (200 ms pause + 100 ms tone) on the real clock: when the first tone and
// the final silence reached the driver, after the call.
void BuzzerTiming(benchmark::State& state) {
    Device();
    double first = 0, end = 0;
    for (auto _ : state) {
        hh::sim::ClearToneLog();
        int64_t called = hh::sys::DeviceUptimeMs();
        BuzzerBeep(5, 3, 100, 5, 200);
        hh::sys::Sleep(1700);
        std::vector<hh::sim::ToneRequest> tones;
        hh::sim::ReadToneLog(tones);
        if (tones.size() == 10) {
            first = static_cast<double>(tones.front().atMs - called);
            end = static_cast<double>(tones.back().atMs - called);
        }
    }
    state.counters["first_tone_ms"] = first;
    state.counters["end_ms"] = end;
}
BENCHMARK(BuzzerTiming)->Iterations(3)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
