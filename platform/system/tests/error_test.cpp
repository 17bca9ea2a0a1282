#include <platform/system/error.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <thread>

namespace hh::sys {
namespace {

TEST(LastError, MapsTheErrnoValuesThatReachMessages) {
    struct Row {
        int errnoValue;
        uint32_t expected;
    };
    const Row rows[] = {
        {ENOENT, 2},   {ENOTDIR, 3},  {EACCES, 5},      {EPERM, 5},
        {ENOSPC, 112}, {EEXIST, 183}, {ENOTEMPTY, 145}, {12345, ERROR_GEN_FAILURE},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(ErrorFromErrno(row.errnoValue), row.expected) << "errno " << row.errnoValue;
    }
}

TEST(LastError, MapsByWhatTheCallWasDoing) {
    struct Row {
        ErrnoContext context;
        int errnoValue;
        uint32_t expected;
    };
    const Row rows[] = {
        {ErrnoContext::Folder, ENOENT, ERROR_PATH_NOT_FOUND},
        {ErrnoContext::Folder, ENOTDIR, ERROR_PATH_NOT_FOUND},
        {ErrnoContext::Folder, EACCES, ERROR_ACCESS_DENIED},
        {ErrnoContext::CreateFile, EEXIST, ERROR_FILE_EXISTS},
        {ErrnoContext::CreateFile, ENOENT, ERROR_FILE_NOT_FOUND},
        {ErrnoContext::RemoveFolder, EEXIST, ERROR_DIR_NOT_EMPTY},
        {ErrnoContext::RemoveFolder, ENOTEMPTY, ERROR_DIR_NOT_EMPTY},
        {ErrnoContext::OpenDevice, ENXIO, ERROR_FILE_NOT_FOUND},
        {ErrnoContext::OpenDevice, ENODEV, ERROR_FILE_NOT_FOUND},
        {ErrnoContext::OpenDevice, EIO, ERROR_FILE_NOT_FOUND},
        {ErrnoContext::OpenDevice, EBUSY, ERROR_ACCESS_DENIED},
        {ErrnoContext::OpenDevice, EWOULDBLOCK, ERROR_ACCESS_DENIED},
        {ErrnoContext::OpenDevice, EACCES, ERROR_ACCESS_DENIED},
        {ErrnoContext::DeviceIo, EIO, ERROR_DEVICE_NOT_CONNECTED},
        {ErrnoContext::DeviceIo, ENOSPC, ERROR_DISK_FULL},
        {ErrnoContext::OpenProcess, ESRCH, ERROR_INVALID_PARAMETER},
        {ErrnoContext::SignalProcess, ESRCH, ERROR_ACCESS_DENIED},
        {ErrnoContext::Any, EIO, ERROR_IO_DEVICE},
        {ErrnoContext::Any, EEXIST, ERROR_ALREADY_EXISTS},
        {ErrnoContext::SignalProcess, 12345, ERROR_GEN_FAILURE},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(ErrorFromErrno(row.errnoValue, row.context), row.expected)
            << "context " << static_cast<int>(row.context) << " errno " << row.errnoValue;
    }
}

TEST(LastError, IsKeptPerThread) {
    SetLastError(ERROR_DISK_FULL);
    uint32_t seenByOther = 1;
    std::thread other([&] {
        seenByOther = GetLastError();
        SetLastError(ERROR_ACCESS_DENIED);
    });
    other.join();
    EXPECT_EQ(seenByOther, ERROR_SUCCESS);
    EXPECT_EQ(GetLastError(), ERROR_DISK_FULL);
    EXPECT_EQ(SetLastErrorFromErrno(ENOENT), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

} // namespace
} // namespace hh::sys
