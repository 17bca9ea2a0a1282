#pragma once
// Platform threads: started at once with one argument, waitable for their end
// (WaitForSingleObject on the handle), with an exit code. Closing every handle
// detaches the thread; it runs on.
//
// Ending a thread from outside (TerminateThread) is made safe rather than
// abrupt, because killing a thread in C++ leaks its locks and skips its
// destructors. TerminateThread(thread, code) guarantees:
//  - at once: the exit code is `code`, and waiters on the thread's handle see
//    it ended (WAIT_OBJECT_0);
//  - the thread itself stops at its next platform wait or Sleep (or at once
//    when it is blocked in one): that call throws ThreadTerminated, which
//    unwinds its stack, running destructors, up to the thread's entry, where
//    it is caught. While unwinding, further waits fail at once (WAIT_FAILED,
//    ERROR_OPERATION_ABORTED) and Sleep returns at once, so cleanup cannot block;
//  - when the thread was blocked in a platform wait or Sleep, TerminateThread
//    returns only after it has finished unwinding (bounded by one real second),
//    so what it used may be freed afterwards;
//  - a thread busy elsewhere keeps running until its next platform call: what
//    it uses must outlive it. Code that catches every exception must rethrow
//    ThreadTerminated.
// A thread that terminates itself throws ThreadTerminated at once.

#include <platform/system/clock.h>
#include <platform/system/wait.h>

#include <cstdint>
#include <functional>

namespace hh::sys {

/// GetExitCodeThread's code for a thread that has not ended.
inline constexpr uint32_t STILL_ACTIVE = 0x103;

class Thread : public Waitable {
public:
    using Routine = uint32_t (*)(void* argument);

    /// A null handle.
    Thread() = default;

    /// CreateThread: starts routine(argument) at once. Null handle with
    /// ERROR_NOT_ENOUGH_MEMORY when the host cannot start a thread.
    static Thread Start(Routine routine, void* argument);
    static Thread Start(std::function<uint32_t()> body);

    /// A process-unique 32-bit thread id.
    uint32_t id() const;
    /// A process-unique 32-bit number standing for the handle (for traces).
    uint32_t handleValue() const;
    /// The exit code, or STILL_ACTIVE while the thread runs.
    uint32_t exitCode() const;
    /// See the file comment. False (ERROR_INVALID_HANDLE) on a null handle.
    bool terminate(uint32_t exitCode);
};

inline bool TerminateThread(Thread& thread, uint32_t exitCode) {
    return thread.terminate(exitCode);
}
/// False with ERROR_INVALID_HANDLE on a null handle.
bool GetExitCodeThread(const Thread& thread, uint32_t* exitCode);

/// Waits until no platform thread of the process runs but the caller, also
/// those whose handles were closed: WAIT_OBJECT_0, or WAIT_TIMEOUT when the
/// time-out passes first. A program that must not end while a library's
/// thread still works (a beep sequence) waits here before it exits.
uint32_t WaitForOtherThreads(uint32_t timeoutMs);

} // namespace hh::sys
