// Registry speed: open, read, write (a durable commit), flush, and a whole
// read-and-increment transaction, against a plain SQLite transaction with a
// rollback journal and full sync on the same disk.

#include <platform/system/error.h>
#include <platform/system/registry.h>

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdlib>
#include <filesystem>
#include <string>

using namespace hh::sys;

namespace {

// A device root in the temporary folder for the whole run.
struct BenchRoot {
    BenchRoot() {
        std::string pattern = (std::filesystem::temp_directory_path() / "hh-bench-XXXXXX").string();
        if (!mkdtemp(pattern.data())) {
            std::abort();
        }
        path = pattern;
        setenv("HANDHELD_ROOT", path.c_str(), 1);
        HKEY key = nullptr;
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"init\\App", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &key, nullptr);
        uint32_t value = 1;
        RegSetValueExW(key, u"startup_cnt", 0, REG_DWORD, reinterpret_cast<uint8_t*>(&value), 4);
        RegCloseKey(key);
    }
    ~BenchRoot() { std::filesystem::remove_all(path); }
    std::filesystem::path path;
};

BenchRoot& Root() {
    static BenchRoot root;
    return root;
}

HKEY OpenApp(REGSAM access) {
    Root();
    HKEY key = nullptr;
    RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"init\\App", 0, access, &key);
    return key;
}

void BM_OpenKey(benchmark::State& state) {
    Root();
    for (auto _ : state) {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"init\\App", 0, KEY_READ, &key) != ERROR_SUCCESS) {
            state.SkipWithError("open failed");
        }
        RegCloseKey(key);
    }
}
BENCHMARK(BM_OpenKey);

void BM_ReadDword(benchmark::State& state) {
    HKEY key = OpenApp(KEY_READ);
    for (auto _ : state) {
        uint32_t value = 0;
        uint32_t size = 4;
        RegQueryValueExW(key, u"startup_cnt", nullptr, nullptr, reinterpret_cast<uint8_t*>(&value),
                         &size);
        benchmark::DoNotOptimize(value);
    }
    RegCloseKey(key);
}
BENCHMARK(BM_ReadDword);

void BM_WriteDword(benchmark::State& state) {
    HKEY key = OpenApp(KEY_ALL_ACCESS);
    uint32_t value = 0;
    for (auto _ : state) {
        ++value;
        RegSetValueExW(key, u"bench", 0, REG_DWORD, reinterpret_cast<uint8_t*>(&value), 4);
    }
    RegCloseKey(key);
}
BENCHMARK(BM_WriteDword)->Unit(benchmark::kMicrosecond);

void BM_Flush(benchmark::State& state) {
    HKEY key = OpenApp(KEY_ALL_ACCESS);
    for (auto _ : state) {
        RegFlushKey(key);
    }
    RegCloseKey(key);
}
BENCHMARK(BM_Flush)->Unit(benchmark::kMicrosecond);

// What one startup run does with the registry, in this process.
void BM_StartupTransaction(benchmark::State& state) {
    Root();
    for (auto _ : state) {
        RegistryTransaction transaction;
        HKEY key = nullptr;
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"init\\App", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &key, nullptr);
        uint32_t one = 1;
        RegSetValueExW(key, u"startup", 0, REG_DWORD, reinterpret_cast<uint8_t*>(&one), 4);
        uint32_t value = 0;
        uint32_t size = 4;
        RegQueryValueExW(key, u"startup_cnt", nullptr, nullptr, reinterpret_cast<uint8_t*>(&value),
                         &size);
        ++value;
        RegSetValueExW(key, u"startup_cnt", 0, REG_DWORD, reinterpret_cast<uint8_t*>(&value), 4);
        RegFlushKey(key);
        RegCloseKey(key);
    }
}
BENCHMARK(BM_StartupTransaction)->Unit(benchmark::kMicrosecond);

// A key nested `depth` levels deep ("k\\k\\..."): created with all its
// parents, given a value, and deleted with its tree again. The counter is the
// size of the database with the key in it.
void BM_DeepKey(benchmark::State& state) {
    Root();
    const auto depth = static_cast<std::size_t>(state.range(0));
    std::u16string path = u"deep";
    for (std::size_t level = 1; level < depth; ++level) {
        path += u"\\k";
    }
    const std::filesystem::path database = Root().path / ".device" / "registry.db";
    for (auto _ : state) {
        HKEY key = nullptr;
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &key, nullptr) != ERROR_SUCCESS) {
            state.SkipWithError("create failed");
            break;
        }
        uint32_t one = 1;
        RegSetValueExW(key, u"v", 0, REG_DWORD, reinterpret_cast<uint8_t*>(&one), 4);
        RegCloseKey(key);
        state.PauseTiming();
        RegFlushKey(HKEY_LOCAL_MACHINE);
        state.counters["db_bytes"] = static_cast<double>(std::filesystem::file_size(database));
        state.ResumeTiming();
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"deep");
    }
}
BENCHMARK(BM_DeepKey)->Arg(8)->Arg(64)->Arg(512)->Unit(benchmark::kMillisecond);

// The yardstick: one update in a rollback-journal database with full sync.
void BM_SqliteFullSyncTransaction(benchmark::State& state) {
    std::string path = (Root().path / "plain.db").string();
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_exec(db,
                 "PRAGMA journal_mode=DELETE; PRAGMA synchronous=FULL;"
                 "CREATE TABLE IF NOT EXISTS t(k INTEGER PRIMARY KEY, v INTEGER);"
                 "INSERT OR IGNORE INTO t VALUES(1, 0);",
                 nullptr, nullptr, nullptr);
    for (auto _ : state) {
        sqlite3_exec(db, "BEGIN IMMEDIATE; UPDATE t SET v = v + 1 WHERE k = 1; COMMIT;", nullptr,
                     nullptr, nullptr);
    }
    sqlite3_close(db);
}
BENCHMARK(BM_SqliteFullSyncTransaction)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
