#include "base/semaphore.h"

namespace quintalis {

void Semaphore::signal() {
    // Notify while holding the lock: a waiter that wakes may destroy the
    // semaphore (it often lives on the waiter's stack) as soon as it can lock.
    std::lock_guard lock(mutex_);
    ++count_;
    changed_.notify_one();
}

void Semaphore::wait() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return count_ > 0; });
    --count_;
}

bool Semaphore::waitFor(Duration timeout) {
    std::unique_lock lock(mutex_);
    if (!changed_.wait_for(lock, timeout, [this] { return count_ > 0; })) return false;
    --count_;
    return true;
}

}  // namespace quintalis
