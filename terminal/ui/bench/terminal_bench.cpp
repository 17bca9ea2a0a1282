// Speed of the terminal's receive path.
//
// StreamThroughPty: a writer feeds a pseudo-terminal mapped to COM3 at the
// byte rate of 115200 or 921600 baud (10 bits a byte) for
// HH_BENCH_STREAM_SECONDS (30 unless set) while the terminal runs with Log
// all ticked on the real clock at its 500 ms cadence. At the end the R count
// and the logged files plus the display must account for every byte, once
// and in order; the counters give the process's CPU time per megabyte.
//
// AppendChunkAt30000: the UI thread's share of one read, appending a 4 KB
// chunk to a display that holds 30000 characters.

#include <platform/system/device_image.h>
#include <platform/system/module_path.h>
#include <platform/system/serial_port.h>
#include <platform/window/application.h>
#include <platform/window/testing.h>
#include <terminal/ui/dlg_terminal.h>

#include <benchmark/benchmark.h>
#include <pty.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace {

using namespace std::chrono_literals;
using terminal::CDlgTerminal;
namespace wt = hh::win::testing;
namespace fs = std::filesystem;

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

int StreamSeconds() {
    const char* text = std::getenv("HH_BENCH_STREAM_SECONDS");
    const int seconds = text ? std::atoi(text) : 0;
    return seconds > 0 ? seconds : 30;
}

/// Numbered NMEA-like lines, so that a lost or doubled piece breaks the comparison.
std::string Stream(std::size_t n) {
    std::string s;
    s.reserve(n + 80);
    for (long line = 0; s.size() < n; ++line) {
        s +=
            "$GPGSV,3,1,12," + std::to_string(line) + ",40,083,46,02,17,308,41,12,07,344,39*75\r\n";
    }
    s.resize(n);
    return s;
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

/// A fresh device root with the program's folder, for one run.
struct DeviceRoot {
    DeviceRoot() {
        char pattern[] = "/tmp/vardi-bench-XXXXXX";
        path = ::mkdtemp(pattern);
        ::setenv("HANDHELD_ROOT", path.c_str(), 1);
        hh::sys::SetModuleName(u"VARDI");
        std::string error;
        hh::sys::PrepareDeviceRoot(error);
        fs::create_directories(path / "SDMMC" / "VARDI");
    }
    ~DeviceRoot() { fs::remove_all(path); }
    fs::path path;
};

void StreamThroughPty(benchmark::State& state) {
    const int baud = static_cast<int>(state.range(0));
    const std::size_t bytesPerSecond = static_cast<std::size_t>(baud) / 10;
    const int seconds = StreamSeconds();
    const std::string stream = Stream(bytesPerSecond * static_cast<std::size_t>(seconds));

    for (auto _ : state) {
        DeviceRoot root;
        int master = -1;
        int slave = -1;
        termios raw{};
        cfmakeraw(&raw);
        char name[128] = {};
        if (openpty(&master, &slave, name, &raw, nullptr) != 0) {
            state.SkipWithError("no pseudo-terminal");
            return;
        }
        ::setenv("HANDHELD_COM3", name, 1);

        CDlgTerminal dlg;
        bool complete = false;
        int32_t rxTotal = 0;
        double cpu = 0;
        double elapsed = 0;
        std::string logged;
        std::u16string display;
        wt::RunModal(dlg, [&] {
            wt::SelectComboEntry(dlg, terminal::IDC_COMBO_COM, 3);
            wt::Click(dlg, terminal::IDC_BTN_OPEN);
            dlg.Item<hh::win::Button>(terminal::IDC_CHK_LOGALL)->Click();
            wt::ProcessEvents();

            const double cpuStart = CpuSeconds();
            const auto start = std::chrono::steady_clock::now();
            std::atomic<bool> written{false};
            // Paced in 10 ms slices at the line's byte rate.
            std::thread writer([&] {
                const std::size_t slice = bytesPerSecond / 100;
                auto next = std::chrono::steady_clock::now();
                for (std::size_t sent = 0; sent < stream.size();) {
                    const std::size_t n = std::min(slice, stream.size() - sent);
                    const ssize_t w = ::write(master, stream.data() + sent, n);
                    if (w <= 0) {
                        break;
                    }
                    sent += static_cast<std::size_t>(w);
                    next += 10ms;
                    std::this_thread::sleep_until(next);
                }
                written = true;
            });
            const auto expected = static_cast<int32_t>(stream.size());
            const auto deadline = start + std::chrono::seconds(seconds + 30);
            // A real event loop, as the program runs it, looks at the end
            // every 100 ms instead of polling.
            QEventLoop loop;
            QTimer check;
            QObject::connect(&check, &QTimer::timeout, &loop, [&] {
                complete = written.load() && dlg.RxTotal() >= expected;
                if (complete || std::chrono::steady_clock::now() > deadline) {
                    loop.quit();
                }
            });
            check.start(100);
            loop.exec();
            writer.join();
            elapsed =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            cpu = CpuSeconds() - cpuStart;
            rxTotal = dlg.RxTotal();
            display = dlg.GetDlgItemText(terminal::IDC_EDIT_RECEIVE);
            if (!dlg.LogFile().empty()) {
                const std::u16string file = dlg.LogFile();
                std::string host = root.path.string();
                for (const char16_t c : file) {
                    host.push_back(c == u'\\' ? '/' : static_cast<char>(c));
                }
                logged = ReadFile(host);
            }
            wt::Click(dlg, terminal::IDC_BTN_OPEN);
            dlg.EndDialog(hh::win::IDOK);
        });
        ::close(master);
        ::close(slave);
        ::unsetenv("HANDHELD_COM3");

        std::erase(logged, '\0');
        const std::string shown(display.begin(), display.end());
        const bool whole = logged + shown == stream;
        if (!complete || rxTotal != static_cast<int32_t>(stream.size()) || !whole) {
            state.SkipWithError("the R count or the captured text does not match the stream");
        }
        const double megabytes = static_cast<double>(stream.size()) / 1e6;
        state.counters["bytes"] = static_cast<double>(stream.size());
        state.counters["R"] = rxTotal;
        state.counters["whole"] = whole ? 1 : 0;
        state.counters["seconds"] = elapsed;
        state.counters["cpu_s_per_MB"] = cpu / megabytes;
    }
}

void AppendChunkAt30000(benchmark::State& state) {
    DeviceRoot root;
    std::u16string start;
    while (start.size() < 30000) {
        start += u"$GPGGA,015014.00,,,,,0,00,99.99,,,,,,*66\r\n";
    }
    start.resize(30000);
    const std::u16string chunk = start.substr(0, 4096);
    CDlgTerminal dlg;
    wt::RunModal(dlg, [&] {
        auto* display = dlg.Item<hh::win::Edit>(terminal::IDC_EDIT_RECEIVE);
        for (auto _ : state) {
            state.PauseTiming();
            display->SetWindowText(start);
            state.ResumeTiming();
            const long end = display->GetWindowTextLength();
            display->SetSel(end, end);
            display->ScrollCaret();
            display->ReplaceSel(chunk);
        }
        dlg.EndDialog(hh::win::IDOK);
    });
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(chunk.size()));
}

BENCHMARK(StreamThroughPty)
    ->Arg(115200)
    ->Arg(921600)
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();
BENCHMARK(AppendChunkAt30000)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    ::setenv("HANDHELD_SCREEN", "480x272", 0);
    hh::win::Application app(u"VARDI");
    hh::sys::RegisterSerialDriver();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
