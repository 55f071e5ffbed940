#pragma once

#include <condition_variable>
#include <mutex>

#include "base/clock.h"

namespace quintalis {

// A counting semaphore whose waits can time out on the steady clock.
// Any thread may signal or wait.
class Semaphore {
public:
    explicit Semaphore(int initial = 0) : count_(initial) {}

    void signal();
    void wait();
    // Returns false when the timeout passed without a signal.
    bool waitFor(Duration timeout);

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int count_;
};

}  // namespace quintalis
