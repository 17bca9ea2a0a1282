#pragma once
// Memory shared by the processes of one device root under a name: the state
// of a named event or mutex, and the root's wake-up hub.
//
// Each object is a file in /dev/shm named "hh-<root tag>-<hash of the name>"
// (a probe number follows on a hash collision); the full name and the kind are
// stored inside, so two names never share an object. A new object is filled
// in under a temporary name and then linked into place, so an opener never
// sees a half-made one. Every opener holds a shared open-file-description lock
// on it; the kernel drops that lock when a process dies, so whoever closes a
// handle and can take the exclusive lock is the last user and removes the
// name, as the device frees an object with its last handle.

#include "sync_internal.h"

#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace hh::sys::detail {

enum class SharedKind : uint32_t { Hub = 1, Event = 2, Mutex = 3 };

struct EventState {
    std::atomic<uint32_t> signalled;
    std::atomic<uint32_t> manualReset;
    std::atomic<uint32_t> data;
};

inline constexpr std::size_t kMaxNameBytes = 1024;

struct SharedBlock {
    uint32_t magic;
    uint32_t kind;
    uint32_t nameLength;
    char name[kMaxNameBytes];
    /// The hub's sequence word: every set or release in the root bumps it.
    std::atomic<uint32_t> hubSequence;
    EventState event;
    pthread_mutex_t mutex;
    /// Threads sleeping on the hub's sequence word (WatchedWord::sleepers).
    std::atomic<uint32_t> hubSleepers;
};

/// One open handle's mapping of a shared object.
class SharedMapping {
public:
    SharedMapping(int fd, std::string path, SharedBlock* block, bool created);
    ~SharedMapping();
    SharedMapping(const SharedMapping&) = delete;
    SharedMapping& operator=(const SharedMapping&) = delete;

    SharedBlock& block() const { return *block_; }
    bool created() const { return created_; }

private:
    int fd_;
    std::string path_;
    SharedBlock* block_;
    bool created_;
};

/// Opens the object of that kind and name in the current device root, making
/// it with `init` when it does not exist. Null with the last error set when it
/// cannot be opened (ERROR_INVALID_HANDLE when the name is another kind's).
std::shared_ptr<SharedMapping> OpenShared(SharedKind kind, std::string_view name,
                                          const std::function<void(SharedBlock&)>& init);

/// The wake-up hub of the current device root, shared by this process's
/// named objects of that root.
std::shared_ptr<SharedMapping> OpenHub();

/// Checks a device object name and converts it to UTF-8; false with the last
/// error set when it is not a valid name.
bool ValidObjectName(std::string_view utf8);

/// Initialises a robust, recursive mutex usable across processes.
bool InitSharedMutex(pthread_mutex_t& mutex);

} // namespace hh::sys::detail
