#include "capture_file.h"

#include <platform/system/code_page.h>
#include <platform/system/error.h>
#include <platform/system/files.h>
#include <platform/system/whole_file.h>

#include <cstddef>
#include <new>
#include <span>
#include <string>

namespace terminal {

namespace {

namespace sys = hh::sys;

// A failure while the data was going to the disk, rather than one of making
// the file.
bool IsWriteFailure(uint32_t error) {
    return error == sys::ERROR_DISK_FULL || error == sys::ERROR_HANDLE_DISK_FULL ||
           error == sys::ERROR_IO_DEVICE;
}

CaptureResult Append(std::u16string_view path, const std::string& bytes) {
    sys::File file = sys::CreateFile(path, sys::GENERIC_WRITE, 0, sys::OPEN_ALWAYS);
    if (!file) {
        return CaptureResult::OpenFailed;
    }
    const bool existed = sys::GetLastError() == sys::ERROR_ALREADY_EXISTS;
    const uint64_t sizeBefore = file.Size().value_or(0);
    uint32_t written = 0;
    if (file.SeekToEnd() && file.Write(std::as_bytes(std::span(bytes)), written) && file.Flush()) {
        return CaptureResult::Ok;
    }
    // Back to the captures before this one; a file this call made goes again.
    const uint32_t error = sys::GetLastError();
    if (existed) {
        if (file.Seek(static_cast<int64_t>(sizeBefore), sys::FILE_BEGIN)) {
            file.SetEndOfFile();
        }
        file.Flush();
    } else {
        file.Close();
        sys::DeleteFile(path);
    }
    sys::SetLastError(error);
    return CaptureResult::WriteFailed;
}

} // namespace

CaptureResult WriteCaptureFile(std::u16string_view path, std::u16string_view text,
                               CaptureMode mode) {
    std::string bytes;
    try {
        bytes = sys::WideToAnsi(text);
        bytes.push_back('\0');
    } catch (const std::bad_alloc&) {
        return CaptureResult::NoMemory;
    }
    if (mode == CaptureMode::Append) {
        return Append(path, bytes);
    }
    if (sys::ReplaceFileDurably(path, bytes)) {
        return CaptureResult::Ok;
    }
    return IsWriteFailure(sys::GetLastError()) ? CaptureResult::WriteFailed
                                               : CaptureResult::OpenFailed;
}

} // namespace terminal
