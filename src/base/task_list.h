#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <queue>
#include <vector>

#include "base/clock.h"

namespace quintalis {

using Task = std::function<void()>;

// The pending work of one serial executor: tasks to run now, in order, and
// tasks due at a steady-clock deadline. Whoever drains it (a queue's thread,
// or the main thread's run loop) is the only one running its tasks, which is
// what makes the executor serial. Posting is safe from any thread.
class TaskList {
public:
    void post(Task task);
    void postAfter(Duration delay, Task task);

    // Runs at most one task, waiting until `until` for one to become due.
    // Returns false when it stopped waiting without running anything
    // (deadline reached, or close() was called).
    bool runOne(MonotonicTime until);

    // When the next task is due: the past for a ready one, nothing when
    // the list holds no task.
    std::optional<MonotonicTime> nextDue() const;

    // Wakes the drainer and makes further runOne calls return false at once.
    void close();
    bool closed() const;
    // Lets a closed list be drained again (the main run loop restarts).
    void reopen();
    // Forgets the tasks not yet due.
    void dropTimers();

private:
    struct Timed {
        MonotonicTime due;
        uint64_t order;
        Task task;
        bool operator>(const Timed& other) const {
            return due != other.due ? due > other.due : order > other.order;
        }
    };

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Task> ready_;
    std::priority_queue<Timed, std::vector<Timed>, std::greater<>> timed_;
    uint64_t nextOrder_ = 0;
    bool closed_ = false;
};

}  // namespace quintalis
