// Runs the real Restel program where it cannot start.

#include <platform/system/testing.h>

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

struct Outcome {
    std::string output;
    int exitCode = -1;
};

// Runs the program with HANDHELD_ROOT set to root, offscreen, bounded by a
// real-time limit in case it opens its window after all.
Outcome RunRestel(const std::filesystem::path& root) {
    const std::string command = "HANDHELD_ROOT='" + root.string() +
                                "' QT_QPA_PLATFORM=offscreen timeout 20 '" RESTEL_PATH "' 2>&1";
    Outcome run;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return run;
    }
    char buffer[512];
    while (size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) {
        run.output.append(buffer, n);
    }
    const int status = ::pclose(pipe);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

TEST(RestelProgram, UnusableDeviceRootIsReportedAndEndsWithFailure) {
    hh::sys::testing::TempDeviceRoot device(hh::sys::testing::RootLayout::Empty);
    ASSERT_TRUE(device.ok());
    // A device root that is a file cannot be prepared.
    const std::filesystem::path file = device.outside() / "root";
    hh::sys::testing::WriteHost(file, "not a folder");
    Outcome run = RunRestel(file);
    EXPECT_NE(run.exitCode, 0);
    EXPECT_NE(run.exitCode, 124) << "ended by the time limit, not by itself";
    EXPECT_EQ(run.output.rfind("Restel: ", 0), 0u) << run.output;
    EXPECT_EQ(run.output.find("[Start Thread]"), std::string::npos) << "no dialog started";
}

} // namespace
