// CopyTree against `cp -a` on the same file system, in one run: a tree of
// 10,000 small files and a tree holding one large file (512 MiB unless
// HH_COPY_BENCH_BIG_MIB says otherwise; 0 leaves that case out). Each
// iteration copies with both, the two taking turns in going first, each after
// the file system has written back what came before, into target folders of
// their own (no copy is removed before the end, so that neither side pays for
// the other's deleted files).
//
// The trees live in a device root under $TMPDIR. CopyTree waits until its
// copies are on the disk before it names them and before it returns, so that
// no file is ever torn by a power loss; cp -a never waits. On a disk the
// like-for-like peer is therefore cp -a followed by a flush of the file system
// (sync -f), in memory (tmpfs, ramfs: nothing to flush) cp -a alone.
// Reported: the median times of the iterations (copytree_s, cp_a_s,
// cp_a_sync_s), the peer's median time
// divided by CopyTree's (peer_over_copytree: above 1 means CopyTree is
// faster), whether the file system is in memory (in_memory), the CPU time of
// each side (all of CopyTree's threads), and for the small tree the counting
// pass as a share of the copy.

#include <platform/system/named_mutex.h>
#include <recovery/engine/copy_engine.h>

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/vfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct BenchRoot {
    fs::path base;
    fs::path root;

    BenchRoot() {
        std::string pattern = (fs::temp_directory_path() / "copy-bench-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::abort();
        }
        base = pattern;
        root = base / "root";
        fs::create_directories(root / "SDMMC");
        fs::create_directories(root / "ResidentFlash");
        ::setenv("HANDHELD_ROOT", root.c_str(), 1);
    }
    ~BenchRoot() {
        std::error_code ec;
        fs::remove_all(base, ec);
    }
};

BenchRoot& Root() {
    static BenchRoot root;
    return root;
}

void MakeSmallTree(const fs::path& dir) {
    std::mt19937 random(7);
    std::vector<char> data(8192);
    for (char& c : data) {
        c = static_cast<char>(random());
    }
    for (int folder = 0; folder < 100; ++folder) {
        fs::path sub = dir / ("folder" + std::to_string(folder));
        fs::create_directories(sub);
        for (int file = 0; file < 100; ++file) {
            std::ofstream out(sub / ("file" + std::to_string(file) + ".dat"), std::ios::binary);
            out.write(data.data(), 512 + static_cast<std::streamsize>(random() % 7680));
        }
    }
}

void MakeBigTree(const fs::path& dir, uint64_t mib) {
    fs::create_directories(dir);
    std::mt19937_64 random(11);
    std::vector<uint64_t> block(1 << 17);
    std::ofstream out(dir / "map.bin", std::ios::binary);
    for (uint64_t written = 0; written < mib; ++written) {
        for (uint64_t& word : block) {
            word = random();
        }
        out.write(reinterpret_cast<const char*>(block.data()),
                  static_cast<std::streamsize>(block.size() * sizeof(uint64_t)));
    }
}

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// CPU seconds (user and system) of this process's threads, or of its waited-for
// children.
double CpuSeconds(int who) {
    rusage usage{};
    ::getrusage(who, &usage);
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Writes back what earlier steps left dirty (the removed trees, the other
// copy), so that neither copy pays for the other; the two also take turns in
// going first.
void Settle(const fs::path& root) {
    const int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::syncfs(fd);
        ::close(fd);
    }
}

double Median(std::vector<double> times) {
    std::sort(times.begin(), times.end());
    const std::size_t n = times.size();
    return n == 0 ? 0 : n % 2 ? times[n / 2] : (times[n / 2 - 1] + times[n / 2]) / 2;
}

bool InMemory(const fs::path& folder) {
    struct statfs st {};
    return ::statfs(folder.c_str(), &st) == 0 &&
           (st.f_type == TMPFS_MAGIC || st.f_type == RAMFS_MAGIC);
}

// Runs cp -a and returns its time; flushed gets the time until the file
// system has also written back what it left (cp -a and then sync -f, the
// guarantee CopyTree gives).
double RunCpA(const fs::path& from, const fs::path& to, double& cpu, std::vector<double>& flushed) {
    std::string src = from.string();
    std::string dst = to.string();
    char* argv[] = {const_cast<char*>("cp"), const_cast<char*>("-a"), src.data(), dst.data(),
                    nullptr};
    auto start = Clock::now();
    pid_t pid = 0;
    if (::posix_spawnp(&pid, "cp", nullptr, nullptr, argv, environ) != 0) {
        return -1;
    }
    int status = 0;
    const double before = CpuSeconds(RUSAGE_CHILDREN);
    ::waitpid(pid, &status, 0);
    cpu += CpuSeconds(RUSAGE_CHILDREN) - before;
    const double seconds = Seconds(Clock::now() - start);
    Settle(to.parent_path());
    flushed.push_back(Seconds(Clock::now() - start));
    return seconds;
}

void CompareWithCp(benchmark::State& state, const char* name, bool countToo) {
    BenchRoot& root = Root();
    hh::sys::Mutex mutex = hh::sys::Mutex::Create(false, "MUTEX_FOR_COPY");
    const fs::path hostSource = root.root / "SDMMC" / name;
    const std::u16string source = u"\\SDMMC\\" + std::u16string(name, name + std::strlen(name));
    std::vector<fs::path> copies;
    // Each side's time of every iteration; the medians are reported, so that
    // one iteration that a shared machine held back does not decide the ratio.
    std::vector<double> copyTimes;
    std::vector<double> cpTimes;
    std::vector<double> cpFlushedTimes;
    double copySeconds = 0;
    double countSeconds = 0;
    double copyCpu = 0;
    double cpCpu = 0;
    bool cpFirst = false;
    for (auto _ : state) {
        // Fresh target folders each time: on a file system without a journal
        // new files skip the inodes freed in the last half minute, which would
        // make whichever copy follows a removal pay for it.
        const std::string tag = name + std::to_string(copies.size() / 2);
        const fs::path hostTarget = root.root / "ResidentFlash" / tag;
        const fs::path cpTarget = root.root / "ResidentFlash" / (tag + "-cp");
        copies.push_back(hostTarget);
        copies.push_back(cpTarget);
        const std::u16string target = u"\\ResidentFlash\\" + std::u16string(tag.begin(), tag.end());
        double cp = 0;
        if (cpFirst) {
            Settle(root.root);
            cp = RunCpA(hostSource, cpTarget, cpCpu, cpFlushedTimes);
        }
        Settle(root.root);
        auto start = Clock::now();
        uint32_t counted = 0;
        if (countToo) {
            recovery::CountFiles(u"\\*", source, counted);
        }
        auto countedAt = Clock::now();
        const double cpuBefore = CpuSeconds(RUSAGE_SELF);
        uint32_t copied = 0;
        if (!recovery::CopyTree(u"\\*", source, target, copied, mutex)) {
            state.SkipWithError("CopyTree failed");
            break;
        }
        auto done = Clock::now();
        copyCpu += CpuSeconds(RUSAGE_SELF) - cpuBefore;
        if (!cpFirst) {
            Settle(root.root);
            cp = RunCpA(hostSource, cpTarget, cpCpu, cpFlushedTimes);
        }
        cpFirst = !cpFirst;
        if (cp < 0) {
            state.SkipWithError("cp could not be started");
            break;
        }
        state.SetIterationTime(Seconds(done - countedAt));
        copySeconds += Seconds(done - countedAt);
        copyTimes.push_back(Seconds(done - countedAt));
        countSeconds += Seconds(countedAt - start);
        cpTimes.push_back(cp);
    }
    for (const fs::path& copy : copies) {
        fs::remove_all(copy);
    }
    if (copySeconds > 0) {
        double n = static_cast<double>(state.iterations());
        const double copyMedian = Median(copyTimes);
        const double cpMedian = Median(cpTimes);
        const double cpFlushedMedian = Median(cpFlushedTimes);
        state.counters["copytree_s"] = copyMedian;
        state.counters["cp_a_s"] = cpMedian;
        state.counters["cp_a_sync_s"] = cpFlushedMedian;
        const bool inMemory = InMemory(root.root);
        state.counters["in_memory"] = inMemory ? 1 : 0;
        state.counters["peer_over_copytree"] = (inMemory ? cpMedian : cpFlushedMedian) / copyMedian;
        state.counters["copytree_cpu_s"] = copyCpu / n;
        state.counters["cp_a_cpu_s"] = cpCpu / n;
        if (countToo) {
            state.counters["count_percent"] = 100.0 * countSeconds / copySeconds;
        }
    }
}

void BM_SmallFiles(benchmark::State& state) {
    static bool made = false;
    if (!made) {
        MakeSmallTree(Root().root / "SDMMC" / "Small");
        made = true;
    }
    CompareWithCp(state, "Small", true);
}

void BM_BigFile(benchmark::State& state) {
    static bool made = false;
    if (!made) {
        MakeBigTree(Root().root / "SDMMC" / "Big", static_cast<uint64_t>(state.range(0)));
        made = true;
    }
    CompareWithCp(state, "Big", false);
}

} // namespace

int main(int argc, char** argv) {
    // An even number of iterations: each side goes first as often as the
    // other, so what one leaves to the disk weighs on both alike.
    benchmark::RegisterBenchmark("CopyTree_vs_cp_a/10000_small_files", BM_SmallFiles)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond)
        ->Iterations(4);
    int64_t mib = 512;
    if (const char* env = std::getenv("HH_COPY_BENCH_BIG_MIB")) {
        mib = std::atoll(env);
    }
    if (mib > 0) {
        benchmark::RegisterBenchmark("CopyTree_vs_cp_a/one_big_file_MiB", BM_BigFile)
            ->Arg(mib)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond)
            ->Iterations(4);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
