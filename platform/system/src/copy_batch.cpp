#include "copy_workers.h"
#include "directory_state.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace hh::sys {

using namespace fs_detail;

namespace {

// A file of at least two pieces is written piece by piece, each piece's
// writing to the disk started as soon as it is copied.
constexpr off_t kPiece = off_t{32} << 20;
// A batch commits after this many bytes, or this many files (fewer when the
// process may not open that many: each pending copy holds a descriptor).
constexpr uint64_t kBatchBytes = uint64_t{256} << 20;
constexpr std::size_t kMostBatchFiles = 4096;
// Copies go to the workers in groups of this many, so that handing them over
// costs little beside their copying.
constexpr std::size_t kGroupFiles = 64;

// Files per batch. The soft limit on open files is raised towards the hard
// one, once per process, because the default of 1024 would make batches
// small and their flushes many.
std::size_t BatchFiles() {
    static const std::size_t files = [] {
        rlimit limit{};
        if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) {
            return std::size_t{64};
        }
        const rlim_t wanted = std::min<rlim_t>(limit.rlim_max, 4 * kMostBatchFiles);
        if (limit.rlim_cur < wanted) {
            rlimit raised = limit;
            raised.rlim_cur = wanted;
            if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) {
                limit = raised;
            }
        }
        return std::clamp<std::size_t>(limit.rlim_cur / 4, 16, kMostBatchFiles);
    }();
    return files;
}

// Whether the file system of a folder keeps nothing over a power loss (it
// lives in memory): its copies need no flush before they are named.
bool KeepsNothing(int folder) {
    struct statfs fs {};
    return ::fstatfs(folder, &fs) == 0 && (fs.f_type == TMPFS_MAGIC || fs.f_type == RAMFS_MAGIC);
}

} // namespace

struct CopyBatch::State {
    /// A destination folder, kept open while copies for it are pending.
    struct Folder {
        uint64_t id;
        dev_t device;
        bool keepsNothing;
        Fd root;
        Fd folder;
    };
    /// A source folder, kept open while copies from it are pending.
    struct Source {
        uint64_t id;
        Fd root;
        Fd folder;
        std::string rel;
        bool isRoot;
    };
    /// One copy. The caller's thread fills it before the workers see it;
    /// the workers then open its source, write it and set `done` (release).
    struct Entry {
        PendingFile file;
        const Source* source = nullptr;
        std::string sourceHost;
        Fd in;
        struct stat st {};
        std::size_t folder = 0;
        uint64_t folderId = 0;
        int folderFd = -1;
        int rootFd = -1;
        bool keepsNothing = false;
        std::string rel;
        std::string leaf;
        bool exists = false;
        bool failIfExists = false;
        /// The error code of a failed writing or naming, 0 when none.
        std::atomic<uint32_t> error{0};
        /// Written (or failed), its source closed.
        std::atomic<bool> done{false};

        // Records the failure the calling thread has just set as its last
        // error, unless an earlier one was recorded.
        void Failed() {
            uint32_t none = 0;
            const uint32_t code = GetLastError();
            error.compare_exchange_strong(none, code != 0 ? code : ERROR_GEN_FAILURE);
        }
        CopyTarget Target() const { return {rootFd, folderFd, rel, leaf, exists}; }
    };

    std::vector<Folder> folders;
    /// A deque, so that the workers' pointers stay valid as sources are added.
    std::deque<Source> sources;
    /// The batch's copies, in the order added: a fixed array, so that the
    /// workers may read entries while the caller's thread adds more. Only
    /// the caller's thread changes `count`.
    std::unique_ptr<Entry[]> entries{new Entry[BatchFiles()]};
    std::atomic<std::size_t> count{0};
    /// Entries, from the first, that have their names; the workers name
    /// copies that need no flush under the mutex, the commit the others.
    std::mutex namingMutex;
    std::size_t named = 0;
    std::atomic<bool> namingFailed{false};
    /// The folder of the copy added last: the caller is looking up names in
    /// it, which a link made there meanwhile would hold up, so the workers
    /// leave its copies to be named later.
    std::atomic<uint64_t> filling{0};
    /// Bytes of the sources opened so far, added up by the workers.
    std::atomic<uint64_t> bytes{0};
    /// Entries of this batch, from the first, known to be written.
    std::size_t scanned = 0;
    /// Copies written since the batch was made, from the first; a failed one
    /// ends the count.
    std::size_t written = 0;
    bool failed = false;
    /// One folder per file system with names given since the last Sync (a
    /// descriptor that syncfs accepts).
    std::vector<std::pair<dev_t, Fd>> unsynced;
    /// Small copies not yet handed to the workers.
    std::vector<Entry*> group;
    /// Last, so that its threads end before the entries they write go.
    std::unique_ptr<CopyWorkers> workers;

    // The index of the folder of a Directory, opened again for the batch.
    std::optional<std::size_t> FolderOf(const Directory::State& dst) {
        for (std::size_t i = folders.size(); i-- > 0;) {
            if (folders[i].id == dst.id) {
                return i;
            }
        }
        Fd root(::fcntl(dst.root.get(), F_DUPFD_CLOEXEC, 0));
        Fd folder(::fcntl(dst.folder.get(), F_DUPFD_CLOEXEC, 0));
        struct stat st {};
        if (!root.valid() || !folder.valid() || ::fstat(folder.get(), &st) != 0) {
            return std::nullopt;
        }
        const bool keepsNothing = KeepsNothing(folder.get());
        folders.push_back({dst.id, st.st_dev, keepsNothing, std::move(root), std::move(folder)});
        return folders.size() - 1;
    }

    const Source* SourceOf(const Directory::State& src) {
        for (auto it = sources.rbegin(); it != sources.rend(); ++it) {
            if (it->id == src.id) {
                return &*it;
            }
        }
        Fd root(::fcntl(src.root.get(), F_DUPFD_CLOEXEC, 0));
        Fd folder(::fcntl(src.folder.get(), F_DUPFD_CLOEXEC, 0));
        if (!root.valid() || !folder.valid()) {
            return nullptr;
        }
        return &sources.emplace_back(
            Source{src.id, std::move(root), std::move(folder), src.rel, src.isRoot});
    }

    void Unsynced(const Folder& folder) {
        if (folder.keepsNothing) {
            return;
        }
        for (const auto& [device, fd] : unsynced) {
            if (device == folder.device) {
                return;
            }
        }
        // syncfs needs a descriptor that is not O_PATH.
        unsynced.emplace_back(folder.device, Fd(::openat(folder.folder.get(), ".",
                                                         O_RDONLY | O_DIRECTORY | O_CLOEXEC)));
    }

    // Moves the count of written copies on over the entries that are done.
    void Scan() {
        while (!failed && scanned < count.load(std::memory_order_relaxed) &&
               entries[scanned].done.load(std::memory_order_acquire)) {
            if (entries[scanned].error.load() != 0) {
                failed = true;
                break;
            }
            ++scanned;
            ++written;
        }
    }

    // Names, in order, the written copies that need no flush, up to the
    // first that is not written yet, needs a flush or belongs to the folder
    // being filled. Run by the workers; one that finds another naming leaves
    // the rest to it or to the commit.
    void NameUnflushed() {
        std::unique_lock lock(namingMutex, std::try_to_lock);
        if (!lock.owns_lock()) {
            return;
        }
        const std::size_t added = count.load(std::memory_order_acquire);
        while (named < added) {
            Entry& entry = entries[named];
            if (!entry.done.load(std::memory_order_acquire) || !entry.keepsNothing ||
                entry.error.load() != 0 || entry.folderId == filling.load()) {
                return;
            }
            if (!PublishCopy(entry.file, entry.Target(), entry.failIfExists)) {
                entry.Failed();
                namingFailed = true;
                return;
            }
            ++named;
        }
    }

    // Opens the source as the folder handle would: as written, or in
    // another case. False with the last error set.
    static bool OpenSource(Entry& entry) {
        const Source& source = *entry.source;
        constexpr int kFlags = O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC;
        entry.in = Fd(OpenNameIn(source.root.get(), source.folder.get(), source.rel,
                                 entry.sourceHost, kFlags));
        if (!entry.in.valid() && errno == ENOENT) {
            const std::optional<std::string> other =
                FirstIgnoringCase(source.folder.get(), FromUtf8(entry.sourceHost), source.isRoot);
            if (!other) {
                return FailErrno();
            }
            if (other->empty() || *other == entry.sourceHost) {
                errno = ENOENT;
                return FailErrno();
            }
            entry.sourceHost = *other;
            entry.in = Fd(OpenNameIn(source.root.get(), source.folder.get(), source.rel,
                                     entry.sourceHost, kFlags));
        }
        if (!entry.in.valid() || ::fstat(entry.in.get(), &entry.st) != 0) {
            return FailErrno();
        }
        return S_ISREG(entry.st.st_mode) || Fail(ERROR_ACCESS_DENIED);
    }

    // A large file, piece by piece: the disk writes each piece while the
    // next is copied.
    bool WriteInPieces(Entry& entry) {
        const off_t size = entry.st.st_size;
        if (!entry.file.Open(entry.folderFd, entry.leaf, entry.st.st_mode & 0777)) {
            return false;
        }
        for (off_t offset = 0; offset < size; offset += kPiece) {
            const off_t length = std::min(kPiece, size - offset);
            if (!CopyRange(entry.in.get(), entry.file.fd(), offset, length)) {
                return false;
            }
            if (!entry.keepsNothing) {
                entry.file.StartFlush(offset, length);
            }
        }
        return FinishCopy(entry.in.get(), entry.st, entry.file);
    }

    void Write(Entry& entry) {
        if (!OpenSource(entry)) {
            entry.Failed();
        } else {
            bytes += static_cast<uint64_t>(entry.st.st_size);
            const bool copied =
                entry.st.st_size >= 2 * kPiece
                    ? WriteInPieces(entry)
                    : WriteCopy(entry.in.get(), entry.st, entry.folderFd, entry.leaf, entry.file);
            // A small copy's writing to the disk is left to the batch's
            // flush, which writes all of them at once.
            if (!copied) {
                FailErrno();
                entry.Failed();
            }
        }
        entry.in.reset();
        entry.done.store(true, std::memory_order_release);
    }

    CopyWorkers& Workers() {
        if (!workers) {
            workers = std::make_unique<CopyWorkers>();
        }
        return *workers;
    }

    void SubmitGroup() {
        if (group.empty()) {
            return;
        }
        Workers().Run([this, files = std::move(group)] {
            for (Entry* entry : files) {
                Write(*entry);
            }
            NameUnflushed();
        });
        group.clear();
    }

    // Has the copy written by the workers, with others in a group.
    void Queue(Entry& entry) {
        group.push_back(&entry);
        if (group.size() >= kGroupFiles) {
            SubmitGroup();
        }
    }

    // One flush of each file system that entries [from, to) are on and that
    // keeps its files over a power loss, so that their data and what leads
    // to it are on the disk. syncfs waits for all of it at once; an
    // fdatasync of each file costs a flush of the disk's cache per file,
    // which made many small files several times slower.
    bool FlushFileSystems(std::size_t from, std::size_t to) {
        std::vector<dev_t> flushed;
        for (std::size_t i = from; i < to; ++i) {
            const Folder& folder = folders[entries[i].folder];
            if (folder.keepsNothing ||
                std::find(flushed.begin(), flushed.end(), folder.device) != flushed.end()) {
                continue;
            }
            if (::syncfs(entries[i].file.fd()) != 0) {
                return FailErrno();
            }
            flushed.push_back(folder.device);
        }
        return true;
    }
};

CopyBatch::CopyBatch() : state_(new State) {}

CopyBatch::~CopyBatch() {
    delete state_;
}

std::size_t CopyBatch::Pending() const {
    return state_->count.load(std::memory_order_relaxed);
}

bool CopyBatch::Full() const {
    return Pending() >= BatchFiles() || state_->bytes >= kBatchBytes;
}

std::size_t CopyBatch::Written() {
    state_->Scan();
    return state_->written;
}

bool CopyBatch::Failed() {
    state_->Scan();
    return state_->failed || state_->namingFailed;
}

bool CopyBatch::Add(Directory& from, std::u16string_view existing, Directory& to,
                    std::u16string_view target, bool failIfExists) {
    if (!from.state_ || !to.state_) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    State& s = *state_;
    Directory::State& src = *from.state_;
    Directory::State& dst = *to.state_;
    std::string sourceHost;
    std::string host;
    bool exists = false;
    struct stat old {};
    if (!src.Usable() || !src.CheckName(existing, sourceHost) || !dst.Usable() ||
        !dst.CheckName(target, host)) {
        return false;
    }
    if (!dst.FindEntry(target, host, exists, old)) {
        return Fail(PathError(errno));
    }
    const CopyTarget place{dst.root.get(), dst.folder.get(), dst.PathOf(host), host, exists};
    if (exists && !MayReplace(place, failIfExists)) {
        return false;
    }
    const State::Source* source = s.SourceOf(src);
    const std::optional<std::size_t> index = s.FolderOf(dst);
    if (!source || !index) {
        return FailErrno();
    }
    const State::Folder& folder = s.folders[*index];
    State::Entry& entry = s.entries[s.count.load(std::memory_order_relaxed)];
    entry.source = source;
    entry.sourceHost = std::move(sourceHost);
    entry.folder = *index;
    entry.folderId = folder.id;
    entry.folderFd = folder.folder.get();
    entry.rootFd = folder.root.get();
    entry.keepsNothing = folder.keepsNothing;
    entry.rel = place.rel;
    entry.leaf = host;
    entry.exists = exists;
    entry.failIfExists = failIfExists;
    s.filling = folder.id;
    s.count.fetch_add(1, std::memory_order_release);
    s.Queue(entry);
    if (!exists) {
        dst.Remember(target, host);
    }
    return true;
}

std::size_t CopyBatch::Commit() {
    State& s = *state_;
    s.SubmitGroup();
    if (s.workers) {
        s.workers->Wait();
    }
    s.Scan();
    // The workers are idle: what is left to name is named here, in order,
    // after the flush that puts its data on the disk.
    const std::size_t added = s.count.load(std::memory_order_relaxed);
    std::size_t end = s.named;
    while (end < added && s.entries[end].error.load() == 0) {
        ++end;
    }
    bool ok = s.FlushFileSystems(s.named, end);
    while (ok && s.named < end) {
        State::Entry& entry = s.entries[s.named];
        ok = PublishCopy(entry.file, entry.Target(), entry.failIfExists);
        s.named += ok ? 1 : 0;
    }
    if (ok && end < added) {
        SetLastError(s.entries[end].error.load());
    }
    for (std::size_t i = 0; i < s.named; ++i) {
        s.Unsynced(s.folders[s.entries[i].folder]);
    }
    const std::size_t named = s.named;
    s.failed = s.failed || s.namingFailed || named < added;
    s.entries.reset(new State::Entry[BatchFiles()]);
    s.count = 0;
    s.folders.clear();
    s.sources.clear();
    s.named = 0;
    s.namingFailed = false;
    s.scanned = 0;
    s.bytes = 0;
    return named;
}

bool CopyBatch::Sync() {
    bool synced = true;
    for (const auto& [device, fd] : state_->unsynced) {
        synced = synced && fd.valid() && ::syncfs(fd.get()) == 0;
    }
    state_->unsynced.clear();
    return synced || FailErrno();
}

} // namespace hh::sys
