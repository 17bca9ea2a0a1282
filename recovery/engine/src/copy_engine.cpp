#include <platform/system/clock.h>
#include <platform/system/error.h>
#include <platform/system/files.h>
#include <platform/system/process.h>
#include <platform/system/trace.h>
#include <platform/system/wait.h>
#include <recovery/engine/copy_engine.h>

namespace recovery {

namespace sys = hh::sys;

std::atomic<uint32_t> g_dwLastCopyError{0};

namespace {

constexpr uint32_t kReadOnlyHidden = sys::FILE_ATTRIBUTE_READONLY | sys::FILE_ATTRIBUTE_HIDDEN;

std::u16string Child(std::u16string_view parent, std::u16string_view name) {
    std::u16string path(parent);
    path += u'\\';
    path += name;
    return path;
}

std::u16string Search(std::u16string_view dir, std::u16string_view pattern) {
    std::u16string path(dir);
    path += pattern;
    return path;
}

bool IsDirectory(const sys::FindData& data) {
    return (data.attributes & sys::FILE_ATTRIBUTE_DIRECTORY) != 0;
}

uint32_t WithoutReadOnlyHidden(uint32_t attributes) {
    uint32_t kept = attributes & ~kReadOnlyHidden;
    return kept != 0 ? kept : sys::FILE_ATTRIBUTE_NORMAL;
}

void ClearReadOnlyHidden(std::u16string_view path) {
    uint32_t attributes = sys::GetFileAttributes(path);
    if (attributes != sys::INVALID_FILE_ATTRIBUTES) {
        sys::SetFileAttributes(path, WithoutReadOnlyHidden(attributes));
    }
}

char16_t Upper(char16_t c) {
    return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c;
}

std::u16string UpperCase(std::u16string_view text) {
    std::u16string out(text);
    for (char16_t& c : out) {
        c = Upper(c);
    }
    return out;
}

} // namespace

void CountFiles(std::u16string_view pattern, std::u16string_view dir, uint32_t& counter) {
    sys::FindData data;
    sys::FindHandle search = sys::FindFirstFile(Search(dir, pattern), data);
    if (!search) {
        return;
    }
    do {
        if (IsDirectory(data)) {
            if (data.fileName != u"." && data.fileName != u"..") {
                CountFiles(pattern, Child(dir, data.fileName), counter);
            }
        } else {
            ++counter;
        }
    } while (search.Next(data));
}

namespace {

bool IsExe(std::u16string_view name) {
    const std::u16string upper = UpperCase(name);
    return upper.size() >= 4 && std::u16string_view(upper).substr(upper.size() - 4) == u".EXE";
}

// The copy of one tree. Files are written by the batch's threads while the
// walk goes on, and named once they are on the disk, so that no target is
// ever seen torn; each counts as copied, under the mutex the progress display
// reads the counter under, as soon as it is written. The walk changes nothing
// for an entry (ends no program, clears no attribute, creates no folder)
// before the copies ahead of it are known to be written: after a failed one
// nothing more is touched.
struct TreeCopy {
    uint32_t& counter;
    sys::Mutex& copyMutex;
    sys::CopyBatch batch{[this](std::size_t) { CountOne(); }};
    /// The error of a copy refused when it was added, before it was queued.
    uint32_t refused = 0;

    TreeCopy(uint32_t& counter, sys::Mutex& copyMutex) : counter(counter), copyMutex(copyMutex) {}

    void CountOne() {
        const uint32_t wait = sys::WaitForSingleObject(copyMutex, sys::INFINITE);
        if (wait == sys::WAIT_OBJECT_0 || wait == sys::WAIT_ABANDONED) {
            ++counter;
            copyMutex.release();
        }
    }

    // The copy of one folder level. A destination folder that does not exist
    // is filled under a temporary name and renamed into place once its
    // contents are on the disk (the folders below it are then made inside it).
    bool Level(std::u16string_view pattern, std::u16string_view src, std::u16string_view dst,
               bool inMadeFolder) {
        // Inside a folder made under a temporary name nobody sees a new
        // folder, and the batch removes it again after a failure that came
        // before it: the copies ahead need not be waited for.
        if (inMadeFolder) {
            if (batch.Failed()) {
                return false;
            }
            // In a folder made here no target exists yet.
            const bool made = batch.MakeFolder(dst);
            return Entries(pattern, src, dst, made, inMadeFolder);
        }
        if (!batch.WaitWritten()) {
            return false;
        }
        if (const std::optional<std::u16string> made = batch.BeginFolder(dst)) {
            const bool copied = Entries(pattern, src, *made, true, true);
            batch.EndFolder();
            return copied;
        }
        const bool made = sys::CreateDirectory(dst);
        return Entries(pattern, src, dst, made, false);
    }

    // The entries of one folder level: files are added to the batch, folders
    // copied in turn. made: the folder was made here; inMadeFolder: it lies
    // in a folder made under a temporary name.
    bool Entries(std::u16string_view pattern, std::u16string_view src, std::u16string_view dst,
                 bool made, bool inMadeFolder) {
        sys::FindData data;
        sys::FindHandle search = sys::FindFirstFile(Search(src, pattern), data);
        if (!search) {
            return true;
        }
        // Both folders are resolved once; each file is then src + "\" + name
        // and dst + "\" + name, checked as those paths would be.
        sys::Directory from = sys::Directory::Open(src);
        sys::Directory to = sys::Directory::Open(dst);
        do {
            if (IsDirectory(data)) {
                if (data.fileName == u"." || data.fileName == u"..") {
                    continue;
                }
                if (!Level(pattern, Child(src, data.fileName), Child(dst, data.fileName),
                           inMadeFolder)) {
                    return false;
                }
                continue;
            }
            if (batch.Failed()) {
                return false;
            }
            if (IsExe(data.fileName)) {
                if (!batch.WaitWritten()) {
                    return false;
                }
                KillIfExe(data.fileName);
            }
            const uint32_t attributes =
                made ? sys::INVALID_FILE_ATTRIBUTES : to.GetFileAttributes(data.fileName);
            if (attributes != sys::INVALID_FILE_ATTRIBUTES && (attributes & kReadOnlyHidden)) {
                if (!batch.WaitWritten()) {
                    return false;
                }
                to.SetFileAttributes(data.fileName, WithoutReadOnlyHidden(attributes));
            }
            if (!batch.Add(from, data.fileName, to, data.fileName, false)) {
                refused = sys::GetLastError();
                return false;
            }
        } while (search.Next(data));
        return true;
    }

    // Waits for every copy to be named and on the disk; 1 when all were,
    // otherwise 0 with g_dwLastCopyError set to the first failure's error.
    int Finish(bool walked) {
        if (!batch.Finish()) {
            g_dwLastCopyError = sys::GetLastError();
            return 0;
        }
        if (refused != 0) {
            g_dwLastCopyError = refused;
            return 0;
        }
        return walked ? 1 : 0;
    }
};

} // namespace

int CopyTree(std::u16string_view pattern, std::u16string_view src, std::u16string_view dst,
             uint32_t& counter, sys::Mutex& copyMutex) {
    TreeCopy copy(counter, copyMutex);
    return copy.Finish(copy.Level(pattern, src, dst, false));
}

void DeleteTree(std::u16string_view path) {
    // A missing path reads as all bits set, the folder bit among them.
    if (sys::GetFileAttributes(path) & sys::FILE_ATTRIBUTE_DIRECTORY) {
        DeleteDirectoryTree(path);
    } else {
        DeleteOneFile(path);
    }
}

void DeleteDirectoryTree(std::u16string_view dir) {
    std::u16string path(dir);
    sys::FindData data;
    sys::FindHandle search = sys::FindFirstFile(Search(dir, u"\\*"), data);
    if (!search) {
        RemoveOneDir(dir);
        sys::TracePrintfW(u"dele null:%s\r\n", path.c_str());
        return;
    }
    do {
        if (data.fileName == u"." || data.fileName == u"..") {
            continue;
        }
        std::u16string child = Child(dir, data.fileName);
        if (IsDirectory(data) && !data.isLink) {
            DeleteDirectoryTree(child);
        } else {
            DeleteOneFile(child);
        }
    } while (search.Next(data));
    search.Close();
    RemoveOneDir(dir);
    sys::TracePrintfW(u"dele main:%s\r\n", path.c_str());
}

bool DeleteOneFile(std::u16string_view path) {
    ClearReadOnlyHidden(path);
    if (sys::DeleteFile(path)) {
        return true;
    }
    size_t slash = path.rfind(u'\\');
    std::u16string_view name = slash == std::u16string_view::npos ? path : path.substr(slash + 1);
    TerminateProcessByName(name);
    return sys::DeleteFile(path);
}

void RemoveOneDir(std::u16string_view dir) {
    if (sys::GetFileAttributes(dir) == sys::FILE_ATTRIBUTE_MOUNT_POINT) {
        std::u16string path(dir);
        sys::TracePrintfW(u"ignore dir:%s\r\n", path.c_str());
        return;
    }
    sys::RemoveDirectory(dir);
}

void KillIfExe(std::u16string_view name) {
    if (IsExe(name)) {
        std::u16string upper = UpperCase(name);
        sys::TracePrintfW(u"dest:%s\r\n", upper.c_str());
        TerminateProcessByName(upper);
    }
}

void TerminateProcessByName(std::u16string_view name) {
    std::u16string wanted = UpperCase(name);
    std::u16string given(name);
    std::optional<sys::ProcessSnapshot> snapshot = sys::ProcessSnapshot::Take();
    if (!snapshot) {
        return;
    }
    sys::ProcessEntry entry;
    for (bool more = snapshot->First(entry); more; more = snapshot->Next(entry)) {
        if (UpperCase(entry.exeFile) != wanted) {
            continue;
        }
        sys::Process process = sys::OpenProcess(sys::PROCESS_TERMINATE, false, entry.processId);
        if (process && process.Terminate(0) && process.Wait(2500)) {
            sys::TracePrintfW(u"terminate %s ok\r\n", given.c_str());
        }
        return;
    }
}

} // namespace recovery
