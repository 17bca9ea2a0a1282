#pragma once
// A few threads that write copies for a batch, so that the kernel's copying
// of the data (the largest cost of a copy) runs on every core and overlaps
// the caller's walk of the folders and the disk's writing.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace hh::sys::fs_detail {

class CopyWorkers {
public:
    /// Threads for the cores of the machine (at least two, so that one
    /// waiting for the disk never stalls the copying).
    CopyWorkers();
    /// Runs what is queued, then ends the threads.
    ~CopyWorkers();
    CopyWorkers(const CopyWorkers&) = delete;
    CopyWorkers& operator=(const CopyWorkers&) = delete;

    /// Queues a task; waits first while a few tasks per thread are queued or
    /// running, so that the caller stays only a little ahead of the copying.
    void Run(std::function<void()> task);
    /// Waits until every task queued so far has run.
    void Wait();

private:
    void Loop();

    std::mutex mutex_;
    std::condition_variable queued_;
    std::condition_variable ran_;
    std::deque<std::function<void()>> tasks_;
    std::size_t unfinished_ = 0; ///< queued or running
    std::size_t limit_ = 0;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

} // namespace hh::sys::fs_detail
