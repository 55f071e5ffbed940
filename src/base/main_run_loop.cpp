#include "base/main_run_loop.h"

namespace quintalis {

void MainRunLoop::post(Task task) {
    tasks_.post(std::move(task));
    woken();
}

void MainRunLoop::postAfter(Duration delay, Task task) {
    tasks_.postAfter(delay, std::move(task));
    woken();
}

void MainRunLoop::woken() {
    std::lock_guard lock(wakeMutex_);
    if (wake_) wake_();
}

void MainRunLoop::run() { runFor(Duration::max()); }

void MainRunLoop::runFor(Duration duration) {
    auto now = std::chrono::steady_clock::now();
    auto until = duration >= MonotonicTime::max() - now ? MonotonicTime::max() : now + duration;
    drainer_ = std::this_thread::get_id();
    while (tasks_.runOne(until)) {
    }
    tasks_.reopen();
}

void MainRunLoop::stop() { tasks_.close(); }

void MainRunLoop::setWaker(std::function<void()> wake) {
    std::lock_guard lock(wakeMutex_);
    wake_ = std::move(wake);
}

std::optional<MonotonicTime> MainRunLoop::nextDue() const { return tasks_.nextDue(); }

void MainRunLoop::runDue() {
    // Enough to empty any ordinary burst, few enough that windows still
    // redraw while a task keeps posting another.
    constexpr int kBurst = 64;
    const MonotonicTime now = std::chrono::steady_clock::now();
    drainer_ = std::this_thread::get_id();
    for (int i = 0; i < kBurst && tasks_.runOne(now); ++i) {
    }
}

}  // namespace quintalis
