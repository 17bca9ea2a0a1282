// Streams through a pseudo-terminal at a UART's data rate (10 bits per byte)
// while a reader drains the port the way the terminal does, checks that every
// byte arrived in order, and reports the process CPU time per megabyte.
// HH_SERIAL_BENCH_SECONDS sets the stream length (default 1 s; 30 s for a
// soak run by hand).

#include "platform/system/serial_port.h"
#include "serial_pty.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <thread>

namespace {

using hh::sys::test::Pty;

double ProcessCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

double StreamSeconds() {
    const char* text = std::getenv("HH_SERIAL_BENCH_SECONDS");
    double seconds = text ? std::atof(text) : 1.0;
    return seconds > 0 ? seconds : 1.0;
}

uint8_t PatternByte(uint64_t i) {
    return static_cast<uint8_t>((i * 131) ^ (i >> 11));
}

void BM_SerialStream(benchmark::State& state) {
    const auto baud = static_cast<uint64_t>(state.range(0));
    const uint64_t bytesPerSecond = baud / 10;
    const auto slice = std::chrono::milliseconds(10);
    const uint64_t perSlice = bytesPerSecond / 100;
    const double seconds = StreamSeconds();
    const uint64_t total = static_cast<uint64_t>(double(bytesPerSecond) * seconds);

    for (auto _ : state) {
        Pty pty;
        auto port = hh::sys::SerialPort::Open(hh::sys::SerialTarget{pty.takeSlave(), {}});
        if (!port) {
            state.SkipWithError("cannot open a pseudo-terminal port");
            return;
        }
        port->SetCommTimeouts({hh::sys::MAXDWORD, 10, 10, 50, 100});
        port->SetCommMask(hh::sys::EV_RXCHAR);
        const double cpuStart = ProcessCpuSeconds();

        std::thread far([&] {
            std::vector<uint8_t> chunk;
            auto next = std::chrono::steady_clock::now();
            for (uint64_t sent = 0; sent < total;) {
                uint64_t n = std::min(perSlice, total - sent);
                chunk.resize(n);
                for (uint64_t k = 0; k < n; ++k) {
                    chunk[k] = PatternByte(sent + k);
                }
                pty.send(chunk.data(), chunk.size());
                sent += n;
                next += slice;
                std::this_thread::sleep_until(next);
            }
        });

        uint64_t received = 0;
        bool intact = true;
        std::vector<std::byte> buf(4096);
        while (received < total) {
            uint32_t events = 0;
            port->WaitCommEvent(events);
            port->SetCommMask(hh::sys::EV_RXCHAR);
            hh::sys::COMSTAT stat;
            port->ClearCommError(nullptr, &stat);
            uint32_t want = std::min<uint32_t>(stat.cbInQue, 4095);
            uint32_t n = 0;
            if (want == 0 || !port->read(std::span(buf.data(), want), n)) {
                continue;
            }
            for (uint32_t k = 0; k < n; ++k) {
                intact = intact && static_cast<uint8_t>(buf[k]) == PatternByte(received + k);
            }
            received += n;
        }
        far.join();
        const double cpu = ProcessCpuSeconds() - cpuStart;
        if (!intact) {
            state.SkipWithError("bytes lost or out of order");
            return;
        }
        state.counters["MB"] = double(total) / 1e6;
        state.counters["cpu_ms_per_MB"] = cpu * 1e3 / (double(total) / 1e6);
    }
    state.SetBytesProcessed(static_cast<int64_t>(total * state.iterations()));
}

BENCHMARK(BM_SerialStream)
    ->Arg(115200)
    ->Arg(921600)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
