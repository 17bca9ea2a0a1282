// V5520Demo's speed: from start to the first drawn page, and the CPU time its
// timers take while it idles on the System page.
//
//   StartToFirstPaint     in this process: the window system, the main dialog
//                         with its ten windows, the first paint of the page
//   ProgramLoad           the program's own start (loading Qt and
//                         libHalvix.so) up to its first own step, on a device
//                         root it refuses, so it ends there
//   IdleSystemPageCpu     the real program on the System page for
//                         HH_BENCH_IDLE_SECONDS (60 unless set): its CPU time
//                         as a share of one core

#include <devtest/pages/pages.h>
#include <platform/system/module_path.h>
#include <platform/window/application.h>
#include <platform/window/ui_thread.h>
#include <simulator/device/simulated_device.h>

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QEvent>
#include <QWidget>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

std::filesystem::path MakeRoot(const char* name) {
    std::string pattern = (std::filesystem::temp_directory_path() / name).string() + "-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        return {};
    }
    return pattern;
}

/// Ends the dialog at the first paint of the page it watches.
class FirstPaint : public QObject {
public:
    FirstPaint(QWidget* page, devtest::CDlgMain& dlg) : m_page(page), m_dlg(dlg) {}
    Clock::time_point at;
    bool seen = false;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (!seen && event->type() == QEvent::Paint && watched->isWidgetType() &&
            (watched == static_cast<QObject*>(m_page) ||
             m_page->isAncestorOf(static_cast<QWidget*>(watched)))) {
            seen = true;
            at = Clock::now();
            m_dlg.EndDialog(hh::win::IDOK);
        }
        return false;
    }

private:
    QWidget* m_page;
    devtest::CDlgMain& m_dlg;
};

void StartToFirstPaint(benchmark::State& state) {
    const std::filesystem::path root = MakeRoot("v5520-bench");
    ::setenv("HANDHELD_ROOT", root.c_str(), 1);
    ::setenv("HANDHELD_SCREEN", "480x272", 1);
    if (!std::getenv("QT_QPA_PLATFORM")) {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    hh::sys::SetModuleName(u"V5520Demo");
    if (!hh::sim::RegisterSimulatedDevice([] {})) {
        state.SkipWithError("the device state cannot be used");
        return;
    }
    for (auto _ : state) {
        const Clock::time_point start = Clock::now();
        hh::win::Application app(u"V5520Demo");
        devtest::CDlgMain dlg;
        std::unique_ptr<FirstPaint> watch;
        hh::win::PostToUiThread([&] {
            watch = std::make_unique<FirstPaint>(dlg.PageAt(0).Widget(), dlg);
            qApp->installEventFilter(watch.get());
            dlg.PageAt(0).Invalidate();
        });
        dlg.DoModal();
        if (!watch || !watch->seen) {
            state.SkipWithError("the page was never painted");
            break;
        }
        qApp->removeEventFilter(watch.get());
        state.SetIterationTime(std::chrono::duration<double>(watch->at - start).count());
    }
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
}
BENCHMARK(StartToFirstPaint)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

pid_t Spawn(const std::string& path) {
    char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, path.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : 0;
}

void ProgramLoad(benchmark::State& state) {
    const std::filesystem::path base = MakeRoot("v5520-load");
    // A device root that is a file cannot be prepared: the program ends at its first step.
    std::ofstream(base / "root") << "not a folder";
    ::setenv("HANDHELD_ROOT", (base / "root").c_str(), 1);
    for (auto _ : state) {
        const pid_t pid = Spawn(V5520DEMO_PATH);
        int status = 0;
        ::waitpid(pid, &status, 0);
    }
    std::error_code ec;
    std::filesystem::remove_all(base, ec);
}
BENCHMARK(ProgramLoad)->Unit(benchmark::kMillisecond)->Iterations(10)->UseRealTime();

double CpuSeconds(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const auto close = text.rfind(')');
    if (close == std::string::npos) {
        return 0;
    }
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    unsigned long long utime = 0;
    unsigned long long stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14) {
            utime = std::stoull(field);
        } else if (i == 15) {
            stime = std::stoull(field);
        }
    }
    return static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

void IdleSystemPageCpu(benchmark::State& state) {
    const char* configured = std::getenv("HH_BENCH_IDLE_SECONDS");
    const int seconds = configured ? std::max(1, std::atoi(configured)) : 60;
    const std::filesystem::path root = MakeRoot("v5520-idle");
    ::setenv("HANDHELD_ROOT", root.c_str(), 1);
    ::setenv("HANDHELD_SCREEN", "480x272", 1);
    if (!std::getenv("QT_QPA_PLATFORM")) {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    for (auto _ : state) {
        const pid_t pid = Spawn(V5520DEMO_PATH);
        if (pid == 0) {
            state.SkipWithError("V5520Demo could not be started");
            break;
        }
        // Past the start, so that only the idle timers count.
        std::this_thread::sleep_for(std::chrono::seconds(3));
        const double before = CpuSeconds(pid);
        const Clock::time_point from = Clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        const double used = CpuSeconds(pid) - before;
        const double elapsed = std::chrono::duration<double>(Clock::now() - from).count();
        ::kill(pid, SIGTERM);
        int status = 0;
        ::waitpid(pid, &status, 0);
        state.SetIterationTime(elapsed);
        state.counters["cpu_percent"] = 100.0 * used / elapsed;
        state.counters["cpu_ms"] = used * 1000.0;
    }
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
}
BENCHMARK(IdleSystemPageCpu)->UseManualTime()->Unit(benchmark::kSecond)->Iterations(1);

} // namespace

BENCHMARK_MAIN();
