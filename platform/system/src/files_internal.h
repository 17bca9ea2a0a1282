#pragma once
// Shared by the parts of the file services (attributes, handles, search,
// copy, folder handles, whole files): failure helpers, the attributes kept in
// an extended attribute, and the copy of one open file.

#include "ce_path_internal.h"
#include "platform/system/ce_path.h"
#include "platform/system/error.h"
#include "platform/system/files.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace hh::sys::fs_detail {

inline constexpr const char* kAttributeName = "user.handheld.attributes";
inline constexpr uint32_t kStoredBits = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                        FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                        FILE_ATTRIBUTE_TEMPORARY;

using posix::Fail;
using posix::FailErrno;

/// Whether an errno says that the file system keeps no user extended attributes.
bool NoUserXattrs(int e);

/// Stores the bits on an open descriptor (an O_PATH one through its /proc
/// name); without user extended attributes read-only becomes the missing write
/// permission and the rest is dropped.
bool WriteAttributes(int fd, uint32_t bits, bool pathOnly);

/// The stored bits of a descriptor open for reading or writing.
uint32_t StoredAttributesOf(int fd);

/// The stored bits of entry `name` of folder dirFd, the entry itself and not
/// what a link leads to.
uint32_t StoredAttributesIn(int dirFd, const std::string& name);

/// What a file or folder reports; stored() reads the kept bits, which a
/// volume root does not need.
template <typename Stored>
uint32_t Attributes(const struct stat& st, bool volumeRoot, Stored stored) {
    if (S_ISDIR(st.st_mode)) {
        return volumeRoot ? FILE_ATTRIBUTE_MOUNT_POINT : FILE_ATTRIBUTE_DIRECTORY | stored();
    }
    const uint32_t bits = stored();
    return bits ? bits : FILE_ATTRIBUTE_NORMAL;
}

/// The same with the kept bits read through a path such as ProcFdPath(fd).
uint32_t Attributes(const struct stat& st, const std::string& xattrPath, bool followLink,
                    bool volumeRoot);

/// A complete file that has no name yet in its folder: written unnamed
/// (O_TMPFILE) or, on a file system without unnamed files, under a temporary
/// name. Publish gives it its name with one link or rename; until then the
/// name it is meant for is untouched. Destroyed unpublished, it disappears.
class PendingFile {
public:
    /// How the file takes its name.
    enum class Mode {
        Replace,   ///< over an existing file of that name (one rename)
        CreateNew, ///< only when there is none (EEXIST otherwise)
    };

    PendingFile() = default;
    PendingFile(PendingFile&& other) noexcept;
    PendingFile& operator=(PendingFile&& other) noexcept;
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;
    ~PendingFile();

    /// Opens the file in folder (an O_PATH descriptor will do) for the name
    /// leaf with the permission bits mode. False with errno set.
    bool Open(int folder, std::string leaf, mode_t mode);
    int fd() const { return fd_.get(); }
    /// fsync of the data and the file's own metadata.
    bool Flush();
    /// Starts writing length bytes at offset to the disk without waiting, so
    /// that the disk works while more is copied.
    void StartFlush(off_t offset, off_t length);
    /// Gives the file its name; false with errno set, the name then as it was.
    bool Publish(Mode mode);

private:
    void Discard();

    Fd fd_;
    int folder_ = -1;
    std::string leaf_;
    std::string tempName_; ///< set while the file has a temporary name
};

/// fsync of a folder given by a descriptor (O_PATH will do), so that the
/// names made in it reach the disk. False with errno set.
bool FlushFolder(int folder);

/// Where a copy goes: the folder, the name in it, the path from the root (to
/// follow the entry when it is a link) and whether the name exists.
struct CopyTarget {
    int root;
    int folder;
    std::string rel;
    std::string leaf;
    bool exists;
};

/// Whether an existing target may be replaced: not a folder (nor a link to
/// one), not read-only, and no failIfExists. False with the last error set.
bool MayReplace(const CopyTarget& target, bool failIfExists);

/// Writes a copy of the open regular file `in` (st its status) into a pending
/// file of folder meant for leaf: the data, the permission bits, the
/// attributes and the times. False with errno set.
bool WriteCopy(int in, const struct stat& st, int folder, const std::string& leaf,
               PendingFile& out);

/// Copies length bytes at offset from in to the same place in out, with
/// copy_file_range where the file systems allow it, otherwise with pread and
/// pwrite; a source that ends early ends the copy. Threads may copy
/// different ranges of one file at once. False with errno set.
bool CopyRange(int in, int out, off_t offset, off_t length);

/// The last steps of WriteCopy, after the data: the permission bits, the
/// attributes and the times of `in` (st its status) on the copy `out`. False
/// with errno set.
bool FinishCopy(int in, const struct stat& st, int out);

/// Names a written copy: a new target only if the name is still free, an
/// old one by replacing it; a name that appeared meanwhile is replaced when
/// MayReplace allows it. False with the last error set.
bool PublishCopy(PendingFile& out, const CopyTarget& target, bool failIfExists);

/// Copies the open regular file `in` (st its status) to the target: written
/// unnamed, flushed, then named, so that the target is never seen torn.
/// False with the last error set.
bool CopyOpenFile(int in, const struct stat& st, const CopyTarget& target, bool failIfExists);

} // namespace hh::sys::fs_detail
