#include "platform/system/process.h"

#include "ce_path_internal.h"
#include "platform/system/clock.h"
#include "platform/system/device_root.h"
#include "platform/system/error.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>

extern char** environ;

namespace hh::sys {

using namespace fs_detail;

namespace {

// waitid's selector for a pidfd (P_PIDFD of <linux/wait.h>).
constexpr idtype_t kByPidfd = static_cast<idtype_t>(3);

// Direct system calls: glibc 2.36 declares its pidfd wrappers without C
// linkage, so C++ cannot link against them.
int PidfdOpen(pid_t pid) {
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
}

int PidfdSignal(int pidfd, int signal) {
    return static_cast<int>(::syscall(SYS_pidfd_send_signal, pidfd, signal, nullptr, 0));
}

std::string RealRoot() {
    char buffer[PATH_MAX];
    return ::realpath(DeviceRootDir().c_str(), buffer) ? std::string(buffer) : std::string();
}

// The executable's file name when the process runs a file inside the root.
std::optional<std::string> DeviceExecutable(pid_t pid, const std::string& root) {
    if (root.empty()) {
        return std::nullopt;
    }
    char buffer[PATH_MAX];
    const std::string link = "/proc/" + std::to_string(pid) + "/exe";
    const ssize_t n = ::readlink(link.c_str(), buffer, sizeof buffer);
    if (n <= 0) {
        return std::nullopt;
    }
    std::string path(buffer, static_cast<std::size_t>(n));
    // A program whose file was replaced while it ran is still that program.
    constexpr std::string_view kDeleted = " (deleted)";
    if (path.ends_with(kDeleted)) {
        path.resize(path.size() - kDeleted.size());
    }
    const std::string state = root + '/' + kDeviceStateFolder + '/';
    if (!path.starts_with(root + '/') || path.starts_with(state)) {
        return std::nullopt;
    }
    return path.substr(path.rfind('/') + 1);
}

} // namespace

std::optional<ProcessSnapshot> ProcessSnapshot::Take() {
    DIR* proc = ::opendir("/proc");
    if (!proc) {
        SetLastErrorFromErrno(errno);
        return std::nullopt;
    }
    const std::string root = RealRoot();
    ProcessSnapshot snapshot;
    while (const dirent* entry = ::readdir(proc)) {
        char* end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (pid <= 0 || *end != '\0') {
            continue;
        }
        if (auto name = DeviceExecutable(static_cast<pid_t>(pid), root)) {
            snapshot.entries_.push_back({static_cast<uint32_t>(pid), FromUtf8(*name)});
        }
    }
    ::closedir(proc);
    return snapshot;
}

bool ProcessSnapshot::First(ProcessEntry& entry) {
    next_ = 0;
    return Next(entry);
}

bool ProcessSnapshot::Next(ProcessEntry& entry) {
    if (next_ >= entries_.size()) {
        SetLastError(ERROR_NO_MORE_FILES);
        return false;
    }
    entry = entries_[next_++];
    return true;
}

Process::Process(Process&& other) noexcept
    : pidfd_(other.pidfd_), pid_(other.pid_), child_(other.child_), exitCode_(other.exitCode_) {
    other.pidfd_ = -1;
}

Process& Process::operator=(Process&& other) noexcept {
    if (this != &other) {
        Close();
        pidfd_ = other.pidfd_;
        pid_ = other.pid_;
        child_ = other.child_;
        exitCode_ = other.exitCode_;
        other.pidfd_ = -1;
    }
    return *this;
}

Process::~Process() {
    Close();
}

void Process::Close() {
    if (pidfd_ < 0) {
        return;
    }
    // A child that has ended is collected so it does not stay a zombie; one
    // still running keeps running, as closing a handle never ends a process.
    if (child_ && !exitCode_) {
        Reap(false);
    }
    ::close(pidfd_);
    pidfd_ = -1;
}

bool Process::Reap(bool block) {
    siginfo_t info{};
    if (::waitid(kByPidfd, static_cast<id_t>(pidfd_), &info, WEXITED | (block ? 0 : WNOHANG)) !=
        0) {
        return false;
    }
    if (info.si_pid == 0) {
        return false;
    }
    exitCode_ = static_cast<uint32_t>(info.si_status);
    return true;
}

bool Process::Terminate(uint32_t /*exitCode*/) {
    if (pidfd_ < 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    if (PidfdSignal(pidfd_, SIGKILL) != 0) {
        SetLastErrorFromErrno(errno, ErrnoContext::SignalProcess);
        return false;
    }
    return true;
}

bool Process::Wait(uint32_t timeoutMs) {
    if (pidfd_ < 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int wait = -1;
        if (timeoutMs != INFINITE) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            wait = static_cast<int>(std::clamp<int64_t>(left.count(), 0, INT_MAX));
        }
        pollfd fd{pidfd_, POLLIN, 0};
        const int ready = ::poll(&fd, 1, wait);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready < 0) {
            SetLastErrorFromErrno(errno);
            return false;
        }
        if (ready == 0) {
            SetLastError(ERROR_TIMEOUT);
            return false;
        }
        if (child_ && !exitCode_) {
            Reap(true);
        }
        return true;
    }
}

bool Process::GetExitCode(uint32_t& exitCode) {
    if (pidfd_ < 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    if (!child_) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return false;
    }
    if (!exitCode_) {
        Reap(false);
    }
    exitCode = exitCode_.value_or(STILL_ACTIVE);
    return true;
}

Process OpenProcess(uint32_t /*access*/, bool /*inherit*/, uint32_t processId) {
    const pid_t pid = static_cast<pid_t>(processId);
    if (pid <= 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return {};
    }
    const int pidfd = PidfdOpen(pid);
    if (pidfd < 0) {
        SetLastErrorFromErrno(errno, ErrnoContext::OpenProcess);
        return {};
    }
    Process process(pidfd, pid, false);
    // The pidfd was taken before the check and the process is still alive
    // after it, so the executable checked is that of the process held.
    if (!DeviceExecutable(pid, RealRoot())) {
        SetLastError(ERROR_ACCESS_DENIED);
        return {};
    }
    if (PidfdSignal(pidfd, 0) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return {};
    }
    return process;
}

Process StartDeviceProcess(std::u16string_view cePath, const std::vector<std::string>& args) {
    auto r = Resolve(cePath, Leaf::Follow);
    if (!r) {
        return {};
    }
    if (!r->exists) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return {};
    }
    Fd exe(r->isRoot ? -1 : OpenBeneath(r->root.get(), r->rel, O_PATH));
    struct stat st {};
    if (r->isRoot || !exe.valid() || ::fstat(exe.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return {};
    }
    std::vector<std::string> strings;
    strings.push_back(r->leaf);
    strings.insert(strings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& s : strings) {
        argv.push_back(s.data());
    }
    argv.push_back(nullptr);

    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) {
        SetLastErrorFromErrno(errno);
        return {};
    }
    const pid_t pid = ::fork();
    if (pid < 0) {
        SetLastErrorFromErrno(errno);
        ::close(report[0]);
        ::close(report[1]);
        return {};
    }
    if (pid == 0) {
        // Only async-signal-safe calls between fork and exec.
        ::syscall(SYS_execveat, exe.get(), "", argv.data(), environ, AT_EMPTY_PATH);
        const int error = errno;
        [[maybe_unused]] const ssize_t n = ::write(report[1], &error, sizeof error);
        ::_exit(127);
    }
    ::close(report[1]);
    int error = 0;
    ssize_t n;
    do {
        n = ::read(report[0], &error, sizeof error);
    } while (n < 0 && errno == EINTR);
    ::close(report[0]);
    if (n == sizeof error) {
        ::waitpid(pid, nullptr, 0);
        SetLastErrorFromErrno(error);
        return {};
    }
    const int pidfd = PidfdOpen(pid);
    if (pidfd < 0) {
        SetLastErrorFromErrno(errno);
        return {};
    }
    SetLastError(ERROR_SUCCESS);
    return Process(pidfd, pid, true);
}

void ExitProcessNow(int exitCode) {
    std::fflush(nullptr);
    ::_exit(exitCode);
}

} // namespace hh::sys
