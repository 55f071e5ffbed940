#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

#include "base/main_thread.h"
#include "base/task_list.h"

namespace quintalis {

// The process's main thread: one list of tasks and timers, whoever runs it.
// The headless program and the commands run it with run()/runFor(); the
// desktop app's toolkit loop drains it with runDue(), woken through
// setWaker() and asking nextDue() how long it may sleep. Either way every
// task runs on the one thread that drains it. Posting is safe from any thread.
class MainRunLoop final : public MainThread {
public:
    void post(Task task) override;
    void postAfter(Duration delay, Task task) override;
    bool isCurrent() const override { return std::this_thread::get_id() == drainer_.load(); }

    // Runs tasks until stop() is called.
    void run();
    // Runs tasks for the given time, or until stop() is called.
    void runFor(Duration duration);
    // Makes the current or next run return. Safe from any thread.
    void stop();

    // For a loop of another kind that drains this one: `wake` is called
    // after every post, from the posting thread, and must make that loop
    // ask nextDue() again.
    void setWaker(std::function<void()> wake);
    // When the next task is due: now or earlier when one is ready, nothing
    // when there is no task at all.
    std::optional<MonotonicTime> nextDue() const;
    // Runs the tasks due now, without waiting; a burst of tasks that post
    // more is cut short after a few dozen, so the other loop keeps turning.
    void runDue();

private:
    void woken();

    TaskList tasks_;
    std::atomic<std::thread::id> drainer_{std::this_thread::get_id()};
    mutable std::mutex wakeMutex_;
    std::function<void()> wake_;
};

}  // namespace quintalis
