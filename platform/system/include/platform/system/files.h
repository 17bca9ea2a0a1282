#pragma once
// Files and folders of the device, reached by CE paths (see ce_path.h).
//
// - Attributes: read-only, hidden, system, archive and temporary are kept in
//   the extended attribute "user.handheld.attributes" (hexadecimal text), so
//   they survive across processes. On a file system without user extended
//   attributes read-only is kept as the missing owner write permission and the
//   other bits are not kept (they read back clear).
// - Read-only is enforced here, not by the host's permission bits (which do
//   not stop root): writing, truncating, deleting or copying over a read-only
//   file fails with ERROR_ACCESS_DENIED. Folders are not protected by it.
// - The volume roots \ResidentFlash and \SDMMC report exactly 0x110 (folder and
//   temporary: the device's mark of a mounted volume) and cannot be removed.
// - Searches never report "." and "..", as on the device: an empty folder
//   yields nothing. Entries come in the order the host file system lists them.
// - Share modes are accepted and not enforced; the host has no mandatory
//   sharing.
// Every failure returns false (or an invalid handle) and sets the last error.

#include <platform/system/posix.h>
#include <platform/system/stream_device.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace hh::sys {

inline constexpr uint32_t FILE_ATTRIBUTE_READONLY = 0x1;
inline constexpr uint32_t FILE_ATTRIBUTE_HIDDEN = 0x2;
inline constexpr uint32_t FILE_ATTRIBUTE_SYSTEM = 0x4;
inline constexpr uint32_t FILE_ATTRIBUTE_DIRECTORY = 0x10;
inline constexpr uint32_t FILE_ATTRIBUTE_ARCHIVE = 0x20;
inline constexpr uint32_t FILE_ATTRIBUTE_NORMAL = 0x80;
inline constexpr uint32_t FILE_ATTRIBUTE_TEMPORARY = 0x100;
/// What the root folder of a mounted volume reports, exactly.
inline constexpr uint32_t FILE_ATTRIBUTE_MOUNT_POINT =
    FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_TEMPORARY;
inline constexpr uint32_t INVALID_FILE_ATTRIBUTES = 0xFFFFFFFFu;

/// Lets CreateFile open a folder (for reading only), as on the device.
inline constexpr uint32_t FILE_FLAG_BACKUP_SEMANTICS = 0x02000000u;

inline constexpr uint32_t FILE_BEGIN = 0;
inline constexpr uint32_t FILE_CURRENT = 1;
inline constexpr uint32_t FILE_END = 2;

/// An open file (or, with FILE_FLAG_BACKUP_SEMANTICS, folder); closed when it
/// goes out of scope.
class File {
public:
    File() = default;
    File(int fd, uint32_t access) : fd_(fd), access_(access) {}

    bool IsOpen() const { return fd_.valid(); }
    explicit operator bool() const { return IsOpen(); }

    /// Reads until the buffer is full or the file ends; bytesRead 0 at the end.
    bool Read(std::span<std::byte> buffer, uint32_t& bytesRead);
    /// Writes all of data; on a full disk bytesWritten tells how much went in.
    bool Write(std::span<const std::byte> data, uint32_t& bytesWritten);
    /// SetFilePointer: FILE_BEGIN, FILE_CURRENT or FILE_END.
    bool Seek(int64_t distance, uint32_t moveMethod, uint64_t* newPosition = nullptr);
    bool SeekToEnd() { return Seek(0, FILE_END); }
    std::optional<uint64_t> Size() const;
    /// SetEndOfFile: the file ends at the current position.
    bool SetEndOfFile();
    /// FlushFileBuffers: the data reaches the disk.
    bool Flush();
    void Close();

private:
    posix::Fd fd_;
    uint32_t access_ = 0;
};

/// CreateFile with the device's dispositions (CREATE_NEW, CREATE_ALWAYS,
/// OPEN_EXISTING, OPEN_ALWAYS, TRUNCATE_EXISTING) and GENERIC_READ/WRITE.
/// Success on an existing file with CREATE_ALWAYS or OPEN_ALWAYS leaves
/// ERROR_ALREADY_EXISTS as the last error, otherwise 0; CREATE_NEW on an
/// existing file fails with ERROR_FILE_EXISTS.
File CreateFile(std::u16string_view path, uint32_t access, uint32_t shareMode, uint32_t disposition,
                uint32_t flags = 0);

/// One entry of a directory search.
struct FindData {
    uint32_t attributes = 0;
    uint64_t size = 0;
    std::u16string fileName;
    /// The entry is a symbolic link; it is reported as what it leads to.
    bool isLink = false;
};

/// An open directory search; closed when it goes out of scope (FindClose).
class FindHandle {
public:
    FindHandle();
    FindHandle(FindHandle&& other) noexcept;
    FindHandle& operator=(FindHandle&& other) noexcept;
    FindHandle(const FindHandle&) = delete;
    FindHandle& operator=(const FindHandle&) = delete;
    ~FindHandle();

    bool IsValid() const;
    explicit operator bool() const { return IsValid(); }
    /// FindNextFile: false with ERROR_NO_MORE_FILES after the last entry.
    bool Next(FindData& data);
    void Close();

    struct State;

private:
    friend FindHandle FindFirstFile(std::u16string_view, FindData&);
    State* state_ = nullptr;
};

/// FindFirstFile: a folder path and a last component with "*" and "?"
/// ("\SDMMC\*", "\SDMMC\Maps\*.map"). Invalid with ERROR_PATH_NOT_FOUND for a
/// missing folder and ERROR_FILE_NOT_FOUND when nothing matches.
FindHandle FindFirstFile(std::u16string_view pattern, FindData& data);

/// INVALID_FILE_ATTRIBUTES (last error set) when the path cannot be read.
uint32_t GetFileAttributes(std::u16string_view path);
/// Stores read-only, hidden, system, archive and temporary; FILE_ATTRIBUTE_NORMAL
/// alone clears them. The root and the volume roots refuse (ERROR_ACCESS_DENIED).
bool SetFileAttributes(std::u16string_view path, uint32_t attributes);

/// ERROR_ALREADY_EXISTS when the folder (or a file of that name) exists.
bool CreateDirectory(std::u16string_view path);
/// ERROR_DIR_NOT_EMPTY when the folder holds anything.
bool RemoveDirectory(std::u16string_view path);
/// Deletes a file (a symbolic link itself, not what it points to).
bool DeleteFile(std::u16string_view path);
/// CopyFile: the data, the attributes and the modification time. The copy is
/// written to an unnamed file in the target's folder, flushed, and only then
/// given the target's name (renamed over an old target), so that a failed
/// copy (ERROR_DISK_FULL and the like), a process that dies or a power loss
/// meanwhile never leaves a torn file under that name: an old target stays as
/// it was, a new one does not appear. With failIfExists an existing target gives
/// ERROR_FILE_EXISTS; a read-only target gives ERROR_ACCESS_DENIED. A target
/// that is a symbolic link (inside the root) is replaced by the copy.
bool CopyFile(std::u16string_view existing, std::u16string_view target, bool failIfExists);

/// A folder resolved once, for work on many names directly inside it: each
/// call then costs a few system calls on the folder instead of a resolution
/// of the whole path. A call with name N behaves as the path function does
/// with folder + "\" + N (the same errors, the MAX_PATH limit, read-only,
/// links followed only beneath the root, the volume roots inside "\").
///
/// N is one component: "\", ".", ".." and wildcards give ERROR_INVALID_NAME.
/// Names are matched ignoring case through an index of the folder's entries,
/// read once, when a first name does not exist as written, and kept up to
/// date with what this handle creates; a name written exactly as it exists is
/// always found, and an entry another process adds meanwhile in another case
/// only when it is written so. A folder renamed while open is still the one
/// the handle works in.
class Directory {
public:
    Directory();
    Directory(Directory&& other) noexcept;
    Directory& operator=(Directory&& other) noexcept;
    Directory(const Directory&) = delete;
    Directory& operator=(const Directory&) = delete;
    ~Directory();

    /// Opens an existing folder. When it cannot be opened the handle is not
    /// open and every call on it fails with the error the opening gave
    /// (ERROR_PATH_NOT_FOUND for a missing folder or a file, for instance);
    /// the last error is set as well.
    static Directory Open(std::u16string_view cePath);

    bool IsOpen() const;
    explicit operator bool() const { return IsOpen(); }

    uint32_t GetFileAttributes(std::u16string_view name);
    bool SetFileAttributes(std::u16string_view name, uint32_t attributes);

    struct State;

private:
    friend bool CopyFile(Directory&, std::u16string_view, Directory&, std::u16string_view, bool);
    friend class CopyBatch;
    State* state_ = nullptr;
};

/// CopyFile of from + "\" + existing to to + "\" + target, with the same
/// guarantees as the path function.
bool CopyFile(Directory& from, std::u16string_view existing, Directory& to,
              std::u16string_view target, bool failIfExists);

/// Many copies with CopyFile's guarantee at a lower cost, written while the
/// caller goes on. Add checks the target at once (the errors CopyFile gives
/// there); worker threads then open the source and write the copy unnamed,
/// several files at a time, taking them in the order added. A flushing
/// thread puts what is written on the disk (one flush of each file system for
/// all of it) and, when the flush returns, gives the copies their names in
/// the order added, while the workers write on; on a file system that keeps
/// nothing over a power loss (tmpfs) it names them as soon as they are
/// written. A folder that does not exist yet may be made under a temporary
/// name instead (BeginFolder): copies into it are written under their own
/// names, and the folder is renamed into place in its turn. Finish waits for
/// all of it and flushes the names too. A process that dies or a power loss
/// at any moment leaves every target under its name complete, old or new; a
/// copy that fails (its source included) ends the batch there: the ones
/// before it get their names, the ones after it are discarded, as are copies
/// not yet named when the batch ends.
class CopyBatch {
public:
    /// written, when given, is told of each copy as soon as it is written,
    /// with the number written so far (counted from the first, in the order
    /// added, up to one that failed): one call at a time, on a thread of the
    /// batch, and every call made before Finish returns.
    explicit CopyBatch(std::function<void(std::size_t written)> written = {});
    ~CopyBatch();
    CopyBatch(const CopyBatch&) = delete;
    CopyBatch& operator=(const CopyBatch&) = delete;

    /// Queues the copy of from + "\\" + existing meant for to + "\\" + target,
    /// with CopyFile's checks and errors; the folders may be closed before the
    /// batch finishes. An error in opening the source or writing the copy
    /// shows in Failed, WaitWritten and Finish.
    bool Add(Directory& from, std::u16string_view existing, Directory& to,
             std::u16string_view target, bool failIfExists);
    /// Makes the folder at path, which does not exist yet, under a temporary
    /// name in the same folder, no longer than its own (".~" and a number),
    /// and returns the CE path of that folder: copies and folders go into it
    /// as into the folder itself, and nothing below it is seen under its own
    /// path before EndFolder's renaming. nullopt, nothing made, when path
    /// exists, its folder does not, its name is shorter than three characters
    /// or a folder is being made already: the caller then makes the folder
    /// itself.
    std::optional<std::u16string> BeginFolder(std::u16string_view path);
    /// Queues the renaming of the folder made by BeginFolder to its own name:
    /// it takes place once everything added before is on the disk. After a
    /// failure the folder is renamed with what was copied into it before the
    /// failed copy.
    void EndFolder();
    /// Makes a folder inside the folder BeginFolder made, without waiting for
    /// the copies ahead: nobody sees it before the renaming. After a failure
    /// it is removed again if it was made after the failed copy was added,
    /// so that what is renamed into place holds nothing made after that copy.
    /// False (CreateDirectory's error) when it could not be made.
    bool MakeFolder(std::u16string_view path);
    /// Waits until every copy added so far is written (not yet named). False,
    /// with the last error set to its error, when one of them failed.
    bool WaitWritten();
    /// Whether a copy has failed in writing or naming so far; does not wait.
    bool Failed();
    /// Waits until every copy added is written, on the disk and named, and the
    /// names given are on the disk too. False with the last error set when a
    /// copy failed (the ones after it are discarded) or the names could not be
    /// flushed. Nothing is added after.
    bool Finish();

    struct State;

private:
    State* state_;
};

} // namespace hh::sys
