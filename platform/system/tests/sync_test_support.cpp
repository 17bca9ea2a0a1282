#include "sync_test_support.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <thread>
#include <vector>

namespace hh::sys::testing {

namespace {
constexpr const char* kChildVariable = "HH_SYNC_TEST_CHILD";
}

void TempDeviceRoot::SetUp() {
    if (const char* v = std::getenv("HANDHELD_ROOT")) {
        savedRoot_ = v;
        hadRoot_ = true;
    }
    std::string pattern = (std::filesystem::temp_directory_path() / "hh-sync-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    setenv("HANDHELD_ROOT", root_.c_str(), 1);
}

void TempDeviceRoot::TearDown() {
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
    if (hadRoot_) {
        setenv("HANDHELD_ROOT", savedRoot_.c_str(), 1);
    } else {
        unsetenv("HANDHELD_ROOT");
    }
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

bool IsChildProcess() {
    return std::getenv(kChildVariable) != nullptr;
}

pid_t StartChild(const std::string& testName, const std::map<std::string, std::string>& env) {
    const std::string filter = "--gtest_filter=" + testName;
    const pid_t pid = fork();
    if (pid == 0) {
        setenv(kChildVariable, "1", 1);
        for (const auto& [name, value] : env) {
            setenv(name.c_str(), value.c_str(), 1);
        }
        std::vector<char*> argv{const_cast<char*>("child"), const_cast<char*>(filter.c_str()),
                                nullptr};
        execv("/proc/self/exe", argv.data());
        _exit(127);
    }
    return pid;
}

int WaitChild(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

bool RunChild(const std::string& testName, const std::map<std::string, std::string>& env) {
    const int status = WaitChild(StartChild(testName, env));
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace hh::sys::testing
