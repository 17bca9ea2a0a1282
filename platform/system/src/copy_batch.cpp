#include "directory_state.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
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

// A file of at least two pieces is written piece by piece, each piece's
// writing to the disk started as soon as it is copied.
constexpr off_t kPiece = off_t{32} << 20;
// The most copies pending at once, written or not yet named (fewer when the
// process may not open that many: each holds a descriptor, and its folders
// up to two each).
constexpr std::size_t kMostPending = 4096;
// What the flushing thread waits for before it flushes: this many written
// copies, or this many bytes, unless the walk has ended or waits for it.
constexpr std::size_t kFlushFiles = 1024;
constexpr uint64_t kFlushBytes = uint64_t{64} << 20;
// On a file system in memory copies are named in groups of this many.
constexpr std::size_t kNameFiles = 64;
constexpr unsigned kMostWorkers = 8;

// Copies pending at once. The soft limit on open files is raised towards the
// hard one, once per process, because the default of 1024 would hold back
// the writing while the flushing thread waits for the disk.
std::size_t MostPending() {
    static const std::size_t files = [] {
        rlimit limit{};
        if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) {
            return std::size_t{64};
        }
        const rlim_t wanted = std::min<rlim_t>(limit.rlim_max, 4 * 16384);
        if (limit.rlim_cur < wanted) {
            rlimit raised = limit;
            raised.rlim_cur = wanted;
            if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) {
                limit = raised;
            }
        }
        return std::clamp<std::size_t>(limit.rlim_cur / 4, 16, kMostPending);
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

// The copies of a batch pass through three hands, in the order added: the
// caller adds them, the workers write them (several at once, each copy taken
// by the next free worker), and the flushing thread puts what is written on
// the disk and names it. Each copy has a sequence number; a copy's slot in a
// ring is reused once the copy is named. Every count below is guarded by
// `mutex`, and a slot belongs to one hand at a time: to the caller until it
// is added, to one worker until it is written, then to the flushing thread.
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
        PendingFile file;
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

        CopyTarget Target() const {
            return {folder->root.get(), folder->folder.get(), rel, leaf, exists};
        }
        // Records the failure the calling thread has just set as its last error.
        void Failed() {
            const uint32_t code = GetLastError();
            error = code != 0 ? code : ERROR_GEN_FAILURE;
        }
    };

    explicit State(std::function<void(std::size_t)> onWritten)
        : written_(std::move(onWritten)), capacity(MostPending()), ring(new Entry[capacity]) {}

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
    const std::size_t capacity;
    std::unique_ptr<Entry[]> ring;

    std::mutex mutex;
    std::condition_variable work;     ///< workers wait for copies to write
    std::condition_variable flush;    ///< the flushing thread waits for written copies
    std::condition_variable progress; ///< the caller waits for writing and naming
    uint64_t added = 0;
    uint64_t claimed = 0; ///< taken by a worker
    uint64_t written = 0; ///< written, from the first; stops before a failed one
    uint64_t named = 0;   ///< named (slots free again), from the first
    /// Bytes of the copies written and not yet flushed, and how many of
    /// those copies are on a file system that keeps its files.
    uint64_t unflushedBytes = 0;
    std::size_t unflushedOnDisk = 0;
    /// A copy failed in writing or naming: no more are taken.
    bool failed = false;
    /// The first copy that failed, once every copy before it is written.
    std::optional<uint64_t> stoppedAt;
    bool finishing = false;
    bool stopping = false;
    bool callerWaits = false;  ///< for a free slot
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

    // A large file, piece by piece: the disk writes each piece while the
    // next is copied.
    static bool WriteInPieces(Entry& entry) {
        const off_t size = entry.st.st_size;
        const int folder = entry.folder->folder.get();
        if (!entry.file.Open(folder, entry.leaf, entry.st.st_mode & 0777)) {
            return false;
        }
        for (off_t offset = 0; offset < size; offset += kPiece) {
            const off_t length = std::min(kPiece, size - offset);
            if (!CopyRange(entry.in.get(), entry.file.fd(), offset, length)) {
                return false;
            }
            if (!entry.folder->keepsNothing) {
                entry.file.StartFlush(offset, length);
            }
        }
        return FinishCopy(entry.in.get(), entry.st, entry.file);
    }

    // Writes one copy unnamed. A small copy's writing to the disk is left to
    // the next flush, which writes all of them at once.
    static void Write(Entry& entry) {
        if (!OpenSource(entry)) {
            entry.Failed();
        } else {
            const bool copied = entry.st.st_size >= 2 * kPiece
                                    ? WriteInPieces(entry)
                                    : WriteCopy(entry.in.get(), entry.st,
                                                entry.folder->folder.get(), entry.leaf, entry.file);
            if (!copied) {
                FailErrno();
                entry.Failed();
            }
        }
        entry.in.reset();
    }

    // The copies that may be named: the written ones, up to the first that
    // failed.
    uint64_t Nameable() const { return stoppedAt ? std::min(written, *stoppedAt) : written; }

    // Whether the flushing thread has work: written copies to flush and name.
    bool FlushDue() const {
        if (stopping) {
            return true;
        }
        const uint64_t ready = Nameable() - named;
        if (ready == 0) {
            return false;
        }
        if (finishing || stoppedAt || callerWaits || added - named >= capacity) {
            return true;
        }
        return ready >= (unflushedOnDisk == 0 ? kNameFiles : kFlushFiles) ||
               unflushedBytes >= kFlushBytes;
    }

    Entry& At(uint64_t sequence) const { return ring[sequence % capacity]; }

    // A worker: takes the next copy, writes it, and moves the count of
    // written copies on over the ones that are done.
    void Work() {
        std::unique_lock lock(mutex);
        for (;;) {
            ++idleWorkers;
            work.wait(lock, [this] { return stopping || (claimed < added && !failed); });
            --idleWorkers;
            if (stopping) {
                return;
            }
            Entry& entry = At(claimed++);
            lock.unlock();
            Write(entry);
            lock.lock();
            entry.done = true;
            if (entry.error != 0) {
                failed = true;
            }
            const uint64_t before = written;
            while (written < claimed && At(written).done) {
                if (At(written).error != 0) {
                    stoppedAt = written;
                    break;
                }
                unflushedBytes += static_cast<uint64_t>(At(written).st.st_size);
                unflushedOnDisk += At(written).folder->keepsNothing ? 0 : 1;
                ++written;
            }
            if (written == before && !stoppedAt) {
                continue;
            }
            const uint64_t now = written;
            if (flusherWaits && FlushDue()) {
                flush.notify_one();
            }
            if (callerWaits || writtenWaits) {
                progress.notify_all();
            }
            if (written_ && now > before) {
                lock.unlock();
                Report(now);
                lock.lock();
            }
        }
    }

    // Calls the caller's function for every copy written up to count, in
    // order, one call at a time.
    void Report(uint64_t count) {
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
            const Entry& entry = At(i);
            const Folder& folder = *entry.folder;
            if (folder.keepsNothing ||
                std::find(flushed.begin(), flushed.end(), folder.device) != flushed.end()) {
                continue;
            }
            if (::syncfs(entry.file.fd()) != 0) {
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
        // syncfs needs a descriptor that is not O_PATH.
        unsynced.emplace_back(folder.device, Fd(::openat(folder.folder.get(), ".",
                                                         O_RDONLY | O_DIRECTORY | O_CLOEXEC)));
    }

    // The flushing thread: flushes what is written (the workers write on
    // meanwhile) and, when the flush returns, names it in order.
    void Flush() {
        std::unique_lock lock(mutex);
        for (;;) {
            flusherWaits = true;
            flush.wait(lock, [this] { return FlushDue(); });
            flusherWaits = false;
            if (stopping) {
                return;
            }
            const uint64_t from = named;
            const uint64_t to = Nameable();
            unflushedBytes = 0;
            unflushedOnDisk = 0;
            lock.unlock();
            uint64_t done = from;
            uint32_t error = 0;
            if (!FlushFileSystems(from, to)) {
                error = GetLastError();
            }
            for (; error == 0 && done < to; ++done) {
                Entry& entry = At(done);
                if (!PublishCopy(entry.file, entry.Target(), entry.failIfExists)) {
                    error = GetLastError() != 0 ? GetLastError() : ERROR_GEN_FAILURE;
                    break;
                }
                Unsynced(*entry.folder);
                entry = Entry();
            }
            lock.lock();
            named = done;
            if (error != 0) {
                At(done).error = error;
                failed = true;
                stoppedAt = stoppedAt ? std::min(*stoppedAt, done) : done;
            }
            progress.notify_all();
        }
    }

    // Whether every copy is named, or every one before the first that failed.
    bool Settled() const { return stoppedAt ? named == *stoppedAt : named == added; }
};

CopyBatch::CopyBatch(std::function<void(std::size_t written)> written)
    : state_(new State(std::move(written))) {}

CopyBatch::~CopyBatch() {
    delete state_;
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
    std::shared_ptr<const State::Source> source = s.SourceOf(src);
    std::shared_ptr<const State::Folder> folder = s.FolderOf(dst);
    if (!source || !folder) {
        return FailErrno();
    }
    std::unique_lock lock(s.mutex);
    // A slot is free once the copy that held it is named; after a failure
    // nothing more is named.
    if (s.added - s.named >= s.capacity) {
        s.callerWaits = true;
        s.flush.notify_one();
        s.progress.wait(lock, [&s] { return s.added - s.named < s.capacity || s.stoppedAt; });
        s.callerWaits = false;
        if (s.stoppedAt) {
            return Fail(s.At(*s.stoppedAt).error);
        }
    }
    State::Entry& entry = s.At(s.added);
    lock.unlock();
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

bool CopyBatch::Finish(std::size_t& named) {
    State& s = *state_;
    std::unique_lock lock(s.mutex);
    s.finishing = true;
    s.callerWaits = true;
    s.flush.notify_one();
    s.progress.wait(lock, [&s] { return s.Settled(); });
    s.callerWaits = false;
    named = static_cast<std::size_t>(s.named);
    const uint64_t written = s.written;
    const std::optional<uint32_t> error =
        s.stoppedAt ? std::optional<uint32_t>(s.At(*s.stoppedAt).error) : std::nullopt;
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
