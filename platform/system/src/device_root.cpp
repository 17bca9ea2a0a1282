#include "platform/system/device_root.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace hh::sys {

namespace {
std::filesystem::path HomeDir() {
    if (const char* home = std::getenv("HOME"); home && *home) {
        return home;
    }
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) {
        return pw->pw_dir;
    }
    return "/tmp";
}
} // namespace

std::filesystem::path DeviceRootDir() {
    std::filesystem::path root;
    if (const char* env = std::getenv("HANDHELD_ROOT"); env && *env) {
        root = env;
    } else if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg) {
        root = std::filesystem::path(xdg) / "handheld-device";
    } else {
        root = HomeDir() / ".local/share/handheld-device";
    }
    std::error_code ec;
    auto absolute = std::filesystem::absolute(root, ec);
    auto normal = (ec ? root : absolute).lexically_normal();
    // "/x/root/" and "/x/root" are the same device.
    if (!normal.has_filename() && normal != normal.root_path()) {
        normal = normal.parent_path();
    }
    return normal;
}

std::filesystem::path DeviceStateDir() {
    return DeviceRootDir() / kDeviceStateFolder;
}

std::string DeviceRootTag() {
    // FNV-1a over the normalised path: stable across processes and runs.
    uint64_t hash = 1469598103934665603ull;
    for (unsigned char c : DeviceRootDir().string()) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return text;
}

} // namespace hh::sys
