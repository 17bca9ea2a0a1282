#include "platform/system/named_mutex.h"

#include "named_object.h"
#include "platform/system/code_page.h"
#include "platform/system/device_root.h"
#include "platform/system/error.h"

#include <unistd.h>

#include <cerrno>
#include <map>
#include <mutex>

namespace hh::sys {

namespace detail {

// One object per mutex and process: the C library's robust-mutex list holds
// the address a thread locked it through, so every handle in the process must
// use the same mapping, and the mapping must stay while a thread owns it.
class MutexObject : public WaitObject {
public:
    // An unnamed mutex.
    explicit MutexObject(bool owned)
        : own_(std::make_unique<pthread_mutex_t>()), mutex_(own_.get()), word_(LocalWakeWord()) {
        InitSharedMutex(*own_);
        if (owned) {
            tryAcquire();
        }
    }
    // A named mutex, already owned by the calling thread when `owned`.
    MutexObject(std::shared_ptr<SharedMapping> mapping, std::shared_ptr<SharedMapping> hub,
                std::string name, bool owned)
        : mutex_(&mapping->block().mutex), word_{&hub->block().hubSequence, true,
                                                 &hub->block().hubSleepers},
          mapping_(std::move(mapping)), hub_(std::move(hub)), name_(std::move(name)) {
        if (owned) {
            owner_.store(CurrentTid());
            depth_ = 1;
        }
    }
    ~MutexObject() override {
        if (owner_.load() != 0) {
            // Still owned by a thread of this process: the C library will
            // touch the memory when that thread ends, so it must stay.
            new std::shared_ptr<SharedMapping>(std::move(mapping_));
            new std::shared_ptr<SharedMapping>(std::move(hub_));
            own_.release();
        }
    }

    Result tryAcquire() override {
        const int rc = pthread_mutex_trylock(mutex_);
        if (rc == 0 || rc == EOWNERDEAD) {
            if (rc == EOWNERDEAD) {
                pthread_mutex_consistent(mutex_);
                depth_ = 0;
            }
            owner_.store(CurrentTid());
            ++depth_;
            return rc == 0 ? Result::Acquired : Result::Abandoned;
        }
        if (rc == EBUSY) {
            return Result::NotReady;
        }
        SetLastErrorFromErrno(rc);
        return Result::Failed;
    }
    WatchedWord changeWord() const override { return word_; }
    bool needsPolling() const override { return true; }

    bool release() {
        if (owner_.load() != CurrentTid()) {
            SetLastError(ERROR_NOT_OWNER);
            return false;
        }
        if (--depth_ == 0) {
            owner_.store(0);
        }
        if (pthread_mutex_unlock(mutex_) != 0) {
            SetLastError(ERROR_NOT_OWNER);
            return false;
        }
        BumpAndWake(word_);
        return true;
    }
    const std::string& name() const { return name_; }

private:
    std::unique_ptr<pthread_mutex_t> own_;
    pthread_mutex_t* mutex_;
    WatchedWord word_;
    std::shared_ptr<SharedMapping> mapping_;
    std::shared_ptr<SharedMapping> hub_;
    std::string name_;
    std::atomic<pid_t> owner_{0};
    int depth_ = 0; // touched by the owning thread only
};

} // namespace detail

namespace {

std::mutex g_namedMutexesLock;
auto* g_namedMutexes = new std::map<std::string, std::weak_ptr<detail::MutexObject>>;

detail::MutexObject* Object(const std::shared_ptr<detail::WaitObject>& object) {
    return static_cast<detail::MutexObject*>(object.get());
}

} // namespace

Mutex Mutex::Create(bool initiallyOwned, std::string_view name) {
    Mutex mutex;
    if (name.empty()) {
        mutex.object_ = std::make_shared<detail::MutexObject>(initiallyOwned);
        SetLastError(ERROR_SUCCESS);
        return mutex;
    }
    if (!detail::ValidObjectName(name)) {
        return mutex;
    }
    const std::string key = DeviceRootTag() + "/" + std::string(name);
    std::lock_guard lock(g_namedMutexesLock);
    if (auto existing = (*g_namedMutexes)[key].lock()) {
        mutex.object_ = existing;
        SetLastError(ERROR_ALREADY_EXISTS);
        return mutex;
    }
    auto hub = detail::OpenHub();
    if (!hub) {
        return mutex;
    }
    bool initFailed = false;
    auto mapping =
        detail::OpenShared(detail::SharedKind::Mutex, name, [&](detail::SharedBlock& block) {
            initFailed = !detail::InitSharedMutex(block.mutex);
            if (!initFailed && initiallyOwned) {
                pthread_mutex_lock(&block.mutex);
            }
        });
    if (!mapping) {
        return mutex;
    }
    if (initFailed) {
        SetLastError(ERROR_GEN_FAILURE);
        return mutex;
    }
    const bool created = mapping->created();
    auto object = std::make_shared<detail::MutexObject>(
        std::move(mapping), std::move(hub), std::string(name), created && initiallyOwned);
    (*g_namedMutexes)[key] = object;
    mutex.object_ = std::move(object);
    SetLastError(created ? ERROR_SUCCESS : ERROR_ALREADY_EXISTS);
    return mutex;
}

Mutex Mutex::Create(bool initiallyOwned, std::u16string_view name) {
    return Create(initiallyOwned, std::string_view(Utf16ToUtf8(name)));
}

bool Mutex::release() {
    if (!object_) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    return Object(object_)->release();
}

std::string Mutex::name() const {
    return object_ ? Object(object_)->name() : std::string();
}

} // namespace hh::sys
