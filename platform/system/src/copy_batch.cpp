#include "directory_state.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace hh::sys {

using namespace fs_detail;

namespace {

// A file is copied in pieces of this size; on a disk each piece of a file of
// at least kStartWriting bytes has its writing started as soon as it is
// copied, smaller files are left to the flush, which writes all at once.
constexpr off_t kPiece = off_t{32} << 20;
constexpr off_t kStartWriting = off_t{1} << 20;
// Copies pending at once: added and not yet named. Their slots are made in
// blocks, as a batch grows.
constexpr std::size_t kSlots = 16384;
constexpr std::size_t kBlock = 512;
// Copies written unnamed hold a descriptor each until they are named: at most
// this many (fewer when the process may not open that many).
constexpr std::size_t kMostOpen = 4096;
// On a file system in memory copies are named in groups of this many.
constexpr std::size_t kNameFiles = 64;
constexpr unsigned kMostWorkers = 8;
// A new folder is made under a name of this prefix and a number, never
// longer than its own name, so that no path below it grows.
constexpr std::u16string_view kFolderPrefix = u".~";
constexpr std::size_t kShortestStaged = 3;

// Unnamed copies that may hold a descriptor at once. The soft limit on open
// files is raised towards the hard one, once per process, because the
// default of 1024 would hold back the writing.
std::size_t MostOpen() {
    static const std::size_t files = [] {
        rlimit limit{};
        if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) {
            return std::size_t{64};
        }
        const rlim_t wanted = std::min<rlim_t>(limit.rlim_max, 4 * kMostOpen);
        if (limit.rlim_cur < wanted) {
            rlimit raised = limit;
            raised.rlim_cur = wanted;
            if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) {
                limit = raised;
            }
        }
        return std::clamp<std::size_t>(limit.rlim_cur / 4, 16, kMostOpen);
    }();
    return files;
}

// Whether the file system of a folder keeps nothing over a power loss (it
// lives in memory): its copies need no flush before they are named.
bool KeepsNothing(int folder) {
    struct statfs fs {};
    return ::fstatfs(folder, &fs) == 0 && (fs.f_type == TMPFS_MAGIC || fs.f_type == RAMFS_MAGIC);
}

// A name for a folder being made: the prefix and a number in base 36, no
// longer than length characters.
std::u16string StagedName(uint64_t number, std::size_t length) {
    std::u16string digits;
    const std::size_t most = length - kFolderPrefix.size();
    do {
        const auto digit = static_cast<unsigned>(number % 36);
        digits += static_cast<char16_t>(digit < 10 ? u'0' + digit : u'a' + digit - 10);
        number /= 36;
    } while (number != 0 && digits.size() < most);
    return std::u16string(kFolderPrefix) + digits;
}

} // namespace

// The copies of a batch pass through three hands, in the order added: the
// caller adds them, the workers write them (several at once, each copy taken
// by the next free worker), and the flushing thread puts what is written on
// the disk and names it. Each copy has a sequence number; a copy's slot in a
// ring is reused once the copy is named. Every count below is guarded by
// `mutex`, and a slot belongs to one hand at a time: to the caller until it
// is added, to one worker until it is written, then to the flushing thread.
//
// A folder that does not exist yet is made under a temporary name beside its
// own, filled with copies written under their own names (nothing below it is
// seen meanwhile), and renamed into place, in turn, once what it holds is on
// the disk: for a tree of new folders that is one rename instead of naming
// each copy, and no copy holds a descriptor until it is named.
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
    struct Entry {
        /// A copy, or the renaming of a folder made under a temporary name
        /// (folder is then its parent, sourceHost the temporary name, leaf
        /// its own).
        bool isFolder = false;
        /// Written under its own name into a folder not named yet.
        bool ownName = false;
        PendingFile file;
        /// A copy written under its own name, until it is done with.
        Fd out;
        bool made = false;
        std::shared_ptr<const Source> source;
        std::shared_ptr<const Folder> folder;
        std::string sourceHost;
        std::string rel;
        std::string leaf;
        bool exists = false;
        bool failIfExists = false;
        Fd in;
        struct stat st {};
        /// The error code of a failed writing or naming, 0 when none.
        uint32_t error = 0;
        /// Written (or failed).
        bool done = false;

        Entry() = default;
        Entry(const Entry&) = delete;
        Entry& operator=(const Entry&) = delete;
        ~Entry() { Drop(); }

        CopyTarget Target() const {
            return {folder->root.get(), folder->folder.get(), rel, leaf, exists};
        }
        // Records the failure the calling thread has just set as its last error.
        void Failed() {
            const uint32_t code = GetLastError();
            error = code != 0 ? code : ERROR_GEN_FAILURE;
        }
        // Done with: a copy that was not named disappears.
        void Drop() {
            if (made && folder) {
                ::unlinkat(folder->folder.get(), leaf.c_str(), 0);
            }
            made = false;
        }
        // Empties the slot; kept: the copy stays under its name.
        void Reset(bool kept) {
            if (kept) {
                made = false;
            }
            Drop();
            isFolder = false;
            ownName = false;
            file = PendingFile();
            out.reset();
            source.reset();
            folder.reset();
            sourceHost.clear();
            rel.clear();
            leaf.clear();
            exists = false;
            failIfExists = false;
            in.reset();
            st = {};
            error = 0;
            done = false;
        }
    };

    explicit State(std::function<void(std::size_t)> onWritten)
        : written_(std::move(onWritten)), mostOpen(MostOpen()) {}

    ~State() {
        {
            std::lock_guard lock(mutex);
            stopping = true;
        }
        work.notify_all();
        flush.notify_all();
        for (std::thread& thread : threads) {
            thread.join();
        }
    }

    std::function<void(std::size_t)> written_;
    const std::size_t mostOpen;
    /// The ring of slots; a block is made by the caller before the first
    /// copy it holds is added, and lives as long as the batch.
    std::unique_ptr<Entry[]> blocks[kSlots / kBlock];

    std::mutex mutex;
    std::condition_variable work;     ///< workers wait for copies to write
    std::condition_variable flush;    ///< the flushing thread waits for written copies
    std::condition_variable progress; ///< the caller waits for writing and naming
    uint64_t added = 0;
    uint64_t claimed = 0;          ///< taken by a worker
    uint64_t written = 0;          ///< written, from the first; stops before a failed one
    std::size_t writtenCopies = 0; ///< of those, copies (not folders renamed)
    uint64_t named = 0;            ///< named (slots free again), from the first
    /// Copies taken and not yet named that hold a descriptor each.
    std::size_t open = 0;
    /// How many copies written and not yet flushed are on a file system that
    /// keeps its files.
    std::size_t unflushedOnDisk = 0;
    /// Copies being written; none are taken while a flush waits for them.
    std::size_t writing = 0;
    bool pausing = false;
    /// A copy failed in writing or naming: no more are taken.
    bool failed = false;
    /// The first copy that failed, once every copy before it is written.
    std::optional<uint64_t> stoppedAt;
    bool finishing = false;
    bool stopping = false;
    bool callerWaits = false;  ///< for a free slot, or for the end
    bool writtenWaits = false; ///< for the copies to be written
    bool flusherWaits = false;
    std::size_t idleWorkers = 0;
    std::vector<std::thread> threads;
    /// The last folders looked up, reused while the caller stays in them.
    std::shared_ptr<const Folder> lastFolder;
    std::shared_ptr<const Source> lastSource;
    /// One folder per file system that copies were named in since its last
    /// flush (a descriptor that syncfs accepts).
    std::vector<std::pair<dev_t, Fd>> unsynced;
    /// Only the thread that reports written copies, in order, one at a time.
    std::mutex reporting;
    std::size_t reported = 0;
    /// The folder being made under a temporary name, while the caller fills
    /// it: its path from the root, its parent, and both its names.
    std::string stagedRel;
    std::shared_ptr<const Folder> stagedParent;
    std::string stagedLeaf;
    std::string stagedFinal;
    /// A folder made whose renaming found no slot after a failure.
    bool stagedLeft = false;
    /// Folders made inside the folder being made (MakeFolder), with the
    /// number of copies added before each: removed after a failure that came
    /// before them.
    std::vector<std::pair<uint64_t, std::u16string>> madeInside;

    Entry& At(uint64_t sequence) const {
        const std::size_t slot = sequence % kSlots;
        return blocks[slot / kBlock][slot % kBlock];
    }

    // The slot for the next copy, its block made when needed. Called by the
    // caller alone, before the copy is added.
    Entry& Next() {
        std::unique_ptr<Entry[]>& block = blocks[added % kSlots / kBlock];
        if (!block) {
            block.reset(new Entry[kBlock]);
        }
        return At(added);
    }

    std::shared_ptr<const Folder> FolderOf(const Directory::State& dst) {
        if (lastFolder && lastFolder->id == dst.id) {
            return lastFolder;
        }
        Fd root(::fcntl(dst.root.get(), F_DUPFD_CLOEXEC, 0));
        Fd folder(::fcntl(dst.folder.get(), F_DUPFD_CLOEXEC, 0));
        struct stat st {};
        if (!root.valid() || !folder.valid() || ::fstat(folder.get(), &st) != 0) {
            return nullptr;
        }
        const bool keepsNothing = KeepsNothing(folder.get());
        lastFolder = std::make_shared<const Folder>(
            Folder{dst.id, st.st_dev, keepsNothing, std::move(root), std::move(folder)});
        return lastFolder;
    }

    std::shared_ptr<const Source> SourceOf(const Directory::State& src) {
        if (lastSource && lastSource->id == src.id) {
            return lastSource;
        }
        Fd root(::fcntl(src.root.get(), F_DUPFD_CLOEXEC, 0));
        Fd folder(::fcntl(src.folder.get(), F_DUPFD_CLOEXEC, 0));
        if (!root.valid() || !folder.valid()) {
            return nullptr;
        }
        lastSource = std::make_shared<const Source>(
            Source{src.id, std::move(root), std::move(folder), src.rel, src.isRoot});
        return lastSource;
    }

    bool InStagedFolder(const Directory::State& dst) const {
        return !stagedRel.empty() && (dst.rel == stagedRel || (dst.rel.size() > stagedRel.size() &&
                                                               dst.rel.starts_with(stagedRel) &&
                                                               dst.rel[stagedRel.size()] == '/'));
    }

    void Start() {
        if (!threads.empty()) {
            return;
        }
        const unsigned workers = std::clamp(std::thread::hardware_concurrency(), 2u, kMostWorkers);
        for (unsigned i = 0; i < workers; ++i) {
            threads.emplace_back([this] {
                ::pthread_setname_np(::pthread_self(), "copy-worker");
                Work();
            });
        }
        threads.emplace_back([this] {
            ::pthread_setname_np(::pthread_self(), "copy-flusher");
            Flush();
        });
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

    // The data, the permission bits, the attributes and the times, into the
    // copy opened as out. False with errno set.
    static bool WriteInto(Entry& entry, int out) {
        const off_t size = entry.st.st_size;
        const bool startWriting = size >= kStartWriting && !entry.folder->keepsNothing;
        for (off_t offset = 0; offset < size; offset += kPiece) {
            const off_t length = std::min(kPiece, size - offset);
            if (!CopyRange(entry.in.get(), out, offset, length)) {
                return false;
            }
            if (startWriting) {
                ::sync_file_range(out, offset, length, SYNC_FILE_RANGE_WRITE);
            }
        }
        return FinishCopy(entry.in.get(), entry.st, out);
    }

    // Writes one copy: unnamed, or under its own name in a folder not named
    // yet (closed then; the flush reaches it through its file system).
    static void Write(Entry& entry) {
        if (entry.isFolder) {
            return;
        }
        if (!OpenSource(entry)) {
            entry.Failed();
            return;
        }
        const int folder = entry.folder->folder.get();
        const mode_t mode = entry.st.st_mode & 0777;
        bool copied = false;
        if (entry.ownName) {
            entry.out =
                Fd(::openat(folder, entry.leaf.c_str(),
                            O_CREAT | O_EXCL | O_WRONLY | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC, mode));
            entry.made = entry.out.valid();
            copied = entry.made && WriteInto(entry, entry.out.get());
            entry.out.reset();
        } else {
            copied = entry.file.Open(folder, entry.leaf, mode) && WriteInto(entry, entry.file.fd());
        }
        if (!copied) {
            FailErrno();
            entry.Failed();
        }
        entry.in.reset();
    }

    // The copies that may be named: the written ones, up to the first that
    // failed.
    uint64_t Nameable() const { return stoppedAt ? std::min(written, *stoppedAt) : written; }

    // Whether the flushing thread has work: written copies to flush and name.
    // On a disk it waits until no more may be written before these are named
    // (all slots or descriptors taken) or all are written; in memory it names
    // them in groups.
    bool FlushDue() const {
        if (stopping) {
            return true;
        }
        const uint64_t ready = Nameable() - named;
        if (ready == 0) {
            return false;
        }
        // A caller that waits for the end does not hurry the flush: on a disk
        // one flush made before the last copies are written would only be
        // followed by another for them.
        if (stoppedAt || added - named >= kSlots || open >= mostOpen ||
            (finishing && written == added)) {
            return true;
        }
        return unflushedOnDisk == 0 && ready >= kNameFiles;
    }

    // Whether a worker may take the next copy: not while a flush waits, nor
    // while as many copies hold descriptors as may.
    bool MayTake() const {
        if (claimed >= added || failed || pausing) {
            return false;
        }
        const Entry& next = At(claimed);
        return next.isFolder || next.ownName || open < mostOpen;
    }

    // A worker: takes the next copy, writes it, and moves the count of
    // written copies on over the ones that are done. What it moved on is
    // reported after it took its next copy, so that it locks once per copy.
    void Work() {
        std::unique_lock lock(mutex);
        std::size_t report = 0;
        for (;;) {
            if (report != 0 && (stopping || !MayTake())) {
                lock.unlock();
                Report(std::exchange(report, 0));
                lock.lock();
            }
            ++idleWorkers;
            work.wait(lock, [this] { return stopping || MayTake(); });
            --idleWorkers;
            if (stopping) {
                return;
            }
            Entry& entry = At(claimed++);
            const bool holds = !entry.isFolder && !entry.ownName;
            open += holds ? 1 : 0;
            ++writing;
            lock.unlock();
            if (report != 0) {
                Report(std::exchange(report, 0));
            }
            Write(entry);
            lock.lock();
            if (--writing == 0 && pausing) {
                flush.notify_one();
            }
            entry.done = true;
            if (entry.error != 0) {
                failed = true;
            }
            const uint64_t before = written;
            while (written < claimed && At(written).done) {
                const Entry& next = At(written);
                if (next.error != 0) {
                    stoppedAt = written;
                    break;
                }
                unflushedOnDisk += next.isFolder || next.folder->keepsNothing ? 0 : 1;
                writtenCopies += next.isFolder ? 0 : 1;
                ++written;
            }
            if (written == before && !stoppedAt) {
                continue;
            }
            if (flusherWaits && FlushDue()) {
                flush.notify_one();
            }
            if (callerWaits || writtenWaits) {
                progress.notify_all();
            }
            if (written_ && written > before) {
                report = writtenCopies;
            }
        }
    }

    // Calls the caller's function for every copy written up to count, in
    // order, one call at a time.
    void Report(std::size_t count) {
        std::lock_guard lock(reporting);
        while (reported < count) {
            written_(++reported);
        }
    }

    // One flush of each file system that copies [from, to) are on and that
    // keeps its files over a power loss, so that their data and what leads
    // to it are on the disk. syncfs waits for all of it at once; an
    // fdatasync of each file costs a flush of the disk's cache per file,
    // which made many small files several times slower.
    bool FlushFileSystems(uint64_t from, uint64_t to) {
        std::vector<dev_t> flushed;
        for (uint64_t i = from; i < to; ++i) {
            const Folder& folder = *At(i).folder;
            if (folder.keepsNothing ||
                std::find(flushed.begin(), flushed.end(), folder.device) != flushed.end()) {
                continue;
            }
            // syncfs needs a descriptor that is not O_PATH.
            Fd fd(::openat(folder.folder.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            if (!fd.valid() || ::syncfs(fd.get()) != 0) {
                return FailErrno();
            }
            flushed.push_back(folder.device);
        }
        return true;
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
        unsynced.emplace_back(folder.device, Fd(::openat(folder.folder.get(), ".",
                                                         O_RDONLY | O_DIRECTORY | O_CLOEXEC)));
    }

    // Gives a written copy its name, or renames a folder made under a
    // temporary name into place. False with the last error set.
    static bool Name(Entry& entry) {
        if (entry.isFolder) {
            const int parent = entry.folder->folder.get();
            return ::renameat2(parent, entry.sourceHost.c_str(), parent, entry.leaf.c_str(),
                               RENAME_NOREPLACE) == 0 ||
                   FailErrno();
        }
        return entry.ownName || PublishCopy(entry.file, entry.Target(), entry.failIfExists);
    }

    // The flushing thread: flushes what is written and, when the flush
    // returns, names it in order while the workers write on. On a disk no
    // copy is begun while the flush runs: creating files while the journal
    // commits waits on the metadata blocks the commit writes, which stalled
    // the writing for longer than the flush saved.
    void Flush() {
        std::unique_lock lock(mutex);
        for (;;) {
            flusherWaits = true;
            flush.wait(lock, [this] { return FlushDue(); });
            flusherWaits = false;
            if (stopping) {
                return;
            }
            const bool onDisk = unflushedOnDisk > 0;
            if (onDisk) {
                pausing = true;
                flush.wait(lock, [this] { return writing == 0 || stopping; });
                if (stopping) {
                    return;
                }
            }
            const uint64_t from = named;
            const uint64_t to = Nameable();
            unflushedOnDisk = 0;
            lock.unlock();
            uint64_t done = from;
            uint32_t error = 0;
            if (!FlushFileSystems(from, to)) {
                error = GetLastError();
            }
            if (onDisk) {
                lock.lock();
                pausing = false;
                lock.unlock();
                work.notify_all();
            }
            std::size_t closed = 0;
            for (; error == 0 && done < to; ++done) {
                Entry& entry = At(done);
                if (!Name(entry)) {
                    error = GetLastError() != 0 ? GetLastError() : ERROR_GEN_FAILURE;
                    break;
                }
                Unsynced(*entry.folder);
                closed += !entry.isFolder && !entry.ownName ? 1 : 0;
                entry.Reset(true);
                // The slots named so far are free for the caller again.
                if ((done + 1 - from) % kNameFiles == 0 && done + 1 < to) {
                    lock.lock();
                    named = done + 1;
                    open -= std::exchange(closed, 0);
                    if (callerWaits) {
                        progress.notify_all();
                    }
                    lock.unlock();
                    work.notify_all();
                }
            }
            lock.lock();
            named = done;
            open -= closed;
            if (error != 0) {
                At(done).error = error;
                failed = true;
                stoppedAt = stoppedAt ? std::min(*stoppedAt, done) : done;
            }
            progress.notify_all();
            work.notify_all();
        }
    }

    // Whether every copy is named, or every one before the first that failed
    // with no worker still writing one after it.
    bool Settled() const {
        return stoppedAt ? named == *stoppedAt && writing == 0 : named == added;
    }

    // After a failure, once settled: the copies from the failed one on are
    // dropped, and the folder being made is renamed into place holding what
    // was copied into it before the failure. False with the last error set
    // when the renaming fails.
    bool CloseAfterFailure() {
        uint32_t error = 0;
        // The copies first, then the folders made after the failure, latest
        // first so that each is empty when it goes, and only then the folder
        // being made is renamed into place.
        for (uint64_t i = *stoppedAt; i < added; ++i) {
            if (!At(i).isFolder) {
                At(i).Reset(false);
            }
        }
        for (auto it = madeInside.rbegin(); it != madeInside.rend(); ++it) {
            if (it->first > *stoppedAt) {
                RemoveDirectory(it->second);
            }
        }
        madeInside.clear();
        for (uint64_t i = *stoppedAt; i < added; ++i) {
            Entry& entry = At(i);
            if (entry.isFolder && error == 0) {
                if (!Name(entry)) {
                    error = GetLastError();
                } else {
                    Unsynced(*entry.folder);
                }
            }
            entry.Reset(false);
        }
        if (stagedLeft && error == 0) {
            const int parent = stagedParent->folder.get();
            if (::renameat2(parent, stagedLeaf.c_str(), parent, stagedFinal.c_str(),
                            RENAME_NOREPLACE) != 0) {
                error = PathError(errno);
            } else {
                Unsynced(*stagedParent);
            }
        }
        return error == 0 || Fail(error);
    }
};

CopyBatch::CopyBatch(std::function<void(std::size_t written)> written)
    : state_(new State(std::move(written))) {}

CopyBatch::~CopyBatch() {
    delete state_;
}

// Waits for a free slot; false (with the failure's error) when the batch
// stopped at a failed copy meanwhile.
static bool FreeSlot(CopyBatch::State& s, std::unique_lock<std::mutex>& lock) {
    if (s.added - s.named >= kSlots) {
        s.callerWaits = true;
        s.flush.notify_one();
        s.progress.wait(lock, [&s] { return s.added - s.named < kSlots || s.stoppedAt; });
        s.callerWaits = false;
        if (s.stoppedAt && s.added - s.named >= kSlots) {
            return Fail(s.At(*s.stoppedAt).error);
        }
    }
    return true;
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
    if (!dst.FindEntryToWrite(target, host, exists, old)) {
        return Fail(PathError(errno));
    }
    const CopyTarget place{dst.root.get(), dst.folder.get(), dst.PathOf(host), host, exists};
    if (exists && !MayReplace(place, failIfExists)) {
        return false;
    }
    std::shared_ptr<const State::Source> source = s.SourceOf(src);
    std::shared_ptr<const State::Folder> folder = s.FolderOf(dst);
    if (!source || !folder) {
        return FailErrno();
    }
    const bool ownName = !exists && s.InStagedFolder(dst);
    std::unique_lock lock(s.mutex);
    if (!FreeSlot(s, lock)) {
        return false;
    }
    State::Entry& entry = s.Next();
    lock.unlock();
    entry.ownName = ownName;
    entry.source = std::move(source);
    entry.folder = std::move(folder);
    entry.sourceHost = std::move(sourceHost);
    entry.rel = place.rel;
    entry.leaf = host;
    entry.exists = exists;
    entry.failIfExists = failIfExists;
    lock.lock();
    ++s.added;
    s.Start();
    if (s.idleWorkers > 0) {
        s.work.notify_one();
    }
    lock.unlock();
    if (!exists) {
        dst.Remember(target, host);
    }
    return true;
}

std::optional<std::u16string> CopyBatch::BeginFolder(std::u16string_view path) {
    State& s = *state_;
    const std::size_t slash = path.rfind(u'\\');
    if (!s.stagedRel.empty() || slash == std::u16string_view::npos) {
        return std::nullopt;
    }
    const std::u16string parent(path.substr(0, slash));
    const std::u16string_view leaf = path.substr(slash + 1);
    Directory folder = Directory::Open(parent.empty() ? u"\\" : std::u16string_view(parent));
    std::string finalHost;
    if (leaf.size() < kShortestStaged || !folder.state_ || !folder.state_->Usable() ||
        !folder.state_->CheckName(leaf, finalHost) ||
        folder.GetFileAttributes(leaf) != INVALID_FILE_ATTRIBUTES ||
        GetLastError() != ERROR_FILE_NOT_FOUND) {
        return std::nullopt;
    }
    static std::atomic<uint64_t> counter{static_cast<uint64_t>(::getpid()) * 7919};
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::u16string name = StagedName(counter++, leaf.size());
        const std::u16string staged = parent + u"\\" + name;
        if (!CreateDirectory(staged)) {
            if (GetLastError() == ERROR_ALREADY_EXISTS) {
                continue;
            }
            return std::nullopt;
        }
        Directory made = Directory::Open(staged);
        std::shared_ptr<const State::Folder> parentFolder = s.FolderOf(*folder.state_);
        std::string stagedHost;
        if (!made.state_ || !made.state_->Usable() || !parentFolder ||
            !folder.state_->CheckName(name, stagedHost)) {
            RemoveDirectory(staged);
            return std::nullopt;
        }
        s.stagedRel = made.state_->rel;
        s.stagedParent = std::move(parentFolder);
        s.stagedLeaf = std::move(stagedHost);
        s.stagedFinal = std::move(finalHost);
        return staged;
    }
    return std::nullopt;
}

bool CopyBatch::MakeFolder(std::u16string_view path) {
    State& s = *state_;
    if (!CreateDirectory(path)) {
        return false;
    }
    std::lock_guard lock(s.mutex);
    s.madeInside.emplace_back(s.added, std::u16string(path));
    return true;
}

void CopyBatch::EndFolder() {
    State& s = *state_;
    if (s.stagedRel.empty()) {
        return;
    }
    s.stagedRel.clear();
    std::unique_lock lock(s.mutex);
    // After a failure the folder is renamed once the batch has stopped.
    if (!FreeSlot(s, lock)) {
        s.stagedLeft = true;
        return;
    }
    State::Entry& entry = s.Next();
    lock.unlock();
    entry.isFolder = true;
    entry.folder = std::move(s.stagedParent);
    entry.sourceHost = std::move(s.stagedLeaf);
    entry.leaf = std::move(s.stagedFinal);
    lock.lock();
    ++s.added;
    s.Start();
    if (s.idleWorkers > 0) {
        s.work.notify_one();
    }
}

bool CopyBatch::WaitWritten() {
    State& s = *state_;
    std::unique_lock lock(s.mutex);
    s.writtenWaits = true;
    s.progress.wait(lock, [&s] { return s.written == s.added || s.stoppedAt; });
    s.writtenWaits = false;
    if (s.stoppedAt) {
        SetLastError(s.At(*s.stoppedAt).error);
        return false;
    }
    return true;
}

bool CopyBatch::Failed() {
    std::lock_guard lock(state_->mutex);
    return state_->failed;
}

bool CopyBatch::Finish() {
    State& s = *state_;
    std::unique_lock lock(s.mutex);
    s.finishing = true;
    s.callerWaits = true;
    s.flush.notify_one();
    s.progress.wait(lock, [&s] { return s.Settled(); });
    s.callerWaits = false;
    const std::size_t written = s.writtenCopies;
    std::optional<uint32_t> error =
        s.stoppedAt ? std::optional<uint32_t>(s.At(*s.stoppedAt).error) : std::nullopt;
    lock.unlock();
    if (error && !s.CloseAfterFailure()) {
        error = GetLastError();
    }
    lock.lock();
    std::vector<std::pair<dev_t, Fd>> unsynced = std::move(s.unsynced);
    lock.unlock();
    // Every copy written is reported before the caller goes on.
    if (s.written_) {
        s.Report(written);
    }
    // What was named reaches the disk before the caller goes on: also after a
    // failure.
    bool synced = true;
    for (const auto& [device, fd] : unsynced) {
        synced = synced && fd.valid() && ::syncfs(fd.get()) == 0;
    }
    if (error) {
        SetLastError(*error);
        return false;
    }
    return synced || FailErrno();
}

} // namespace hh::sys
