#include "boot_record.h"

#include "platform/system/device_root.h"
#include "platform/system/error.h"
#include "sync_internal.h"

#include <sys/stat.h>

#include <charconv>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace hh::sys::detail {

namespace {

// The boot instant of the device root, as a CLOCK_MONOTONIC reading in
// milliseconds kept in <state>/boot. The file is re-read when it is replaced
// (new inode or time stamp), so a restart made by another process is seen.
struct BootEntry {
    std::string path;
    ino_t inode = 0;
    timespec mtime{};
    int64_t bootMs = 0;
    bool valid = false;
};

constexpr const char* kBootFile = "boot";
constexpr std::size_t kMaxBootFile = 64;

std::mutex g_bootMutex;
BootEntry g_boot;

std::optional<int64_t> ParseBoot(const std::string& text) {
    int64_t value = 0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr == text.data() || value < 0) {
        return std::nullopt;
    }
    while (ptr != end && (*ptr == '\n' || *ptr == ' ')) {
        ++ptr;
    }
    if (ptr != end) {
        return std::nullopt;
    }
    return value;
}

std::optional<int64_t> ReadBootFile() {
    const uint32_t savedError = GetLastError();
    std::optional<std::string> text = ReadStateFile(kBootFile, kMaxBootFile);
    SetLastError(savedError);
    return text ? ParseBoot(*text) : std::nullopt;
}

// Writes a new boot instant durably, so a reader in another process sees
// either the old or the new value. With `onlyIfAbsent` the file is published
// only when there is none, which fails when another process has just started
// the boot first. The caller's last error is kept: reading the clock never
// changes it.
enum class BootWrite { Published, Exists, Failed };

BootWrite WriteBootFile(int64_t bootMs, bool onlyIfAbsent) {
    const uint32_t savedError = GetLastError();
    const bool published =
        WriteStateFile(kBootFile, std::to_string(bootMs) + "\n",
                       onlyIfAbsent ? StateWrite::CreateNew : StateWrite::Replace);
    const bool exists = !published && GetLastError() == ERROR_FILE_EXISTS;
    SetLastError(savedError);
    return published ? BootWrite::Published : exists ? BootWrite::Exists : BootWrite::Failed;
}

std::string BootPath() {
    return (DeviceStateDir() / kBootFile).string();
}

} // namespace

int64_t RealBootMs() {
    BootEntry& cache = g_boot;
    const std::string path = BootPath();
    std::lock_guard lock(g_bootMutex);
    for (int attempt = 0; attempt < 3; ++attempt) {
        struct stat st {};
        const bool exists = stat(path.c_str(), &st) == 0;
        if (exists && cache.valid && cache.path == path && cache.inode == st.st_ino &&
            cache.mtime.tv_sec == st.st_mtim.tv_sec && cache.mtime.tv_nsec == st.st_mtim.tv_nsec) {
            return cache.bootMs;
        }
        const int64_t now = MonotonicMs();
        if (exists) {
            // A boot instant in the future belongs to an earlier host boot.
            if (auto stored = ReadBootFile(); stored && *stored <= now) {
                cache = {};
                cache.path = path;
                cache.inode = st.st_ino;
                cache.mtime = st.st_mtim;
                cache.bootMs = *stored;
                cache.valid = true;
                return *stored;
            }
            WriteBootFile(now, false);
        } else if (WriteBootFile(now, true) == BootWrite::Failed) {
            break;
        }
    }
    // The state folder cannot be written: keep a boot instant for this
    // process so that the tick count still moves.
    if (!cache.valid || cache.path != path) {
        cache = {};
        cache.path = path;
        cache.bootMs = MonotonicMs();
        cache.valid = true;
    }
    return cache.bootMs;
}

bool WriteNewBoot(std::span<const StateFileContents> alongWith) {
    std::lock_guard lock(g_bootMutex);
    std::vector<StateFileContents> files(alongWith.begin(), alongWith.end());
    files.push_back({kBootFile, std::to_string(MonotonicMs()) + "\n"});
    if (!WriteStateFiles(files)) {
        return false;
    }
    g_boot.valid = false;
    return true;
}

} // namespace hh::sys::detail
