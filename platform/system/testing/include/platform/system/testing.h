#pragma once
// Helpers shared by the tests of every folder: a temporary device root, files
// written and read on the host side of it, bodies run in child processes,
// programs run with their output captured, and the recorded receiver logs.

#include <gtest/gtest.h>
#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hh::sys::testing {

/// What a new temporary device root holds.
enum class RootLayout {
    Volumes, ///< \SDMMC, \ResidentFlash and the device state folder
    Empty,   ///< nothing: an unprovisioned device
};

/// A temporary device root: base() holds root(), named by HANDHELD_ROOT while
/// the object lives, and outside(), a folder beside the root that no CE path
/// may reach. The device variables a test may change on the way
/// (HANDHELD_ROOT, HANDHELD_REGISTRY_TIMEOUT_MS) get their earlier values back
/// and base() is removed when the object ends.
class TempDeviceRoot {
public:
    explicit TempDeviceRoot(RootLayout layout = RootLayout::Volumes);
    ~TempDeviceRoot();
    TempDeviceRoot(const TempDeviceRoot&) = delete;
    TempDeviceRoot& operator=(const TempDeviceRoot&) = delete;

    /// False when the temporary folders could not be made.
    bool ok() const { return !base_.empty(); }
    const std::filesystem::path& base() const { return base_; }
    const std::filesystem::path& root() const { return root_; }
    const std::filesystem::path& outside() const { return outside_; }
    /// <root>/.device and the registry database in it.
    std::filesystem::path stateDir() const;
    std::filesystem::path registryDatabase() const;
    /// Names root() by HANDHELD_ROOT again, after a test pointed it elsewhere.
    void select() const;

private:
    std::filesystem::path base_;
    std::filesystem::path root_;
    std::filesystem::path outside_;
    std::map<std::string, std::optional<std::string>> saved_;
};

/// Names a folder of the test's by XDG_RUNTIME_DIR while the object lives (made
/// private to the user, as Qt requires); the earlier value comes back after.
class RuntimeDir {
public:
    explicit RuntimeDir(const std::filesystem::path& folder);
    ~RuntimeDir();
    RuntimeDir(const RuntimeDir&) = delete;
    RuntimeDir& operator=(const RuntimeDir&) = delete;

private:
    std::optional<std::string> saved_;
};

/// A test whose every case runs on a fresh TempDeviceRoot; root_, base_ and
/// outside_ name its folders.
class DeviceRootTest : public ::testing::Test {
protected:
    explicit DeviceRootTest(RootLayout layout = RootLayout::Volumes) : layout_(layout) {}
    void SetUp() override;
    void TearDown() override;

    std::filesystem::path registryDatabase() const { return device_->registryDatabase(); }
    void selectRoot() const { device_->select(); }

    std::filesystem::path base_;
    std::filesystem::path root_;
    std::filesystem::path outside_;

private:
    RootLayout layout_;
    std::optional<TempDeviceRoot> device_;
};

/// Writes content to a host file, making its folders first.
void WriteHost(const std::filesystem::path& path, std::string_view content);
/// The whole content of a host file ("" when it cannot be read).
std::string ReadHost(const std::filesystem::path& path);
/// True when something is at the host path, a dangling link included.
bool ExistsHost(const std::filesystem::path& path);

/// Runs body in a forked child and returns what it returned, or -1 when the
/// child died from a signal.
int RunInChild(const std::function<int()>& body);

/// What a child process or program wrote and how it ended.
struct Captured {
    int exitCode = -1; ///< -1 when it did not exit normally
    std::string out;
    std::string err;
};

/// What RunOnSmallDisk returns when this host does not let the test mount a
/// file system (it is not root).
inline constexpr int kCannotMount = 77;

/// Runs body in a forked child that sees a small, empty file system of `bytes`
/// bytes and 256 files (tmpfs) over `folder`, in a mount namespace of its own: nothing stays
/// mounted after the child, and programs the child starts see the same.
/// Returns what body returned, kCannotMount, or -1 when the child died.
int RunOnSmallDisk(const std::filesystem::path& folder, std::size_t bytes,
                   const std::function<int()>& body);
/// Fills the file system of folder until no byte and no new file fit (the
/// filler files live in folder/.filler).
void FillDisk(const std::filesystem::path& folder);

/// RunInChild with the child's standard output captured; the child's output
/// buffers are flushed when body returns.
Captured CaptureInChild(const std::function<int()>& body);

/// Runs body in this process with the standard output going to a scratch
/// file, and returns what it wrote there.
std::string CaptureStdout(const std::function<void()>& body);

/// A program started with its standard output and error read through pipes.
class Program {
public:
    /// Starts path with args (argv[0] is path itself) and the current environment.
    static Program Start(const std::string& path, const std::vector<std::string>& args = {});
    Program(Program&& other) noexcept;
    Program& operator=(Program&&) = delete;
    Program(const Program&) = delete;
    ~Program();

    /// 0 when it could not be started.
    pid_t pid() const { return pid_; }
    /// Reads both outputs to their end and waits for the program.
    Captured finish();

private:
    Program() = default;
    pid_t pid_ = 0;
    int out_ = -1;
    int err_ = -1;
};

/// Program::Start(path, args).finish().
Captured RunProgram(const std::string& path, const std::vector<std::string>& args = {});

/// Polls (real time, bounded) until the condition holds.
bool WaitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds limit = std::chrono::milliseconds(5000));

/// True inside a child started by StartChild: the helper tests run their body
/// only then.
bool IsChildProcess();
/// Starts this test binary again running only `testName` (Suite.Name), with
/// the current environment and the extra variables given. Returns the pid.
pid_t StartChild(const std::string& testName, const std::map<std::string, std::string>& env = {});
/// Waits for the child and returns its exit status (as from waitpid).
int WaitChild(pid_t pid);
/// StartChild then WaitChild; true when the child's test passed.
bool RunChild(const std::string& testName, const std::map<std::string, std::string>& env = {});

/// The folder of recorded receiver logs: $HH_NMEA_LOGS, else the shared
/// folder of recordings beside the source tree.
std::filesystem::path RecordedLogsFolder();
/// The *.log files of that folder, sorted by name; empty when there are none.
std::vector<std::filesystem::path> RecordedLogs();
/// The message for a test that skips because RecordedLogs() is empty.
std::string NoRecordedLogsMessage();

} // namespace hh::sys::testing

/// Opens a helper test that runs only inside a child process.
#define HH_CHILD_ONLY()                                                                            \
    if (!::hh::sys::testing::IsChildProcess()) {                                                   \
        GTEST_SKIP() << "runs as a child process of another test";                                 \
    }
