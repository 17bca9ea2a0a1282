#include "platform/system/wait.h"

#include "platform/system/error.h"
#include "sync_internal.h"

#include <algorithm>
#include <vector>

namespace hh::sys {

namespace {

// How often a wait that includes a mutex looks again, since the death of a
// mutex owner in another process wakes nobody.
constexpr int64_t kMutexPollMs = 20;

} // namespace

uint32_t WaitForMultipleObjects(std::span<const Waitable* const> objects, uint32_t timeoutMs) {
    if (objects.empty() || objects.size() > MAXIMUM_WAIT_OBJECTS) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    for (const Waitable* object : objects) {
        if (!object || !object->object_) {
            SetLastError(ERROR_INVALID_HANDLE);
            return WAIT_FAILED;
        }
    }
    // An object that is ready already (an uncontended mutex, a set event) is
    // taken without the bookkeeping of a wait that sleeps.
    if (!detail::TerminatePending()) {
        for (std::size_t i = 0; i < objects.size(); ++i) {
            switch (objects[i]->object_->tryAcquire()) {
            case detail::WaitObject::Result::Acquired:
                return WAIT_OBJECT_0 + static_cast<uint32_t>(i);
            case detail::WaitObject::Result::Abandoned:
                return WAIT_ABANDONED + static_cast<uint32_t>(i);
            case detail::WaitObject::Result::Failed:
                return WAIT_FAILED;
            case detail::WaitObject::Result::NotReady:
                break;
            }
        }
        if (timeoutMs == 0) {
            return WAIT_TIMEOUT;
        }
    }
    std::vector<detail::WaitObject*> targets;
    std::vector<detail::WatchedWord> words{detail::LocalWakeWord()};
    bool poll = false;
    for (const Waitable* object : objects) {
        targets.push_back(object->object_.get());
        poll = poll || targets.back()->needsPolling();
        const detail::WatchedWord word = targets.back()->changeWord();
        if (std::none_of(words.begin(), words.end(),
                         [&](const detail::WatchedWord& w) { return w.word == word.word; })) {
            words.push_back(word);
        }
    }
    const detail::Deadline deadline = detail::Deadline::After(timeoutMs);
    detail::WaitScope scope(deadline);
    std::vector<uint32_t> snapshots(words.size());
    for (;;) {
        // Snapshot before looking: a change after it makes the sleep return.
        for (std::size_t i = 0; i < words.size(); ++i) {
            snapshots[i] = words[i].word->load();
        }
        if (scope.terminated()) {
            SetLastError(ERROR_OPERATION_ABORTED);
            return WAIT_FAILED;
        }
        for (std::size_t i = 0; i < targets.size(); ++i) {
            switch (targets[i]->tryAcquire()) {
            case detail::WaitObject::Result::Acquired:
                return WAIT_OBJECT_0 + static_cast<uint32_t>(i);
            case detail::WaitObject::Result::Abandoned:
                return WAIT_ABANDONED + static_cast<uint32_t>(i);
            case detail::WaitObject::Result::Failed:
                return WAIT_FAILED;
            case detail::WaitObject::Result::NotReady:
                break;
            }
        }
        if (timeoutMs == 0 || deadline.expired()) {
            return WAIT_TIMEOUT;
        }
        detail::SleepOnWords(words, snapshots, deadline,
                             poll ? std::optional<int64_t>(kMutexPollMs) : std::nullopt);
    }
}

uint32_t WaitForMultipleObjects(std::initializer_list<const Waitable*> objects,
                                uint32_t timeoutMs) {
    return WaitForMultipleObjects(std::span<const Waitable* const>(objects.begin(), objects.size()),
                                  timeoutMs);
}

uint32_t WaitForSingleObject(const Waitable& object, uint32_t timeoutMs) {
    const Waitable* one[] = {&object};
    return WaitForMultipleObjects(std::span<const Waitable* const>(one), timeoutMs);
}

} // namespace hh::sys
