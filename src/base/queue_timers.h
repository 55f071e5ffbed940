#pragma once

#include "base/main_thread.h"
#include "base/serial_queue.h"

namespace quintalis {

// A serial queue seen as a main thread, for code that sets its timers on a
// MainThread (so a test can fire them by hand) but runs them, in the
// program, on a queue of its own, in real time. Any thread may post.
class QueueTimers final : public MainThread {
public:
    explicit QueueTimers(SerialQueue& queue) : queue_(queue) {}
    void post(Task task) override { queue_.async(std::move(task)); }
    void postAfter(Duration delay, Task task) override { queue_.asyncAfter(delay, std::move(task)); }
    bool isCurrent() const override { return queue_.isCurrent(); }

private:
    SerialQueue& queue_;
};

}  // namespace quintalis
