#include <platform/system/error.h>

#include <cerrno>
#include <gtest/gtest.h>
#include <thread>

namespace hh::sys {
namespace {

TEST(LastError, MapsTheErrnoValuesThatReachMessages) {
    struct Row {
        int errnoValue;
        uint32_t expected;
    };
    const Row rows[] = {
        {ENOENT, 2}, {ENOTDIR, 3}, {EACCES, 5}, {EPERM, 5},
        {ENOSPC, 112}, {EEXIST, 183}, {ENOTEMPTY, 145}, {12345, ERROR_GEN_FAILURE},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(ErrorFromErrno(row.errnoValue), row.expected) << "errno " << row.errnoValue;
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
