#pragma once
// Handles as the device's core library hands them out: CreateFileW opens a
// stream device ("PWR1:") or a file or folder by its CE path, DeviceIoControl
// sends one request to an open stream device, CloseHandle closes either.
//
// A handle is a 32-bit number, as on the device, naming an entry of one
// process-wide table. Numbers are not reused until 2^30 further handles have
// been opened, so a stale handle fails with ERROR_INVALID_HANDLE instead of
// reaching whatever was opened after it. DuplicateHandle gives a second number
// for the same open object; the object closes with its last handle. A request
// that runs while another thread closes the handle finishes on the object it
// started on.

#include <cstdint>

namespace hh::sys {

using HANDLE = uint32_t;
inline constexpr HANDLE INVALID_HANDLE_VALUE = 0xFFFFFFFFu;

/// Lets CreateFileW open a stream device for system use (accepted, not checked).
inline constexpr uint32_t FILE_ATTRIBUTE_SYSTEM_DEVICE = 0x4;
/// Random access hint of CreateFileW (accepted, no effect).
inline constexpr uint32_t FILE_FLAG_RANDOM_ACCESS = 0x10000000u;

/// Opens a stream device ("PWR1:", three letters, a number, a colon) through
/// its registered driver, or else a file or folder by its CE path (see
/// files.h). INVALID_HANDLE_VALUE with the last error set on failure; the
/// security attributes and the template are ignored.
HANDLE CreateFileW(const char16_t* name, uint32_t access, uint32_t shareMode, void* security,
                   uint32_t disposition, uint32_t flags, HANDLE templateFile);

/// Sends one request to an open stream device. The driver sees exactly
/// inSize input and outSize output bytes; a null buffer counts as 0 bytes.
/// bytesReturned, when given, is set to what the driver wrote. False with the
/// last error set (ERROR_INVALID_HANDLE for a handle that is not an open stream
/// device); overlapped operation is not supported (ERROR_NOT_SUPPORTED).
bool DeviceIoControl(HANDLE device, uint32_t code, const void* in, uint32_t inSize, void* out,
                     uint32_t outSize, uint32_t* bytesReturned, void* overlapped);

/// Closes a handle; false with ERROR_INVALID_HANDLE for one that is not open.
bool CloseHandle(HANDLE handle);

/// A second handle for the object of an open handle (the process is always
/// the calling one). False with ERROR_INVALID_HANDLE when source is not open.
bool DuplicateHandle(HANDLE source, HANDLE* target);

} // namespace hh::sys
