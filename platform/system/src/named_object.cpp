#include "named_object.h"

#include "platform/system/device_root.h"
#include "platform/system/error.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>

namespace hh::sys::detail {

namespace {

constexpr uint32_t kMagic = 0x48484f42; // "HHOB"
constexpr int kProbes = 8;
constexpr const char* kShmDir = "/dev/shm/";
constexpr std::size_t kMaxNameChars = 260;

uint64_t Fnv1a(std::string_view text) {
    uint64_t hash = 1469598103934665603ull;
    for (unsigned char c : text) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    return hash;
}

std::string ObjectPath(SharedKind kind, std::string_view name, int probe) {
    char buffer[96];
    if (kind == SharedKind::Hub) {
        std::snprintf(buffer, sizeof buffer, "hh-%s-hub", DeviceRootTag().c_str());
    } else {
        std::snprintf(buffer, sizeof buffer, "hh-%s-%016llx-%d", DeviceRootTag().c_str(),
                      static_cast<unsigned long long>(Fnv1a(name)), probe);
    }
    return std::string(kShmDir) + buffer;
}

bool LockShared(int fd) {
    struct flock lock {};
    lock.l_type = F_RDLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 1;
    while (fcntl(fd, F_OFD_SETLKW, &lock) < 0) {
        if (errno != EINTR) {
            return false;
        }
    }
    return true;
}

bool TryLockExclusive(int fd) {
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 1;
    return fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

SharedBlock* Map(int fd) {
    void* memory = mmap(nullptr, sizeof(SharedBlock), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    return memory == MAP_FAILED ? nullptr : static_cast<SharedBlock*>(memory);
}

// Makes the object under a temporary name, filled in and locked, then links
// it into place. Returns the descriptor, or -1 with errno (EEXIST when another
// process was first).
int CreateObject(const std::string& path, SharedKind kind, std::string_view name,
                 const std::function<void(SharedBlock&)>& init, SharedBlock** mapped) {
    char suffix[48];
    std::snprintf(suffix, sizeof suffix, ".new.%d.%d", static_cast<int>(getpid()),
                  static_cast<int>(gettid()));
    const std::string temp = path + suffix;
    const int fd = open(temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        return -1;
    }
    SharedBlock* block = nullptr;
    int error = 0;
    // The block's pages are taken now: a page first touched through the
    // mapping on a full /dev/shm would end the process with SIGBUS.
    if ((error = posix_fallocate(fd, 0, sizeof(SharedBlock))) != 0) {
        errno = error;
    } else if (!LockShared(fd) || !(block = Map(fd))) {
        error = errno;
    } else {
        block->kind = static_cast<uint32_t>(kind);
        block->nameLength = static_cast<uint32_t>(name.size());
        if (!name.empty()) {
            std::memcpy(block->name, name.data(), name.size());
        }
        init(*block);
        block->magic = kMagic;
        if (link(temp.c_str(), path.c_str()) < 0) {
            error = errno;
        }
    }
    unlink(temp.c_str());
    if (error != 0) {
        if (block) {
            munmap(block, sizeof(SharedBlock));
        }
        close(fd);
        errno = error;
        return -1;
    }
    *mapped = block;
    return fd;
}

} // namespace

SharedMapping::SharedMapping(int fd, std::string path, SharedBlock* block, bool created)
    : fd_(fd), path_(std::move(path)), block_(block), created_(created) {}

SharedMapping::~SharedMapping() {
    // Only the last user can turn its shared lock into an exclusive one.
    if (TryLockExclusive(fd_)) {
        unlink(path_.c_str());
    }
    munmap(block_, sizeof(SharedBlock));
    close(fd_);
}

std::shared_ptr<SharedMapping> OpenShared(SharedKind kind, std::string_view name,
                                          const std::function<void(SharedBlock&)>& init) {
    for (int probe = 0; probe < kProbes; ++probe) {
        const std::string path = ObjectPath(kind, name, probe);
        for (int attempt = 0; attempt < 100; ++attempt) {
            SharedBlock* block = nullptr;
            bool created = false;
            int fd = open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
            if (fd < 0 && errno == ENOENT) {
                fd = CreateObject(path, kind, name, init, &block);
                if (fd < 0 && errno == EEXIST) {
                    continue;
                }
                created = fd >= 0;
            }
            if (fd < 0) {
                SetLastErrorFromErrno(errno);
                return nullptr;
            }
            if (!created) {
                struct stat st {};
                if (!LockShared(fd) || fstat(fd, &st) < 0) {
                    SetLastErrorFromErrno(errno);
                    close(fd);
                    return nullptr;
                }
                // Removed by its last user between our open and our lock.
                if (st.st_nlink == 0) {
                    close(fd);
                    continue;
                }
                // Left behind by processes that died: nobody else holds it, so
                // start afresh as the device would.
                if (TryLockExclusive(fd)) {
                    unlink(path.c_str());
                    close(fd);
                    continue;
                }
                if (static_cast<std::size_t>(st.st_size) < sizeof(SharedBlock) ||
                    !(block = Map(fd))) {
                    SetLastError(ERROR_INVALID_HANDLE);
                    close(fd);
                    return nullptr;
                }
            }
            auto mapping = std::make_shared<SharedMapping>(fd, path, block, created);
            if (block->magic != kMagic) {
                SetLastError(ERROR_INVALID_HANDLE);
                return nullptr;
            }
            if (std::string_view(block->name, block->nameLength) != name) {
                break; // a hash collision: try the next probe
            }
            if (block->kind != static_cast<uint32_t>(kind)) {
                SetLastError(ERROR_INVALID_HANDLE);
                return nullptr;
            }
            return mapping;
        }
    }
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
}

std::shared_ptr<SharedMapping> OpenHub() {
    static std::mutex mutex;
    static auto* hubs = new std::map<std::string, std::weak_ptr<SharedMapping>>;
    const std::string tag = DeviceRootTag();
    std::lock_guard lock(mutex);
    if (auto hub = (*hubs)[tag].lock()) {
        return hub;
    }
    auto hub = OpenShared(SharedKind::Hub, {}, [](SharedBlock& block) {
        block.hubSequence.store(0);
        block.hubSleepers.store(0);
    });
    (*hubs)[tag] = hub;
    return hub;
}

bool ValidObjectName(std::string_view utf8) {
    std::size_t chars = 0;
    for (unsigned char c : utf8) {
        if ((c & 0xC0) != 0x80) {
            ++chars;
        }
        if (c == '\\' || c == '\0') {
            SetLastError(ERROR_INVALID_NAME);
            return false;
        }
    }
    if (chars > kMaxNameChars || utf8.size() > kMaxNameBytes) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    return true;
}

bool InitSharedMutex(pthread_mutex_t& mutex) {
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
    pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    const int rc = pthread_mutex_init(&mutex, &attr);
    pthread_mutexattr_destroy(&attr);
    return rc == 0;
}

} // namespace hh::sys::detail
