#pragma once
// Shared by the clock, wait and named-object tests: a temporary device root
// per test, bounded real-time polling, and child processes that run one test
// of this binary (selected by a gtest filter) as a helper.

#include <gtest/gtest.h>
#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <string>

namespace hh::sys::testing {

/// A fresh device root in a temporary folder, named by HANDHELD_ROOT for the
/// test's duration.
class TempDeviceRoot : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    std::filesystem::path root_;

private:
    std::string savedRoot_;
    bool hadRoot_ = false;
};

/// Polls (real time, bounded) until the condition holds.
bool WaitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds limit = std::chrono::milliseconds(5000));

/// True inside a child started by StartChild: the helper tests run their body
/// only then.
bool IsChildProcess();

/// Starts this test binary again running only `testName` (Suite.Name), with
/// the current HANDHELD_ROOT and the extra environment given. Returns the pid.
pid_t StartChild(const std::string& testName, const std::map<std::string, std::string>& env = {});

/// Waits for the child and returns its exit status (as from waitpid).
int WaitChild(pid_t pid);

/// StartChild then WaitChild; true when the child's test passed.
bool RunChild(const std::string& testName, const std::map<std::string, std::string>& env = {});

} // namespace hh::sys::testing

/// Opens a helper test that runs only inside a child process.
#define HH_CHILD_ONLY()                                                                            \
    if (!::hh::sys::testing::IsChildProcess()) {                                                   \
        GTEST_SKIP() << "runs as a child process of another test";                                 \
    }
