#include "base/task_list.h"

namespace quintalis {

// Notifications happen under the lock so the drainer can never see the list
// closed and go away between the change and the notify.
void TaskList::post(Task task) {
    std::lock_guard lock(mutex_);
    ready_.push_back(std::move(task));
    changed_.notify_all();
}

void TaskList::postAfter(Duration delay, Task task) {
    std::lock_guard lock(mutex_);
    timed_.push(Timed{std::chrono::steady_clock::now() + delay, nextOrder_++, std::move(task)});
    changed_.notify_all();
}

bool TaskList::runOne(MonotonicTime until) {
    Task task;
    {
        std::unique_lock lock(mutex_);
        for (;;) {
            if (closed_) return false;
            auto now = std::chrono::steady_clock::now();
            // Timers that came due join the ready tasks in deadline order, so a
            // timer never overtakes work that was posted before it fired.
            while (!timed_.empty() && timed_.top().due <= now) {
                ready_.push_back(std::move(const_cast<Timed&>(timed_.top()).task));
                timed_.pop();
            }
            if (!ready_.empty()) break;
            if (now >= until) return false;
            auto wake = until;
            if (!timed_.empty() && timed_.top().due < wake) wake = timed_.top().due;
            changed_.wait_until(lock, wake);
        }
        task = std::move(ready_.front());
        ready_.pop_front();
    }
    task();
    return true;
}

std::optional<MonotonicTime> TaskList::nextDue() const {
    std::lock_guard lock(mutex_);
    if (!ready_.empty()) return MonotonicTime::min();
    if (timed_.empty()) return std::nullopt;
    return timed_.top().due;
}

void TaskList::close() {
    std::lock_guard lock(mutex_);
    closed_ = true;
    changed_.notify_all();
}

bool TaskList::closed() const {
    std::lock_guard lock(mutex_);
    return closed_;
}

void TaskList::reopen() {
    std::lock_guard lock(mutex_);
    closed_ = false;
}

void TaskList::dropTimers() {
    std::lock_guard lock(mutex_);
    timed_ = {};
}

}  // namespace quintalis
