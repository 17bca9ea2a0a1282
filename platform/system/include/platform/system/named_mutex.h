#pragma once
// Mutexes as on the device: owned by one thread at a time and recursive for
// that thread. A named mutex ("MUTEX_FOR_COPY") is shared by every process of
// the same device root. When its owner dies (thread or whole process) without
// releasing it, the next waiter gets it with WAIT_ABANDONED and the mutex
// works on. A thread that ends normally while owning it abandons it likewise.

#include <platform/system/wait.h>

#include <string>
#include <string_view>

namespace hh::sys {

class Mutex : public Waitable {
public:
    /// A null handle.
    Mutex() = default;

    /// CreateMutexW: makes a mutex, owned by the calling thread when
    /// `initiallyOwned`, or opens the existing one of that name (then
    /// `initiallyOwned` is ignored and the last error is ERROR_ALREADY_EXISTS).
    /// An empty name makes an unnamed mutex. Null handle with the last error
    /// set on failure (ERROR_INVALID_HANDLE when the name is an event's).
    static Mutex Create(bool initiallyOwned, std::string_view name = {});
    static Mutex Create(bool initiallyOwned, std::u16string_view name);

    /// ReleaseMutex: gives up one level of ownership. False with
    /// ERROR_NOT_OWNER when the calling thread does not own it.
    bool release();
    std::string name() const;
};

inline bool ReleaseMutex(Mutex& mutex) {
    return mutex.release();
}

} // namespace hh::sys
