// The device a verb works on: the device root named by HANDHELD_ROOT.

#include "commands.h"

#include <platform/system/device_root.h>

#include <filesystem>
#include <string>

namespace hh::devctl {

void RequireDevice() {
    std::error_code ec;
    if (!std::filesystem::is_directory(sys::DeviceStateDir(), ec)) {
        throw CommandError("no device at " + sys::DeviceRootDir().string() + " (it holds no " +
                           sys::kDeviceStateFolder + " folder; a program's first start there " +
                           "makes one)");
    }
}

} // namespace hh::devctl
