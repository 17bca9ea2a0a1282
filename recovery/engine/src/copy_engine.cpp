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

void ClearReadOnlyHidden(sys::Directory& dir, std::u16string_view name) {
    uint32_t attributes = dir.GetFileAttributes(name);
    if (attributes != sys::INVALID_FILE_ATTRIBUTES) {
        dir.SetFileAttributes(name, WithoutReadOnlyHidden(attributes));
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

// The copy of one tree: a batch of copies, and the counting of the written
// ones into the caller's counter, each under the mutex that the progress
// display reads it under.
struct TreeCopy {
    sys::CopyBatch batch;
    uint32_t& counter;
    sys::Mutex& copyMutex;
    std::size_t counted = 0;

    void Count() {
        for (const std::size_t written = batch.Written(); counted < written; ++counted) {
            uint32_t wait = sys::WaitForSingleObject(copyMutex, sys::INFINITE);
            if (wait == sys::WAIT_OBJECT_0 || wait == sys::WAIT_ABANDONED) {
                ++counter;
                copyMutex.release();
            }
        }
    }

    // Names what is pending; false with g_dwLastCopyError set when a copy
    // could not be written or named.
    bool Commit() {
        const std::size_t pending = batch.Pending();
        const std::size_t named = batch.Commit();
        const uint32_t error = sys::GetLastError();
        Count();
        if (named < pending) {
            g_dwLastCopyError = error;
            return false;
        }
        return true;
    }

    // The copy of one folder level. Files are written unnamed by the batch
    // and named when it commits, so that no target is ever seen torn; a file
    // counts as copied once it is written.
    bool Level(std::u16string_view pattern, std::u16string_view src, std::u16string_view dst) {
        sys::CreateDirectory(dst);
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
                if (!Level(pattern, Child(src, data.fileName), Child(dst, data.fileName))) {
                    return false;
                }
                continue;
            }
            KillIfExe(data.fileName);
            ClearReadOnlyHidden(to, data.fileName);
            if (!batch.Add(from, data.fileName, to, data.fileName, false)) {
                const uint32_t error = sys::GetLastError();
                // The files before this one are copied; the rest are not.
                if (Commit()) {
                    g_dwLastCopyError = error;
                }
                return false;
            }
            Count();
            if ((batch.Full() || batch.Failed()) && !Commit()) {
                return false;
            }
        } while (search.Next(data));
        return true;
    }
};

} // namespace

int CopyTree(std::u16string_view pattern, std::u16string_view src, std::u16string_view dst,
             uint32_t& counter, sys::Mutex& copyMutex) {
    TreeCopy copy{{}, counter, copyMutex};
    const bool copied = copy.Level(pattern, src, dst) && copy.Commit();
    // What was named reaches the disk before the caller goes on (and, in a
    // recovery, deletes the user data): also after a failure.
    if (!copy.batch.Sync() && copied) {
        g_dwLastCopyError = sys::GetLastError();
        return 0;
    }
    return copied ? 1 : 0;
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
    std::u16string upper = UpperCase(name);
    if (upper.size() >= 4 && std::u16string_view(upper).substr(upper.size() - 4) == u".EXE") {
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
