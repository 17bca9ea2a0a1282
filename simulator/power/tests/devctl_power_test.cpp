// The device console's power verbs, run as the real devctl binary.

#include <simulator/power/power_driver.h>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

extern char** environ;

namespace hh::sim {
namespace {

struct DevctlRun {
    int exitCode = -1;
    std::string out;
};

DevctlRun Devctl(std::vector<std::string> args) {
    args.insert(args.begin(), DEVCTL_PATH);
    std::vector<char*> argv;
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) {
        return {};
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    int spawned = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    DevctlRun run;
    char buffer[256];
    for (ssize_t n; spawned == 0 && (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;) {
        run.out.append(buffer, static_cast<size_t>(n));
    }
    ::close(pipeFds[0]);
    int status = 0;
    if (spawned == 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status)) {
        run.exitCode = WEXITSTATUS(status);
    }
    return run;
}

TEST(DevctlPower, ReadsSetsAndRestarts) {
    std::string pattern = (std::filesystem::temp_directory_path() / "devctl-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    ::setenv("HANDHELD_ROOT", pattern.c_str(), 1);
    struct Step {
        std::vector<std::string> args;
        int exitCode;
        std::string out;
    } steps[] = {
        {{"power", "flag"}, 0, "0\n"},     {{"power", "flag", "100"}, 0, ""},
        {{"power", "flag"}, 0, "100\n"},   {{"restart"}, 0, "restarted\n"},
        {{"power", "flag"}, 0, "101\n"},   {{"restart"}, 0, "restarted\n"},
        {{"power", "flag"}, 0, "101\n"},   {{"power", "flag", "0x64"}, 0, ""},
        {{"power", "flag", "abc"}, 1, ""}, {{"power", "flag", "4294967296"}, 1, ""},
        {{"power", "flag"}, 0, "100\n"},   {{"power"}, 2, ""},
    };
    for (const Step& step : steps) {
        DevctlRun run = Devctl(step.args);
        EXPECT_EQ(run.exitCode, step.exitCode) << step.args.back();
        EXPECT_EQ(run.out, step.out) << step.args.back();
    }
    EXPECT_EQ(ReadStoredRecoverFlag(), 100u) << "the verbs and the driver share the flag";
    ::unsetenv("HANDHELD_ROOT");
    std::filesystem::remove_all(pattern);
}

} // namespace
} // namespace hh::sim
