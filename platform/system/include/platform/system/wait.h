#pragma once
// Waiting on the device's waitable objects (events, mutexes, threads) with the
// device's result codes. A wait with a time-out runs on the platform clock, so
// under a TestClock it ends only when the test advances past its deadline;
// INFINITE waits are real.

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <span>

namespace hh::sys {

inline constexpr uint32_t WAIT_OBJECT_0 = 0;
inline constexpr uint32_t WAIT_ABANDONED = 0x80;
inline constexpr uint32_t WAIT_TIMEOUT = 0x102;
inline constexpr uint32_t WAIT_FAILED = 0xFFFFFFFFu;
inline constexpr std::size_t MAXIMUM_WAIT_OBJECTS = 64;

namespace detail {
class WaitObject;
}

/// A handle to a waitable object. Copies are further handles to the same
/// object (as a duplicated handle); the object goes when its last handle does.
class Waitable {
public:
    explicit operator bool() const { return object_ != nullptr; }
    /// Closes this handle; the object lives on while other handles exist.
    void close() { object_.reset(); }

protected:
    Waitable() = default;
    explicit Waitable(std::shared_ptr<detail::WaitObject> object) : object_(std::move(object)) {}
    ~Waitable() = default;
    Waitable(const Waitable&) = default;
    Waitable& operator=(const Waitable&) = default;
    Waitable(Waitable&&) = default;
    Waitable& operator=(Waitable&&) = default;

    std::shared_ptr<detail::WaitObject> object_;

    friend uint32_t WaitForMultipleObjects(std::span<const Waitable* const>, uint32_t);
};

/// Waits until the object is signalled (WAIT_OBJECT_0), its mutex owner died
/// (WAIT_ABANDONED, and the caller now owns it), or the time-out in
/// milliseconds passes (WAIT_TIMEOUT). WAIT_FAILED with the last error for a
/// null handle, or in a terminated thread that is unwinding.
uint32_t WaitForSingleObject(const Waitable& object, uint32_t timeoutMs);

/// Waits for any of 1 to MAXIMUM_WAIT_OBJECTS objects: WAIT_OBJECT_0 + i or
/// WAIT_ABANDONED + i for the lowest-numbered object that is ready, which
/// alone is acquired (an automatic-reset event reset, a mutex owned).
uint32_t WaitForMultipleObjects(std::span<const Waitable* const> objects, uint32_t timeoutMs);
uint32_t WaitForMultipleObjects(std::initializer_list<const Waitable*> objects, uint32_t timeoutMs);

} // namespace hh::sys
