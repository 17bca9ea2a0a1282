#pragma once
// The per-thread last-error number of the device, with the Win32 error codes
// that reach messages, files and other programs. errno is mapped in one table,
// with the few values whose meaning depends on the call beside it.

#include <cstdint>
#include <string>

namespace hh::sys {

inline constexpr uint32_t ERROR_SUCCESS = 0;
inline constexpr uint32_t ERROR_INVALID_FUNCTION = 1;
inline constexpr uint32_t ERROR_FILE_NOT_FOUND = 2;
inline constexpr uint32_t ERROR_PATH_NOT_FOUND = 3;
inline constexpr uint32_t ERROR_TOO_MANY_OPEN_FILES = 4;
inline constexpr uint32_t ERROR_ACCESS_DENIED = 5;
inline constexpr uint32_t ERROR_INVALID_HANDLE = 6;
inline constexpr uint32_t ERROR_NOT_ENOUGH_MEMORY = 8;
inline constexpr uint32_t ERROR_INVALID_DATA = 13;
inline constexpr uint32_t ERROR_OUTOFMEMORY = 14;
inline constexpr uint32_t ERROR_NO_MORE_FILES = 18;
inline constexpr uint32_t ERROR_WRITE_PROTECT = 19;
inline constexpr uint32_t ERROR_NOT_READY = 21;
inline constexpr uint32_t ERROR_GEN_FAILURE = 31;
inline constexpr uint32_t ERROR_SHARING_VIOLATION = 32;
inline constexpr uint32_t ERROR_LOCK_VIOLATION = 33;
inline constexpr uint32_t ERROR_HANDLE_EOF = 38;
inline constexpr uint32_t ERROR_HANDLE_DISK_FULL = 39;
inline constexpr uint32_t ERROR_NOT_SUPPORTED = 50;
inline constexpr uint32_t ERROR_FILE_EXISTS = 80;
inline constexpr uint32_t ERROR_INVALID_PARAMETER = 87;
inline constexpr uint32_t ERROR_BROKEN_PIPE = 109;
inline constexpr uint32_t ERROR_DISK_FULL = 112;
inline constexpr uint32_t ERROR_INSUFFICIENT_BUFFER = 122;
inline constexpr uint32_t ERROR_INVALID_NAME = 123;
inline constexpr uint32_t ERROR_DIR_NOT_EMPTY = 145;
inline constexpr uint32_t ERROR_BAD_PATHNAME = 161;
inline constexpr uint32_t ERROR_BUSY = 170;
inline constexpr uint32_t ERROR_ALREADY_EXISTS = 183;
inline constexpr uint32_t ERROR_FILENAME_EXCED_RANGE = 206;
inline constexpr uint32_t ERROR_FILE_TOO_LARGE = 223;
inline constexpr uint32_t ERROR_NO_MORE_ITEMS = 259;
inline constexpr uint32_t ERROR_DIRECTORY = 267;
inline constexpr uint32_t ERROR_NOT_OWNER = 288;
inline constexpr uint32_t ERROR_OPERATION_ABORTED = 995;
inline constexpr uint32_t ERROR_IO_PENDING = 997;
inline constexpr uint32_t ERROR_BADDB = 1009;
inline constexpr uint32_t ERROR_BADKEY = 1010;
inline constexpr uint32_t ERROR_CANTOPEN = 1011;
inline constexpr uint32_t ERROR_CANTREAD = 1012;
inline constexpr uint32_t ERROR_CANTWRITE = 1013;
inline constexpr uint32_t ERROR_REGISTRY_CORRUPT = 1015;
inline constexpr uint32_t ERROR_KEY_DELETED = 1018;
inline constexpr uint32_t ERROR_IO_DEVICE = 1117;
inline constexpr uint32_t ERROR_DEVICE_NOT_CONNECTED = 1167;
inline constexpr uint32_t ERROR_FILE_CORRUPT = 1392;
inline constexpr uint32_t ERROR_TIMEOUT = 1460;

/// What a failed host call was doing. Some errno values mean something else to
/// the device depending on the call: a missing folder on the way is a missing
/// path, not a missing file; a device node without its hardware is absent.
enum class ErrnoContext {
    Any,           ///< no special meaning
    Folder,        ///< resolving the folders of a path: missing or not a folder -> path not found
    CreateFile,    ///< creating a file exclusively: it exists -> ERROR_FILE_EXISTS
    RemoveFolder,  ///< removing a folder: EEXIST is a folder that is not empty
    OpenDevice,    ///< opening a host device node: unplugged or absent -> not found, held -> denied
    DeviceIo,      ///< reading or writing an open device: EIO is a vanished device
    OpenProcess,   ///< opening a process by id: no such process -> invalid parameter
    SignalProcess, ///< ending an opened process: already gone -> access denied
};

/// The calling thread's last-error number (0 until something fails).
uint32_t GetLastError();
/// Stores the calling thread's last-error number.
void SetLastError(uint32_t error);
/// The device error number for an errno value of a call of the given kind;
/// unknown values give ERROR_GEN_FAILURE.
uint32_t ErrorFromErrno(int errnoValue, ErrnoContext context = ErrnoContext::Any);
/// SetLastError(ErrorFromErrno(errnoValue, context)); returns the stored number.
uint32_t SetLastErrorFromErrno(int errnoValue, ErrnoContext context = ErrnoContext::Any);

/// A short description of an error number for one-line messages, naming the
/// number: "the disk is full (ERROR_DISK_FULL, 112)"; "error N" for numbers
/// without a name here.
std::string ErrorText(uint32_t error);

} // namespace hh::sys
