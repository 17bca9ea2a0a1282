#include "platform/system/error.h"

#include <cerrno>

namespace hh::sys {

namespace {
thread_local uint32_t t_lastError = ERROR_SUCCESS;

struct ErrnoMapping {
    int errnoValue;
    uint32_t error;
};

// The one place where host errors become device errors.
constexpr ErrnoMapping kErrnoTable[] = {
    {0, ERROR_SUCCESS},
    {ENOENT, ERROR_FILE_NOT_FOUND},
    {ENOTDIR, ERROR_PATH_NOT_FOUND},
    {ELOOP, ERROR_ACCESS_DENIED},
    {EMFILE, ERROR_TOO_MANY_OPEN_FILES},
    {ENFILE, ERROR_TOO_MANY_OPEN_FILES},
    {EACCES, ERROR_ACCESS_DENIED},
    {EPERM, ERROR_ACCESS_DENIED},
    {EISDIR, ERROR_ACCESS_DENIED},
    {EXDEV, ERROR_ACCESS_DENIED},
    {EBADF, ERROR_INVALID_HANDLE},
    {ENOMEM, ERROR_NOT_ENOUGH_MEMORY},
    {EROFS, ERROR_WRITE_PROTECT},
    {EBUSY, ERROR_BUSY},
    {ETXTBSY, ERROR_SHARING_VIOLATION},
    {EAGAIN, ERROR_LOCK_VIOLATION},
    {EEXIST, ERROR_ALREADY_EXISTS},
    {EINVAL, ERROR_INVALID_PARAMETER},
    {EPIPE, ERROR_BROKEN_PIPE},
    {ENOSPC, ERROR_DISK_FULL},
    {EDQUOT, ERROR_DISK_FULL},
    {EFBIG, ERROR_DISK_FULL},
    {ENAMETOOLONG, ERROR_FILENAME_EXCED_RANGE},
    {ENOTEMPTY, ERROR_DIR_NOT_EMPTY},
    {ETIMEDOUT, ERROR_TIMEOUT},
    {EINTR, ERROR_OPERATION_ABORTED},
    {ECANCELED, ERROR_OPERATION_ABORTED},
    {EIO, ERROR_IO_DEVICE},
    {ENXIO, ERROR_DEVICE_NOT_CONNECTED},
    {ENODEV, ERROR_DEVICE_NOT_CONNECTED},
    {ENOTSUP, ERROR_NOT_SUPPORTED},
    {ENOSYS, ERROR_NOT_SUPPORTED},
    {ENOTTY, ERROR_NOT_SUPPORTED},
    {EILSEQ, ERROR_INVALID_DATA},
};

struct ContextMapping {
    ErrnoContext context;
    int errnoValue;
    uint32_t error;
};

// The values whose meaning depends on what the call was doing; consulted
// before the general table.
constexpr ContextMapping kContextTable[] = {
    {ErrnoContext::Folder, ENOENT, ERROR_PATH_NOT_FOUND},
    {ErrnoContext::Folder, ENOTDIR, ERROR_PATH_NOT_FOUND},
    {ErrnoContext::CreateFile, EEXIST, ERROR_FILE_EXISTS},
    // rmdir of a folder that still has entries reports EEXIST or ENOTEMPTY.
    {ErrnoContext::RemoveFolder, EEXIST, ERROR_DIR_NOT_EMPTY},
    // A node without its hardware (a UART that is not fitted, an adapter being
    // unplugged) is as absent to the caller as a missing node; a node another
    // process holds is denied, as a second open in this one is.
    {ErrnoContext::OpenDevice, ENOENT, ERROR_FILE_NOT_FOUND},
    {ErrnoContext::OpenDevice, ENXIO, ERROR_FILE_NOT_FOUND},
    {ErrnoContext::OpenDevice, ENODEV, ERROR_FILE_NOT_FOUND},
    {ErrnoContext::OpenDevice, EIO, ERROR_FILE_NOT_FOUND},
    {ErrnoContext::OpenDevice, EBUSY, ERROR_ACCESS_DENIED},
    {ErrnoContext::OpenDevice, EWOULDBLOCK, ERROR_ACCESS_DENIED},
    {ErrnoContext::DeviceIo, EIO, ERROR_DEVICE_NOT_CONNECTED},
    {ErrnoContext::OpenProcess, ESRCH, ERROR_INVALID_PARAMETER},
    {ErrnoContext::SignalProcess, ESRCH, ERROR_ACCESS_DENIED},
};
} // namespace

uint32_t GetLastError() {
    return t_lastError;
}

void SetLastError(uint32_t error) {
    t_lastError = error;
}

uint32_t ErrorFromErrno(int errnoValue, ErrnoContext context) {
    for (const auto& m : kContextTable) {
        if (m.context == context && m.errnoValue == errnoValue) {
            return m.error;
        }
    }
    for (const auto& m : kErrnoTable) {
        if (m.errnoValue == errnoValue) {
            return m.error;
        }
    }
    return ERROR_GEN_FAILURE;
}

uint32_t SetLastErrorFromErrno(int errnoValue, ErrnoContext context) {
    t_lastError = ErrorFromErrno(errnoValue, context);
    return t_lastError;
}

} // namespace hh::sys
