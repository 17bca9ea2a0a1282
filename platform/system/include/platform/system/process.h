#pragma once
// Processes of the device: the snapshot walk of executable names, opening a
// process to end it, and starting a device program.
//
// Only processes whose executable (/proc/<pid>/exe) lies inside the device
// root are device processes: the snapshot lists nothing else and OpenProcess
// refuses every other process with ERROR_ACCESS_DENIED, so nothing else on the
// host can be ended by a file name from the device. A process is reached
// through a pidfd, which cannot be confused with a later process that reuses
// the number. TerminateProcess ends the process at once (SIGKILL); the host
// cannot hand over an exit code with it, so a process ended this way reports
// the signal (9) as its exit code. Waits for a process run in real time: a
// host process ends in real time, whatever the device clock says.

#include <platform/system/clock.h>
#include <platform/system/thread.h>

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hh::sys {

/// Ends the calling process at once with exitCode, after flushing the
/// standard streams: no static destructors or exit handlers run under the
/// threads that may still be running, as when the device itself ends a
/// program (a restart, a program that ends without returning).
[[noreturn]] void ExitProcessNow(int exitCode);

inline constexpr uint32_t TH32CS_SNAPPROCESS = 0x2;
inline constexpr uint32_t PROCESS_TERMINATE = 0x1;

/// One process of a snapshot (PROCESSENTRY32's useful fields).
struct ProcessEntry {
    uint32_t processId = 0;
    /// The executable's file name as stored, "nav.exe".
    std::u16string exeFile;
};

/// CreateToolhelp32Snapshot with Process32First / Process32Next over it.
class ProcessSnapshot {
public:
    /// Takes the snapshot of the device processes running now; nullopt with
    /// the last error set when the process list cannot be read.
    static std::optional<ProcessSnapshot> Take();

    bool First(ProcessEntry& entry);
    /// False with ERROR_NO_MORE_FILES after the last entry.
    bool Next(ProcessEntry& entry);
    const std::vector<ProcessEntry>& Entries() const { return entries_; }

private:
    std::vector<ProcessEntry> entries_;
    std::size_t next_ = 0;
};

/// An open device process; the handle closes when it goes out of scope and
/// closing it does not end the process.
class Process {
public:
    Process() = default;
    Process(Process&& other) noexcept;
    Process& operator=(Process&& other) noexcept;
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;
    ~Process();

    bool IsOpen() const { return pidfd_ >= 0; }
    explicit operator bool() const { return IsOpen(); }
    uint32_t Id() const { return static_cast<uint32_t>(pid_); }

    /// TerminateProcess; the exit code is not delivered (see above).
    bool Terminate(uint32_t exitCode);
    /// Waits up to timeoutMs (INFINITE: no limit) for the end; false with
    /// ERROR_TIMEOUT when it is still running.
    bool Wait(uint32_t timeoutMs);
    /// GetExitCodeProcess for a process this process started: STILL_ACTIVE
    /// while it runs, its exit status, or the signal that ended it. Other
    /// processes give false with ERROR_NOT_SUPPORTED.
    bool GetExitCode(uint32_t& exitCode);
    void Close();

private:
    friend Process OpenProcess(uint32_t, bool, uint32_t);
    friend Process StartDeviceProcess(std::u16string_view, const std::vector<std::string>&);
    Process(int pidfd, pid_t pid, bool child) : pidfd_(pidfd), pid_(pid), child_(child) {}
    bool Reap(bool block);

    int pidfd_ = -1;
    pid_t pid_ = 0;
    bool child_ = false;
    std::optional<uint32_t> exitCode_;
};

/// OpenProcess with PROCESS_TERMINATE (other rights are accepted too).
Process OpenProcess(uint32_t access, bool inherit, uint32_t processId);

/// Starts the device program at a CE path ("\SDMMC\Marolt\nav.exe") with the
/// given arguments after its name, executing the file inside the root.
Process StartDeviceProcess(std::u16string_view cePath, const std::vector<std::string>& args);

} // namespace hh::sys
