#pragma once
// A temporary device root for the engine tests: base/root is HANDHELD_ROOT
// with its two volumes, base/outside a folder no CE path may reach. Standard
// output can be captured to read the trace lines.

#include <platform/system/device_root.h>
#include <platform/system/named_mutex.h>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace recovery::test {

class DeviceFixture : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "engine-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        base_ = pattern;
        root_ = base_ / "root";
        outside_ = base_ / "outside";
        std::filesystem::create_directories(root_ / "SDMMC");
        std::filesystem::create_directories(root_ / "ResidentFlash");
        std::filesystem::create_directories(outside_);
        ::setenv("HANDHELD_ROOT", root_.c_str(), 1);
        mutex_ = hh::sys::Mutex::Create(false, "MUTEX_FOR_COPY");
        ASSERT_TRUE(mutex_);
    }

    void TearDown() override {
        mutex_.close();
        ::unsetenv("HANDHELD_ROOT");
        std::error_code ec;
        std::filesystem::remove_all(base_, ec);
    }

    /// Writes a file below the root ("SDMMC/a/b.txt").
    void Put(const std::string& relative, const std::string& content) const {
        std::filesystem::path path = root_ / relative;
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << content;
    }

    std::string Get(const std::string& relative) const {
        std::ifstream in(root_ / relative, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    bool Exists(const std::string& relative) const {
        std::error_code ec;
        return std::filesystem::exists(std::filesystem::symlink_status(root_ / relative, ec));
    }

    /// Runs body with the standard output going to a file; returns the output.
    template <typename Body>
    std::string CaptureStdout(Body body) const {
        std::fflush(stdout);
        std::filesystem::path file = base_ / "stdout.txt";
        int capture = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        int saved = ::dup(STDOUT_FILENO);
        ::dup2(capture, STDOUT_FILENO);
        ::close(capture);
        body();
        std::fflush(stdout);
        ::dup2(saved, STDOUT_FILENO);
        ::close(saved);
        std::ifstream in(file, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    std::filesystem::path base_;
    std::filesystem::path root_;
    std::filesystem::path outside_;
    hh::sys::Mutex mutex_;
};

} // namespace recovery::test
