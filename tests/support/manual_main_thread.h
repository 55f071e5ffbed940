#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "base/main_thread.h"

namespace quintalis::testing {

// A main thread that the test drives: posted tasks wait until the test runs
// them on its own thread; delayed tasks wait until the test fires them, so
// timers cost no real time.
class ManualMainThread final : public MainThread {
public:
    void post(Task task) override {
        std::lock_guard lock(mutex_);
        ready_.push_back(std::move(task));
        changed_.notify_all();
    }
    void postAfter(Duration delay, Task task) override {
        std::lock_guard lock(mutex_);
        delayed_.push_back({delay, std::move(task)});
    }
    bool isCurrent() const override {
        std::lock_guard lock(mutex_);
        return std::this_thread::get_id() == drainer_;
    }

    // Runs posted tasks, waiting for more, until `done` holds; false when it
    // still does not hold after `seconds` (work on other threads never came).
    // `done` may also wait for other threads: it is asked again every 10 ms.
    bool runUntil(const std::function<bool()>& done, double seconds = 30) {
        drainedHere();
        auto until = std::chrono::steady_clock::now() +
                     std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(seconds));
        while (!done()) {
            if (std::chrono::steady_clock::now() >= until) return false;
            Task task;
            {
                std::unique_lock lock(mutex_);
                auto slice = std::min(until, std::chrono::steady_clock::now() + std::chrono::milliseconds(10));
                if (!changed_.wait_until(lock, slice, [this] { return !ready_.empty(); })) continue;
                task = std::move(ready_.front());
                ready_.pop_front();
            }
            task();
        }
        return true;
    }
    // Runs the tasks posted so far and those they post.
    void runPending() {
        drainedHere();
        while (true) {
            Task task;
            {
                std::lock_guard lock(mutex_);
                if (ready_.empty()) return;
                task = std::move(ready_.front());
                ready_.pop_front();
            }
            task();
        }
    }
    // The delays of the timers waiting now.
    std::vector<Duration> delays() const {
        std::lock_guard lock(mutex_);
        std::vector<Duration> found;
        for (const auto& timer : delayed_) found.push_back(timer.delay);
        return found;
    }
    // Fires the timers waiting now (not those they set).
    void fireTimers() {
        drainedHere();
        std::deque<Timer> due;
        {
            std::lock_guard lock(mutex_);
            due.swap(delayed_);
        }
        for (auto& timer : due) timer.task();
    }

private:
    void drainedHere() {
        std::lock_guard lock(mutex_);
        drainer_ = std::this_thread::get_id();
    }

    struct Timer {
        Duration delay;
        Task task;
    };
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Task> ready_;
    std::deque<Timer> delayed_;
    std::thread::id drainer_ = std::this_thread::get_id();
};

}  // namespace quintalis::testing
