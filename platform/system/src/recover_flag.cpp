#include <platform/system/error.h>
#include <platform/system/recover_flag.h>

#include <charconv>
#include <string>

namespace hh::sys {

namespace {

constexpr std::string_view kFlagFile = "recover_flag";

// The flag file holds the value in decimal and a line end.
constexpr std::size_t kMaxFlagFile = 32;

} // namespace

StateFileContents RecoverFlagContents(uint32_t value) {
    return {kFlagFile, std::to_string(value) + "\n"};
}

std::optional<uint32_t> ReadStoredRecoverFlag() {
    std::optional<std::string> text = ReadStateFile(kFlagFile, kMaxFlagFile);
    if (!text) {
        const uint32_t error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            return 0u;
        }
        if (error == ERROR_FILE_TOO_LARGE) {
            SetLastError(ERROR_INVALID_DATA);
        }
        return std::nullopt;
    }
    const char* begin = text->data();
    const char* end = begin + text->size();
    uint32_t value = 0;
    auto [stop, ec] = std::from_chars(begin, end, value);
    // Digits and at most one line end, nothing after it.
    if (ec != std::errc() || (stop != end && (*stop != '\n' || stop + 1 != end))) {
        SetLastError(ERROR_INVALID_DATA);
        return std::nullopt;
    }
    return value;
}

bool StoreRecoverFlag(uint32_t value) {
    StateFileLock lock(kRecoverFlagLock);
    const StateFileContents file = RecoverFlagContents(value);
    return WriteStateFile(file.name, file.contents);
}

} // namespace hh::sys
