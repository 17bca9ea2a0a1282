#pragma once
// Whole files read at once and replaced durably, for the device's files (by
// CE path) and for the simulated device's own state folder <root>/.device.
//
// Both go through folder handles opened beneath the device root, so a link
// swapped in between a check and the write cannot lead outside the root.
//
// A durable replacement writes the new contents to a temporary file in the
// same folder, flushes it (fsync), gives it the final name with one rename
// and flushes the folder. A process that dies or a power loss at any moment
// leaves under the final name either the complete old or the complete new
// contents. A temporary file that a power loss left behind is named
// ".~hh.<name>.<process>.<n>" (one that a killed process left behind has no
// name at all: it is written unnamed and named only when complete).

#include <platform/system/posix.h>

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace hh::sys {

/// Reads the whole file at a CE path. Nullopt with the last error set:
/// ERROR_FILE_NOT_FOUND (or ERROR_PATH_NOT_FOUND for a missing folder on the
/// way), ERROR_ACCESS_DENIED for a folder, a device or a path that would leave
/// the root, ERROR_FILE_TOO_LARGE when the file holds more than maxSize bytes.
std::optional<std::string> ReadWholeFile(std::u16string_view cePath, std::size_t maxSize);

/// Reads a whole file by its host path (a recorded log named on a command line
/// or in the environment, outside the device's CE paths). Nullopt with the
/// last error set: ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED for a folder, a
/// device, a pipe or a file that may not be read, ERROR_FILE_TOO_LARGE when
/// the file holds more than maxSize bytes. No more than maxSize bytes are
/// ever read, whatever the file claims.
std::optional<std::string> ReadHostFile(const std::string& path, std::size_t maxSize);

/// Replaces (or creates) the file at a CE path with contents, durably. The
/// new file keeps the old one's permission bits and attributes; a read-only
/// file is refused with ERROR_ACCESS_DENIED and stays as it is; a name that is
/// a link (inside the root) is written through to the file it leads to. False
/// with the last error set when any step fails; the file is then untouched.
bool ReplaceFileDurably(std::u16string_view cePath, std::string_view contents);

/// Replaces (or creates) a file by its host path (a report named on a command
/// line) durably, as ReplaceFileDurably does for a CE path. False with the
/// last error set when any step fails; the file is then untouched.
bool ReplaceHostFileDurably(const std::string& path, std::string_view contents);

/// Reads a file of the state folder; name is one component ("boot").
std::optional<std::string> ReadStateFile(std::string_view name, std::size_t maxSize);

/// How WriteStateFile publishes the new file.
enum class StateWrite {
    Replace,   ///< over an existing file of that name
    CreateNew, ///< only when there is none: ERROR_FILE_EXISTS otherwise
};

/// Writes a file of the state folder durably, creating the folder (and the
/// device root) when missing.
bool WriteStateFile(std::string_view name, std::string_view contents,
                    StateWrite mode = StateWrite::Replace);

/// One file of the state folder and what it is to hold.
struct StateFileContents {
    std::string_view name;
    std::string contents;
};

/// Replaces several files of the state folder durably as one step: each is
/// written and flushed under a temporary name, and they are named only when
/// all are on the disk, so that a failure (a full disk) leaves every one of
/// them as it was. False with the last error set.
bool WriteStateFiles(std::span<const StateFileContents> files);

/// A top-level folder of the root (a removable volume's, "SDMMC") moved into
/// the state folder under keptName while the device cannot reach it, and back.
/// Each is one rename beneath the root that never replaces: ERROR_ALREADY_EXISTS
/// when the destination exists; other failures set their own last error.
bool MoveIntoStateFolder(std::string_view topFolder, std::string_view keptName);
bool MoveOutOfStateFolder(std::string_view keptName, std::string_view topFolder);
/// Removes an empty top-level folder of the root; ERROR_DIR_NOT_EMPTY when it
/// holds anything.
bool RemoveEmptyTopFolder(std::string_view topFolder);

/// An exclusive lock on a file of the state folder, held until destruction,
/// shared by every process of the device root. The kernel drops it with a
/// process that dies holding it. When the file cannot be opened the lock is
/// not held (Held() false, the last error set).
class StateFileLock {
public:
    explicit StateFileLock(std::string_view name);
    ~StateFileLock();
    StateFileLock(const StateFileLock&) = delete;
    StateFileLock& operator=(const StateFileLock&) = delete;

    bool Held() const { return fd_.valid(); }

private:
    posix::Fd fd_;
};

} // namespace hh::sys
