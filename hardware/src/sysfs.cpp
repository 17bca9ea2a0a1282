#include "sysfs.h"

#include <platform/system/posix.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <memory>

namespace hh::hw {

namespace {

namespace posix = sys::posix;

// A sysfs attribute is at most a page; system files read here are smaller.
constexpr std::size_t kMaxAttribute = 4096;

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ' || text.back() == '\0')) {
        text.remove_suffix(1);
    }
    while (!text.empty() && text.front() == ' ') {
        text.remove_prefix(1);
    }
    return text;
}

template <typename T>
std::optional<T> ParseNumber(const std::string& path) {
    std::optional<std::string> text = ReadAttribute(path);
    if (!text) {
        return std::nullopt;
    }
    std::string_view trimmed = Trimmed(*text);
    T value{};
    auto [stop, ec] = std::from_chars(trimmed.data(), trimmed.data() + trimmed.size(), value);
    if (trimmed.empty() || ec != std::errc() || stop != trimmed.data() + trimmed.size()) {
        posix::Fail(sys::ERROR_INVALID_DATA);
        return std::nullopt;
    }
    return value;
}

} // namespace

std::optional<std::string> ReadAttribute(const std::string& path) {
    posix::Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) {
        posix::FailErrno(sys::ErrnoContext::OpenDevice);
        return std::nullopt;
    }
    std::string text(kMaxAttribute, '\0');
    std::size_t got = 0;
    while (got < text.size()) {
        ssize_t n = ::read(fd.get(), text.data() + got, text.size() - got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            posix::FailErrno(sys::ErrnoContext::DeviceIo);
            return std::nullopt;
        }
        if (n == 0) {
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    text.resize(got);
    return std::string(Trimmed(text));
}

std::optional<int64_t> ReadInteger(const std::string& path) {
    return ParseNumber<int64_t>(path);
}

std::optional<double> ReadDecimal(const std::string& path) {
    return ParseNumber<double>(path);
}

bool WriteAttribute(const std::string& path, std::string_view text) {
    // O_TRUNC is what a shell's "echo 800 > brightness" does; sysfs ignores it.
    posix::Fd fd(::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC));
    if (!fd.valid()) {
        return posix::FailErrno(sys::ErrnoContext::OpenDevice);
    }
    return posix::WriteAll(fd.get(), text) || posix::FailErrno(sys::ErrnoContext::DeviceIo);
}

std::vector<std::string> FolderEntries(const std::string& path) {
    std::vector<std::string> names;
    std::unique_ptr<DIR, int (*)(DIR*)> folder(::opendir(path.c_str()), ::closedir);
    if (!folder) {
        return names;
    }
    while (const dirent* entry = ::readdir(folder.get())) {
        std::string_view name = entry->d_name;
        if (name != "." && name != "..") {
            names.emplace_back(name);
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool Exists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

std::optional<std::string> LinkTarget(const std::string& path) {
    char target[4096];
    ssize_t n = ::readlink(path.c_str(), target, sizeof target);
    if (n < 0 || static_cast<std::size_t>(n) == sizeof target) {
        return std::nullopt;
    }
    return std::string(target, static_cast<std::size_t>(n));
}

} // namespace hh::hw
