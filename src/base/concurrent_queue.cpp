#include "base/concurrent_queue.h"

#include <thread>

#include "base/thread_name.h"

namespace quintalis {

ConcurrentQueue::ConcurrentQueue(std::string label, int maxWorkers, Duration idleTimeout)
    : label_(std::move(label)), maxWorkers_(maxWorkers), idleTimeout_(idleTimeout) {}

ConcurrentQueue::~ConcurrentQueue() { drain(); }

void ConcurrentQueue::drain() {
    std::unique_lock lock(mutex_);
    stopping_ = true;
    changed_.notify_all();
    changed_.wait(lock, [this] { return workers_ == 0; });
    stopping_ = false;
}

void ConcurrentQueue::async(Task task) {
    std::lock_guard lock(mutex_);
    tasks_.push_back(std::move(task));
    // Count the idle workers that earlier posts have already claimed, so a
    // burst of posts starts one worker per task rather than waking one.
    if (idle_ >= static_cast<int>(tasks_.size()) || workers_ >= maxWorkers_) {
        changed_.notify_one();
        return;
    }
    ++workers_;
    std::thread([this] { work(); }).detach();
}

int ConcurrentQueue::workerCount() const {
    std::lock_guard lock(mutex_);
    return workers_;
}

void ConcurrentQueue::work() {
    nameCurrentThread(label_);
    std::unique_lock lock(mutex_);
    for (;;) {
        ++idle_;
        bool woke = changed_.wait_for(lock, idleTimeout_, [this] { return !tasks_.empty() || stopping_; });
        --idle_;
        if (tasks_.empty() && (stopping_ || !woke)) break;
        Task task = std::move(tasks_.front());
        tasks_.pop_front();
        lock.unlock();
        task();
        task = nullptr;  // release captures outside the lock
        lock.lock();
    }
    --workers_;
    // The destructor waits for the last worker; notify while holding the lock
    // so the queue cannot be destroyed between the decrement and the notify.
    changed_.notify_all();
}

}  // namespace quintalis
