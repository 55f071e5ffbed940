#include "base/main_run_loop.h"

namespace quintalis {

MainRunLoop& MainRunLoop::shared() {
    static MainRunLoop& loop = *new MainRunLoop();
    return loop;
}

void MainRunLoop::post(Task task) { tasks_.post(std::move(task)); }

void MainRunLoop::postAfter(Duration delay, Task task) { tasks_.postAfter(delay, std::move(task)); }

void MainRunLoop::run() { runFor(Duration::max()); }

void MainRunLoop::runFor(Duration duration) {
    auto now = std::chrono::steady_clock::now();
    auto until = duration >= MonotonicTime::max() - now ? MonotonicTime::max() : now + duration;
    while (tasks_.runOne(until)) {
    }
    tasks_.reopen();
}

void MainRunLoop::stop() { tasks_.close(); }

}  // namespace quintalis
