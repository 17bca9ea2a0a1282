#include "copy_workers.h"

#include <pthread.h>

#include <algorithm>
#include <utility>

namespace hh::sys::fs_detail {

namespace {

constexpr unsigned kMostThreads = 8;
constexpr std::size_t kTasksPerThread = 4;

} // namespace

CopyWorkers::CopyWorkers() {
    const unsigned count = std::clamp(std::thread::hardware_concurrency(), 2u, kMostThreads);
    limit_ = count * kTasksPerThread;
    threads_.reserve(count);
    for (unsigned i = 0; i < count; ++i) {
        threads_.emplace_back([this] {
            pthread_setname_np(pthread_self(), "copy-worker");
            Loop();
        });
    }
}

CopyWorkers::~CopyWorkers() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    queued_.notify_all();
    for (std::thread& thread : threads_) {
        thread.join();
    }
}

void CopyWorkers::Run(std::function<void()> task) {
    std::unique_lock lock(mutex_);
    ran_.wait(lock, [this] { return unfinished_ < limit_; });
    tasks_.push_back(std::move(task));
    ++unfinished_;
    lock.unlock();
    queued_.notify_one();
}

void CopyWorkers::Wait() {
    std::unique_lock lock(mutex_);
    ran_.wait(lock, [this] { return unfinished_ == 0; });
}

void CopyWorkers::Loop() {
    std::unique_lock lock(mutex_);
    for (;;) {
        queued_.wait(lock, [this] { return stopping_ || !tasks_.empty(); });
        if (tasks_.empty()) {
            return;
        }
        std::function<void()> task = std::move(tasks_.front());
        tasks_.pop_front();
        lock.unlock();
        task();
        lock.lock();
        --unfinished_;
        ran_.notify_all();
    }
}

} // namespace hh::sys::fs_detail
