// Speed of the file layer: resolving CE paths (exact and case-insensitive),
// searching a large folder, and copying files the way the recovery does.

#include <platform/system/files.h>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;

struct BenchRoot {
    BenchRoot() {
        char pattern[] = "/tmp/hh-file-bench-XXXXXX";
        root = ::mkdtemp(pattern);
        ::setenv("HANDHELD_ROOT", root.c_str(), 1);
        fs::create_directories(root / "SDMMC/Recovery/Marolt/Maps");
        fs::create_directories(root / "ResidentFlash");
        for (int i = 0; i < 500; ++i) {
            std::ofstream(root / "SDMMC/Recovery/Marolt/Maps" /
                          ("tile" + std::to_string(i) + ".map"))
                << std::string(4096, 'm');
        }
        std::ofstream(root / "SDMMC/Recovery/big.bin") << std::string(16 << 20, 'b');
    }
    ~BenchRoot() { fs::remove_all(root); }
    fs::path root;
};

BenchRoot& Root() {
    static BenchRoot root;
    return root;
}

void BM_AttributesExactCase(benchmark::State& state) {
    Root();
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            hh::sys::GetFileAttributes(u"\\SDMMC\\Recovery\\Marolt\\Maps\\tile250.map"));
    }
}
BENCHMARK(BM_AttributesExactCase);

void BM_AttributesOtherCase(benchmark::State& state) {
    Root();
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            hh::sys::GetFileAttributes(u"\\sdmmc\\recovery\\marolt\\maps\\TILE250.MAP"));
    }
}
BENCHMARK(BM_AttributesOtherCase);

void BM_SearchFolder(benchmark::State& state) {
    Root();
    for (auto _ : state) {
        hh::sys::FindData data;
        int n = 0;
        for (auto find = hh::sys::FindFirstFile(u"\\SDMMC\\Recovery\\Marolt\\Maps\\*", data);
             find && find.Next(data);) {
            ++n;
        }
        benchmark::DoNotOptimize(n);
    }
    state.SetItemsProcessed(state.iterations() * 500);
}
BENCHMARK(BM_SearchFolder);

void BM_CopySmallFile(benchmark::State& state) {
    Root();
    for (auto _ : state) {
        benchmark::DoNotOptimize(hh::sys::CopyFile(u"\\SDMMC\\Recovery\\Marolt\\Maps\\tile1.map",
                                                   u"\\ResidentFlash\\tile1.map", false));
    }
    state.SetBytesProcessed(state.iterations() * 4096);
}
BENCHMARK(BM_CopySmallFile);

void BM_CopyLargeFile(benchmark::State& state) {
    Root();
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            hh::sys::CopyFile(u"\\SDMMC\\Recovery\\big.bin", u"\\ResidentFlash\\big.bin", false));
    }
    state.SetBytesProcessed(state.iterations() * (16 << 20));
}
BENCHMARK(BM_CopyLargeFile)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
