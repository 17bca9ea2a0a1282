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

struct ErrorName {
    uint32_t error;
    const char* name;
    const char* text;
};

constexpr ErrorName kErrorNames[] = {
    {ERROR_SUCCESS, "ERROR_SUCCESS", "no error"},
    {ERROR_INVALID_FUNCTION, "ERROR_INVALID_FUNCTION", "not a function of this device"},
    {ERROR_FILE_NOT_FOUND, "ERROR_FILE_NOT_FOUND", "no such file"},
    {ERROR_PATH_NOT_FOUND, "ERROR_PATH_NOT_FOUND", "no such folder"},
    {ERROR_TOO_MANY_OPEN_FILES, "ERROR_TOO_MANY_OPEN_FILES", "too many open files"},
    {ERROR_ACCESS_DENIED, "ERROR_ACCESS_DENIED", "access denied"},
    {ERROR_INVALID_HANDLE, "ERROR_INVALID_HANDLE", "invalid handle"},
    {ERROR_NOT_ENOUGH_MEMORY, "ERROR_NOT_ENOUGH_MEMORY", "not enough memory"},
    {ERROR_INVALID_DATA, "ERROR_INVALID_DATA", "invalid data"},
    {ERROR_OUTOFMEMORY, "ERROR_OUTOFMEMORY", "out of memory"},
    {ERROR_WRITE_PROTECT, "ERROR_WRITE_PROTECT", "the medium is write-protected"},
    {ERROR_GEN_FAILURE, "ERROR_GEN_FAILURE", "the device failed"},
    {ERROR_SHARING_VIOLATION, "ERROR_SHARING_VIOLATION", "in use by another program"},
    {ERROR_LOCK_VIOLATION, "ERROR_LOCK_VIOLATION", "locked by another program"},
    {ERROR_HANDLE_DISK_FULL, "ERROR_HANDLE_DISK_FULL", "the disk is full"},
    {ERROR_NOT_SUPPORTED, "ERROR_NOT_SUPPORTED", "not supported"},
    {ERROR_FILE_EXISTS, "ERROR_FILE_EXISTS", "the file exists"},
    {ERROR_INVALID_PARAMETER, "ERROR_INVALID_PARAMETER", "invalid parameter"},
    {ERROR_BROKEN_PIPE, "ERROR_BROKEN_PIPE", "the other end has gone"},
    {ERROR_DISK_FULL, "ERROR_DISK_FULL", "the disk is full"},
    {ERROR_INVALID_NAME, "ERROR_INVALID_NAME", "invalid name"},
    {ERROR_DIR_NOT_EMPTY, "ERROR_DIR_NOT_EMPTY", "the folder is not empty"},
    {ERROR_BUSY, "ERROR_BUSY", "busy"},
    {ERROR_ALREADY_EXISTS, "ERROR_ALREADY_EXISTS", "it exists already"},
    {ERROR_FILENAME_EXCED_RANGE, "ERROR_FILENAME_EXCED_RANGE", "the name is too long"},
    {ERROR_FILE_TOO_LARGE, "ERROR_FILE_TOO_LARGE", "the file is too large"},
    {ERROR_DIRECTORY, "ERROR_DIRECTORY", "not a folder"},
    {ERROR_OPERATION_ABORTED, "ERROR_OPERATION_ABORTED", "the operation was aborted"},
    {ERROR_IO_DEVICE, "ERROR_IO_DEVICE", "an input/output error of the disk"},
    {ERROR_DEVICE_NOT_CONNECTED, "ERROR_DEVICE_NOT_CONNECTED", "the device is not connected"},
    {ERROR_FILE_CORRUPT, "ERROR_FILE_CORRUPT", "the file is damaged"},
    {ERROR_TIMEOUT, "ERROR_TIMEOUT", "timed out"},
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

std::string ErrorText(uint32_t error) {
    for (const auto& e : kErrorNames) {
        if (e.error == error) {
            return std::string(e.text) + " (" + e.name + ", " + std::to_string(error) + ")";
        }
    }
    return "error " + std::to_string(error);
}

} // namespace hh::sys
