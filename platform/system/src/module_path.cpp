#include "platform/system/module_path.h"

#include "ce_path_internal.h"
#include "platform/system/error.h"

#include <algorithm>
#include <cerrno>
#include <mutex>

namespace hh::sys {

namespace {
std::mutex g_moduleMutex;
std::u16string g_moduleName;

std::u16string DefaultName() {
    std::u16string name = fs_detail::FromUtf8(program_invocation_short_name);
    if (name.size() > 4 && fs_detail::EqualsIgnoreCase(name.substr(name.size() - 4), u".exe")) {
        name.resize(name.size() - 4);
    }
    return name;
}
} // namespace

void SetModuleName(std::u16string_view deliverable) {
    std::lock_guard lock(g_moduleMutex);
    g_moduleName = deliverable;
}

std::u16string GetModuleName() {
    std::lock_guard lock(g_moduleMutex);
    return g_moduleName.empty() ? DefaultName() : g_moduleName;
}

std::u16string GetModuleFileName() {
    const std::u16string name = GetModuleName();
    return u"\\SDMMC\\" + name + u"\\" + name + u".exe";
}

uint32_t GetModuleFileName(std::span<char16_t> buffer) {
    if (buffer.empty()) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    const std::u16string path = GetModuleFileName();
    const std::size_t copied = std::min(path.size(), buffer.size() - 1);
    std::copy_n(path.begin(), copied, buffer.begin());
    buffer[copied] = u'\0';
    if (copied < path.size()) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return static_cast<uint32_t>(buffer.size());
    }
    return static_cast<uint32_t>(copied);
}

} // namespace hh::sys
