#pragma once
// A temporary device root for the file, image and process tests.

#include <platform/system/device_root.h>

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

namespace hh::sys::testing {

/// base/ holds root/ (HANDHELD_ROOT) and outside/, a folder no CE path may reach.
class DeviceRootTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (const char* v = std::getenv("HANDHELD_ROOT")) {
            savedRoot_ = v;
        }
        char pattern[] = "/tmp/hh-files-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        base_ = pattern;
        root_ = base_ / "root";
        outside_ = base_ / "outside";
        std::filesystem::create_directories(root_ / "SDMMC");
        std::filesystem::create_directories(root_ / "ResidentFlash");
        std::filesystem::create_directories(root_ / kDeviceStateFolder);
        std::filesystem::create_directories(outside_);
        ::setenv("HANDHELD_ROOT", root_.c_str(), 1);
    }

    void TearDown() override {
        if (savedRoot_.empty()) {
            ::unsetenv("HANDHELD_ROOT");
        } else {
            ::setenv("HANDHELD_ROOT", savedRoot_.c_str(), 1);
        }
        std::error_code ec;
        std::filesystem::remove_all(base_, ec);
    }

    static void WriteHost(const std::filesystem::path& path, const std::string& content) {
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << content;
    }

    static std::string ReadHost(const std::filesystem::path& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    /// Runs body in a forked child and returns what it returned (or -1 when
    /// the child died).
    static int RunInChild(const std::function<int()>& body) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::_exit(body());
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::filesystem::path base_;
    std::filesystem::path root_;
    std::filesystem::path outside_;
    std::string savedRoot_;
};

} // namespace hh::sys::testing
