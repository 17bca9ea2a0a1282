#include "capture_file.h"

#include <platform/system/code_page.h>
#include <platform/system/error.h>
#include <platform/system/files.h>

#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <new>
#include <span>
#include <string>

namespace terminal {

CaptureResult WriteCaptureFile(std::u16string_view path, std::u16string_view text,
                               CaptureMode mode) {
    std::string bytes;
    try {
        bytes = hh::sys::WideToAnsi(text);
        bytes.push_back('\0');
    } catch (const std::bad_alloc&) {
        return CaptureResult::NoMemory;
    }
    const uint32_t disposition =
        mode == CaptureMode::Create ? hh::sys::CREATE_ALWAYS : hh::sys::OPEN_ALWAYS;
    hh::sys::File file = hh::sys::CreateFile(path, hh::sys::GENERIC_WRITE, 0, disposition);
    if (!file) {
        return CaptureResult::OpenFailed;
    }
    const uint64_t sizeBefore = mode == CaptureMode::Append ? file.Size().value_or(0) : 0;
    if (mode == CaptureMode::Append && !file.SeekToEnd()) {
        return CaptureResult::WriteFailed;
    }
    uint32_t written = 0;
    const auto data = std::as_bytes(std::span(bytes.data(), bytes.size()));
    if (!file.Write(data, written) || written != bytes.size()) {
        // Cut the file back to the captures before this one.
        if (::ftruncate(file.NativeHandle(), static_cast<off_t>(sizeBefore)) != 0) {
            hh::sys::SetLastErrorFromErrno(errno);
        }
        return CaptureResult::WriteFailed;
    }
    return CaptureResult::Ok;
}

} // namespace terminal
