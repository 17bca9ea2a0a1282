// A whole startup run (process start, registry open, one locked transaction,
// flush, exit) against one SQLite transaction with full sync on the same disk.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

extern char** environ;

namespace {

std::filesystem::path BenchRoot() {
    static std::filesystem::path root = [] {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "hh-sbench-XXXXXX").string();
        if (!mkdtemp(pattern.data())) {
            std::abort();
        }
        setenv("HANDHELD_ROOT", pattern.c_str(), 1);
        return std::filesystem::path(pattern);
    }();
    return root;
}

void BM_StartupProcess(benchmark::State& state) {
    BenchRoot();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    char* argv[] = {const_cast<char*>(STARTUP_PATH), nullptr};
    for (auto _ : state) {
        pid_t pid = -1;
        if (posix_spawn(&pid, STARTUP_PATH, &actions, nullptr, argv, environ) != 0) {
            state.SkipWithError("cannot start startup");
            break;
        }
        int status = 0;
        waitpid(pid, &status, 0);
    }
    posix_spawn_file_actions_destroy(&actions);
}
BENCHMARK(BM_StartupProcess)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SqliteFullSyncTransaction(benchmark::State& state) {
    std::string path = (BenchRoot() / "plain.db").string();
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
BENCHMARK(BM_SqliteFullSyncTransaction)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
