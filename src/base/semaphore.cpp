#include "base/semaphore.h"

namespace quintalis {

void Semaphore::signal() {
    {
        std::lock_guard lock(mutex_);
        ++count_;
    }
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
