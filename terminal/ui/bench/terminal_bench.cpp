// Speed of the terminal's receive path, against picocom and tio.
//
// StreamThroughPty/<MB/s>: the same numbered NMEA-like stream is paced (10 ms
// slices) into three pseudo-terminals at once, for HH_BENCH_STREAM_SECONDS
// (10 unless set): one mapped to COM3 of the terminal, which runs in this
// process with Log all ticked on the real clock at its 500 ms cadence, and one
// each for picocom and tio, started as their own processes when they are
// installed (their columns are left out otherwise). Each writer waits when its
// pseudo-terminal is full, as a line with flow control does. At the end the R
// count, and the logged files plus the display, must hold every byte once and
// in order, and so must picocom's output and tio's log. Counters:
// cpu_s_per_MB for the terminal (this process without its writer threads),
// picocom_/tio_cpu_s_per_MB for the peers (their own CPU time), whole*,
// write_s (how long writing the stream to the terminal took; longer than the
// stream when the terminal held the writer back), MB_per_s (the rate it took
// the stream at), seconds (until the last byte was counted) and vs_picocom
// (the terminal's CPU per MB over picocom's).
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
#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

extern char** environ;

namespace {

using namespace std::chrono_literals;
using terminal::CDlgTerminal;
namespace wt = hh::win::testing;
namespace fs = std::filesystem;

double Seconds(const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

double ProcessCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
}

double ThreadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

int StreamSeconds() {
    const char* text = std::getenv("HH_BENCH_STREAM_SECONDS");
    const int seconds = text ? std::atoi(text) : 0;
    return seconds > 0 ? seconds : 10;
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

/// A raw pseudo-terminal; the reader opens `name`, the writer feeds `master`.
struct Pty {
    Pty() {
        termios raw{};
        cfmakeraw(&raw);
        char buffer[128] = {};
        if (openpty(&master, &slave, buffer, &raw, nullptr) == 0) {
            name = buffer;
        }
    }
    ~Pty() {
        for (int fd : {master, slave}) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
    }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    int master = -1;
    int slave = -1;
    std::string name;
};

/// The stream written at the paced rate in 10 ms slices; the CPU time the
/// writing took, so that the terminal's figure leaves it out.
struct Writer {
    Writer(int fd, const std::string& stream, std::size_t bytesPerSecond,
           std::chrono::steady_clock::time_point start) {
        thread = std::thread([=, &stream, this] {
            const double cpuStart = ThreadCpuSeconds();
            const std::size_t slice = bytesPerSecond / 100;
            auto next = start;
            std::this_thread::sleep_until(start);
            for (std::size_t sent = 0; sent < stream.size();) {
                const std::size_t end = std::min(sent + slice, stream.size());
                while (sent < end) {
                    const ssize_t w = ::write(fd, stream.data() + sent, end - sent);
                    if (w <= 0) {
                        sent = stream.size();
                        break;
                    }
                    sent += static_cast<std::size_t>(w);
                }
                next += 10ms;
                std::this_thread::sleep_until(next);
            }
            cpu = ThreadCpuSeconds() - cpuStart;
            seconds =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        });
    }
    void join() { thread.join(); }

    std::thread thread;
    double cpu = 0;
    double seconds = 0; ///< how long the writing took: longer than the stream when held back
};

/// A peer terminal program reading one pseudo-terminal as its own process.
/// Its standard input is a pipe held open (both peers end at end of input).
struct Peer {
    static std::optional<Peer> Start(const std::string& program, std::vector<std::string> args,
                                     const fs::path& output, bool outputIsStdout) {
        int in[2];
        if (::pipe2(in, O_CLOEXEC) != 0) {
            return std::nullopt;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        const std::string out = outputIsStdout ? output.string() : "/dev/null";
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        std::vector<char*> argv;
        args.insert(args.begin(), program);
        for (std::string& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        pid_t pid = -1;
        // A group of its own: what a peer signals to its group on the way out
        // must not reach the benchmark.
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
        posix_spawnattr_setpgroup(&attributes, 0);
        const int rc =
            posix_spawnp(&pid, program.c_str(), &actions, &attributes, argv.data(), environ);
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
        ::close(in[0]);
        if (rc != 0 || pid <= 0) {
            ::close(in[1]);
            return std::nullopt;
        }
        return Peer{pid, in[1], output};
    }

    /// Ends the peer once it has read everything from its line (slave: an
    /// open of the line's device end) and returns its CPU seconds. The end of
    /// its input ends it, so that it writes out what it buffered; one that
    /// stays is ended by SIGTERM.
    double Stop(int slave) {
        const auto limit = std::chrono::steady_clock::now() + 30s;
        int unread = 0;
        while (::ioctl(slave, FIONREAD, &unread) == 0 && unread > 0 &&
               std::chrono::steady_clock::now() < limit) {
            std::this_thread::sleep_for(20ms);
        }
        std::this_thread::sleep_for(200ms);
        ::close(input);
        int status = 0;
        rusage usage{};
        bool ended = false;
        for (int i = 0; i < 100 && !ended; ++i) {
            ended = ::wait4(pid, &status, WNOHANG, &usage) == pid;
            if (!ended) {
                std::this_thread::sleep_for(20ms);
            }
        }
        if (!ended) {
            ::kill(pid, SIGTERM);
            ::wait4(pid, &status, 0, &usage);
        }
        return Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
    }

    pid_t pid = -1;
    int input = -1;
    fs::path output;
};

bool Installed(const char* program) {
    const std::string command = std::string("command -v ") + program + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

void StreamThroughPty(benchmark::State& state) {
    const std::size_t bytesPerSecond = static_cast<std::size_t>(state.range(0)) * 1000000;
    const int seconds = StreamSeconds();
    const std::string stream = Stream(bytesPerSecond * static_cast<std::size_t>(seconds));
    const double megabytes = static_cast<double>(stream.size()) / 1e6;
    const bool withPicocom = Installed("picocom");
    const bool withTio = Installed("tio");

    for (auto _ : state) {
        DeviceRoot root;
        Pty vardiPty;
        Pty picocomPty;
        Pty tioPty;
        if (vardiPty.name.empty() || picocomPty.name.empty() || tioPty.name.empty()) {
            state.SkipWithError("no pseudo-terminal");
            return;
        }
        ::setenv("HANDHELD_COM3", vardiPty.name.c_str(), 1);
        // The peers open their device by name; the test's own open stays so
        // that the line never hangs up between runs.
        std::optional<Peer> picocom;
        std::optional<Peer> tio;
        if (withPicocom) {
            picocom = Peer::Start("picocom",
                                  {"-q", "-b", "115200", "--noreset", "--nolock", picocomPty.name},
                                  root.path / "picocom.out", true);
        }
        if (withTio) {
            tio = Peer::Start("tio",
                              {"-b", "115200", "--log", "--log-file",
                               (root.path / "tio.log").string(), tioPty.name},
                              root.path / "tio.log", false);
        }
        // Both are ready once they have opened their device.
        std::this_thread::sleep_for(500ms);

        CDlgTerminal dlg;
        bool complete = false;
        int32_t rxTotal = 0;
        double cpu = 0;
        double elapsed = 0;
        double writeSeconds = 0;
        std::string logged;
        std::u16string display;
        wt::RunModal(dlg, [&] {
            wt::SelectComboEntry(dlg, terminal::IDC_COMBO_COM, 3);
            wt::Click(dlg, terminal::IDC_BTN_OPEN);
            dlg.Item<hh::win::Button>(terminal::IDC_CHK_LOGALL)->Click();
            wt::ProcessEvents();

            const double cpuStart = ProcessCpuSeconds();
            const auto start = std::chrono::steady_clock::now() + 10ms;
            Writer vardiWriter(vardiPty.master, stream, bytesPerSecond, start);
            std::optional<Writer> picocomWriter;
            std::optional<Writer> tioWriter;
            if (picocom) {
                picocomWriter.emplace(picocomPty.master, stream, bytesPerSecond, start);
            }
            if (tio) {
                tioWriter.emplace(tioPty.master, stream, bytesPerSecond, start);
            }
            const auto expected = static_cast<int32_t>(stream.size());
            const auto deadline = start + std::chrono::seconds(seconds + 30);
            // A real event loop, as the program runs it, looks at the end
            // every 100 ms instead of polling.
            QEventLoop loop;
            QTimer check;
            QObject::connect(&check, &QTimer::timeout, &loop, [&] {
                complete = dlg.RxTotal() >= expected;
                if (complete || std::chrono::steady_clock::now() > deadline) {
                    loop.quit();
                }
            });
            check.start(100);
            loop.exec();
            // Closing the port below resets the count the check looks at.
            check.stop();
            elapsed =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            vardiWriter.join();
            writeSeconds = vardiWriter.seconds;
            cpu = ProcessCpuSeconds() - cpuStart - vardiWriter.cpu;
            for (auto* w : {&picocomWriter, &tioWriter}) {
                if (*w) {
                    (*w)->join();
                    cpu -= (*w)->cpu;
                }
            }
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
        ::unsetenv("HANDHELD_COM3");

        std::erase(logged, '\0');
        const std::string shown(display.begin(), display.end());
        const bool whole = logged + shown == stream;
        if (!complete || rxTotal != static_cast<int32_t>(stream.size()) || !whole) {
            std::fprintf(stderr,
                         "%s: R %d of %zu, files + display %zu bytes, %s, %.1f s, %.2f CPU s\n",
                         "StreamThroughPty", rxTotal, stream.size(), logged.size() + shown.size(),
                         whole ? "whole" : "not the stream", elapsed, cpu);
            state.SkipWithError("the R count or the captured text does not match the stream");
        }
        state.counters["bytes"] = static_cast<double>(stream.size());
        state.counters["whole"] = whole ? 1 : 0;
        state.counters["seconds"] = elapsed;
        state.counters["write_s"] = writeSeconds;
        state.counters["MB_per_s"] =
            megabytes / std::max(writeSeconds, static_cast<double>(seconds));
        state.counters["cpu_s_per_MB"] = cpu / megabytes;

        // The peers have had the same stream; give them until their output is complete.
        for (auto [peer, name, slave] : {std::tuple{&picocom, "picocom", picocomPty.slave},
                                         std::tuple{&tio, "tio", tioPty.slave}}) {
            if (!*peer) {
                continue;
            }
            const double peerCpu = (*peer)->Stop(slave);
            const bool peerWhole = ReadFile((*peer)->output) == stream;
            state.counters[std::string(name) + "_cpu_s_per_MB"] = peerCpu / megabytes;
            state.counters[std::string("whole_") + name] = peerWhole ? 1 : 0;
            if (std::string_view(name) == "picocom" && peerCpu > 0) {
                state.counters["vs_picocom"] = cpu / peerCpu;
            }
        }
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
    ->ArgName("MBps")
    ->Arg(4)
    ->Arg(16)
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();
BENCHMARK(AppendChunkAt30000)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    ::setenv("HANDHELD_SCREEN", "480x272", 0);
    // A peer that ends while a writer still feeds its line must not end us.
    ::signal(SIGPIPE, SIG_IGN);
    hh::win::Application app(u"VARDI");
    hh::sys::RegisterSerialDriver();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
