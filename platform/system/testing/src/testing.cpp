#include "platform/system/testing.h"

#include <platform/system/device_root.h>

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <thread>
#include <utility>

extern char** environ;

namespace hh::sys::testing {

namespace fs = std::filesystem;

namespace {

constexpr const char* kChildVariable = "HH_TEST_CHILD";
constexpr const char* kSavedVariables[] = {"HANDHELD_ROOT", "HANDHELD_REGISTRY_TIMEOUT_MS"};

void Restore(const std::string& name, const std::optional<std::string>& value) {
    if (value) {
        ::setenv(name.c_str(), value->c_str(), 1);
    } else {
        ::unsetenv(name.c_str());
    }
}

// Reads the given pipes to their end, appending to the matching strings.
void ReadAll(std::vector<std::pair<int, std::string*>> pipes) {
    std::vector<pollfd> fds;
    for (const auto& [fd, text] : pipes) {
        fds.push_back({fd, POLLIN, 0});
    }
    std::size_t open = fds.size();
    while (open > 0) {
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        for (std::size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) {
                continue;
            }
            char buffer[4096];
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                fds[i].fd = -1;
                --open;
                continue;
            }
            pipes[i].second->append(buffer, static_cast<std::size_t>(n));
        }
    }
}

int ExitCode(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

TempDeviceRoot::TempDeviceRoot(RootLayout layout) {
    for (const char* name : kSavedVariables) {
        const char* value = std::getenv(name);
        saved_[name] = value ? std::optional<std::string>(value) : std::nullopt;
    }
    std::string pattern = (fs::temp_directory_path() / "hh-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) {
        return;
    }
    base_ = pattern;
    root_ = base_ / "root";
    outside_ = base_ / "outside";
    std::error_code ec;
    fs::create_directories(root_, ec);
    fs::create_directories(outside_, ec);
    if (layout == RootLayout::Volumes) {
        for (const char* folder : {"SDMMC", "ResidentFlash", kDeviceStateFolder}) {
            fs::create_directories(root_ / folder, ec);
        }
    }
    select();
}

TempDeviceRoot::~TempDeviceRoot() {
    for (const auto& [name, value] : saved_) {
        Restore(name, value);
    }
    if (!base_.empty()) {
        // A test may have taken the write permission of a folder away.
        std::error_code ec;
        for (const fs::path& folder : {base_, root_, outside_}) {
            fs::permissions(folder, fs::perms::owner_all, fs::perm_options::add, ec);
        }
        fs::remove_all(base_, ec);
    }
}

RuntimeDir::RuntimeDir(const fs::path& folder) {
    if (const char* value = std::getenv("XDG_RUNTIME_DIR")) {
        saved_ = value;
    }
    std::error_code ec;
    fs::permissions(folder, fs::perms::owner_all, fs::perm_options::replace, ec);
    ::setenv("XDG_RUNTIME_DIR", folder.c_str(), 1);
}

RuntimeDir::~RuntimeDir() {
    Restore("XDG_RUNTIME_DIR", saved_);
}

fs::path TempDeviceRoot::stateDir() const {
    return root_ / kDeviceStateFolder;
}

fs::path TempDeviceRoot::registryDatabase() const {
    return stateDir() / "registry.db";
}

void TempDeviceRoot::select() const {
    ::setenv("HANDHELD_ROOT", root_.c_str(), 1);
}

void DeviceRootTest::SetUp() {
    device_.emplace(layout_);
    ASSERT_TRUE(device_->ok()) << "cannot make a temporary device root";
    base_ = device_->base();
    root_ = device_->root();
    outside_ = device_->outside();
}

void DeviceRootTest::TearDown() {
    device_.reset();
}

void WriteHost(const fs::path& path, std::string_view content) {
    std::error_code ec;
    fs::create_directories(path.parent_path(), ec);
    std::ofstream(path, std::ios::binary)
        .write(content.data(), static_cast<std::streamsize>(content.size()));
}

std::string ReadHost(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool ExistsHost(const fs::path& path) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(path, ec));
}

int RunInChild(const std::function<int()>& body) {
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::_exit(body());
    }
    if (pid < 0) {
        return -1;
    }
    return ExitCode(WaitChild(pid));
}

int RunOnSmallDisk(const std::filesystem::path& folder, std::size_t bytes,
                   const std::function<int()>& body) {
    return RunInChild([&] {
        std::error_code ec;
        std::filesystem::create_directories(folder, ec);
        // Few inodes, so that FillDisk takes them all in a moment.
        const std::string size = "size=" + std::to_string(bytes) + ",nr_inodes=256";
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("tmpfs", folder.c_str(), "tmpfs", 0, size.c_str()) != 0) {
            return kCannotMount;
        }
        return body();
    });
}

void FillDisk(const std::filesystem::path& folder) {
    const std::filesystem::path filler = folder / ".filler";
    std::error_code ec;
    std::filesystem::create_directories(filler, ec);
    // One large file takes the blocks, then empty files take the inodes.
    const int fd = ::open((filler / "blocks").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    static const char chunk[4096] = {};
    while (fd >= 0 && ::write(fd, chunk, sizeof chunk) > 0) {
    }
    for (const std::size_t small : {std::size_t{512}, std::size_t{1}}) {
        while (fd >= 0 && ::write(fd, chunk, small) > 0) {
        }
    }
    if (fd >= 0) {
        ::close(fd);
    }
    for (int i = 0;; ++i) {
        const int empty = ::open((filler / std::to_string(i)).c_str(),
                                 O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (empty < 0) {
            break;
        }
        ::close(empty);
    }
}

Captured CaptureInChild(const std::function<int()>& body) {
    Captured result;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        return result;
    }
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(fds[1], STDOUT_FILENO);
        const int code = body();
        std::fflush(nullptr);
        ::_exit(code);
    }
    ::close(fds[1]);
    if (pid > 0) {
        ReadAll({{fds[0], &result.out}});
        result.exitCode = ExitCode(WaitChild(pid));
    }
    ::close(fds[0]);
    return result;
}

std::string CaptureStdout(const std::function<void()>& body) {
    std::fflush(stdout);
    std::FILE* file = std::tmpfile();
    if (!file) {
        return "<cannot capture the standard output>";
    }
    const int saved = ::dup(STDOUT_FILENO);
    ::dup2(::fileno(file), STDOUT_FILENO);
    body();
    std::fflush(stdout);
    ::dup2(saved, STDOUT_FILENO);
    ::close(saved);
    std::string out;
    std::rewind(file);
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) {
        out.append(buffer, n);
    }
    std::fclose(file);
    return out;
}

Program Program::Start(const std::string& path, const std::vector<std::string>& args) {
    Program program;
    int out[2];
    int err[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
        return program;
    }
    if (::pipe2(err, O_CLOEXEC) != 0) {
        ::close(out[0]);
        ::close(out[1]);
        return program;
    }
    std::vector<std::string> words{path};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    pid_t pid = 0;
    if (::posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), environ) == 0) {
        program.pid_ = pid;
    }
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(err[1]);
    program.out_ = out[0];
    program.err_ = err[0];
    return program;
}

Program::Program(Program&& other) noexcept
    : pid_(std::exchange(other.pid_, 0)), out_(std::exchange(other.out_, -1)),
      err_(std::exchange(other.err_, -1)) {}

Program::~Program() {
    finish();
}

Captured Program::finish() {
    Captured result;
    if (out_ >= 0 && pid_ > 0) {
        ReadAll({{out_, &result.out}, {err_, &result.err}});
    }
    for (int* fd : {&out_, &err_}) {
        if (*fd >= 0) {
            ::close(*fd);
            *fd = -1;
        }
    }
    if (pid_ > 0) {
        result.exitCode = ExitCode(WaitChild(std::exchange(pid_, 0)));
    }
    return result;
}

Captured RunProgram(const std::string& path, const std::vector<std::string>& args) {
    return Program::Start(path, args).finish();
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
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setenv(kChildVariable, "1", 1);
        for (const auto& [name, value] : env) {
            ::setenv(name.c_str(), value.c_str(), 1);
        }
        std::vector<char*> argv{const_cast<char*>("child"), const_cast<char*>(filter.c_str()),
                                nullptr};
        ::execv("/proc/self/exe", argv.data());
        ::_exit(127);
    }
    return pid;
}

int WaitChild(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

bool RunChild(const std::string& testName, const std::map<std::string, std::string>& env) {
    const int status = WaitChild(StartChild(testName, env));
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

fs::path RecordedLogsFolder() {
    if (const char* dir = std::getenv("HH_NMEA_LOGS"); dir && *dir) {
        return dir;
    }
    return HH_NMEA_LOGS_DIR;
}

std::vector<fs::path> RecordedLogs() {
    std::vector<fs::path> logs;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(RecordedLogsFolder(), ec)) {
        if (entry.path().extension() == ".log") {
            logs.push_back(entry.path());
        }
    }
    std::sort(logs.begin(), logs.end());
    return logs;
}

std::string NoRecordedLogsMessage() {
    return "no recorded NMEA logs in " + RecordedLogsFolder().string() +
           " (the nmea-logs folder of the shared folder beside the checkout: configure with "
           "-DHH_SHARED_DIR=<folder>, or set HH_NMEA_LOGS to the folder of *.log recordings)";
}

} // namespace hh::sys::testing
