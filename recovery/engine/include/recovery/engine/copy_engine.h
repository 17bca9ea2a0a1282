#pragma once
// The recovery tool's file-system workers: counting a tree's files, copying a
// tree while counting copied files for the progress display, deleting files
// and trees (the root folder of a mounted volume is emptied but kept), and
// ending a running device program that holds a file to be replaced.
//
// All paths are absolute CE paths without a trailing backslash; child paths
// are parent + "\" + name, and the platform refuses any that would leave the
// device root or exceed MAX_PATH, which makes the copy fail like any other.
// Entries are handled in the order the directory search returns them. Trace
// lines go to the standard output exactly as the device writes them.

#include <platform/system/named_mutex.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

namespace recovery {

/// The last error taken right after the most recent failed file copy; 0 until
/// a copy fails. Written by the worker, read by the dialog once the worker
/// has reported that it finished.
extern std::atomic<uint32_t> g_dwLastCopyError;

/// Adds the number of files in the tree below dir (searched with dir +
/// pattern, "\*" in every use) to counter. Counts in 32 bits: trees of more
/// than 65,535 files are counted right.
void CountFiles(std::u16string_view pattern, std::u16string_view dir, uint32_t& counter);

/// Copies the tree below src into dst, creating dst and its folders; a
/// running device program named like a copied .exe is ended first, and a
/// read-only or hidden target is overwritten. Each file adds 1 to counter,
/// while copyMutex is held, as soon as its data is written (in walk order),
/// whatever the size of the tree or the file. 1 when every file was copied;
/// 0 at the first file that could not be (g_dwLastCopyError set): nothing
/// after it is touched (no program ended, no attribute cleared, no folder
/// created), because the walk changes nothing for an entry before the copies
/// ahead of it are known to be written. No target is ever torn: each file is
/// written unnamed and named only once it is on the disk, and a destination
/// folder that does not exist is filled under a temporary name and renamed
/// into place once its contents are on the disk (hh::sys::CopyBatch), so a
/// process that dies or a power loss leaves every file under its name
/// complete, old or new; everything named is on the disk when the call
/// returns.
int CopyTree(std::u16string_view pattern, std::u16string_view src, std::u16string_view dst,
             uint32_t& counter, hh::sys::Mutex& copyMutex);

/// Deletes a file, or a folder with everything in it. A missing path is
/// handled as a folder: nothing changes but the trace.
void DeleteTree(std::u16string_view path);
/// Empties and removes a folder, depth first. A symbolic link inside is
/// removed itself; what it points to is left alone.
void DeleteDirectoryTree(std::u16string_view dir);
/// Deletes one file, clearing read-only and hidden first; when that fails,
/// ends a running device program of the same file name and tries once more.
bool DeleteOneFile(std::u16string_view path);
/// Removes an empty folder, except one whose attributes are exactly 0x110
/// (the root of a mounted volume), which is kept.
void RemoveOneDir(std::u16string_view dir);

/// Ends a running device program of that file name when the name ends in
/// ".exe" (any case).
void KillIfExe(std::u16string_view name);
/// Ends the first running device program whose executable file name equals
/// name (case-insensitive) and waits up to 2500 ms for it. Programs outside
/// the device root are never candidates.
void TerminateProcessByName(std::u16string_view name);

} // namespace recovery
