#include "base/serial_queue.h"

#include "base/semaphore.h"
#include "base/thread_name.h"

namespace quintalis {

SerialQueue::SerialQueue(std::string label) : label_(std::move(label)) {}

SerialQueue::~SerialQueue() {
    // Queued work still runs: a queue that owns state is usually destroyed
    // with work posted to it that must not be lost (a final log line, say).
    bool running;
    {
        std::lock_guard lock(threadMutex_);
        ending_ = true;
        running = running_;
    }
    if (running) endThread();
}

void SerialQueue::async(Task task) {
    tasks_.post(std::move(task));
    wake();
}

void SerialQueue::asyncAfter(Duration delay, Task task) {
    tasks_.postAfter(delay, std::move(task));
    wake();
}

void SerialQueue::sync(const Task& task) {
    if (isCurrent()) {
        task();
        return;
    }
    Semaphore done;
    async([&] {
        task();
        done.signal();
    });
    done.wait();
}

bool SerialQueue::isCurrent() const { return std::this_thread::get_id() == runner_.load(); }

void SerialQueue::stop() {
    if (isCurrent()) return;
    {
        std::lock_guard lock(threadMutex_);
        if (!running_ || stopping_ || ending_) return;
        stopping_ = true;
    }
    endThread();
    std::lock_guard lock(threadMutex_);
    stopping_ = false;
    running_ = false;
    tasks_.dropTimers();
    tasks_.reopen();
    // Posted while the thread was leaving: it was told a thread runs.
    if (tasks_.nextDue() && !ending_) {
        running_ = true;
        thread_ = std::thread([this] { run(); });
    }
}

// Posting first and looking second, under the lock that stop() also takes
// once its thread has gone, means a task posted meanwhile is always seen by
// one of the two.
void SerialQueue::wake() {
    std::lock_guard lock(threadMutex_);
    if (running_ || ending_) return;
    running_ = true;
    thread_ = std::thread([this] { run(); });
}

void SerialQueue::run() {
    nameCurrentThread(label_);
    runner_ = std::this_thread::get_id();
    while (!tasks_.closed()) tasks_.runOne(MonotonicTime::max());
    runner_ = std::thread::id();
}

void SerialQueue::endThread() {
    Semaphore closed;
    tasks_.post([&] {
        tasks_.close();
        closed.signal();
    });
    closed.wait();
    thread_.join();
}

}  // namespace quintalis
