#include "base/serial_queue.h"

#include "base/semaphore.h"
#include "base/thread_name.h"

namespace quintalis {

SerialQueue::SerialQueue(std::string label) : label_(std::move(label)) {
    thread_ = std::thread([this] {
        nameCurrentThread(label_);
        while (!tasks_.closed()) tasks_.runOne(MonotonicTime::max());
    });
}

SerialQueue::~SerialQueue() {
    // Queued work still runs: a queue that owns state is usually destroyed
    // with work posted to it that must not be lost (a final log line, say).
    Semaphore drained;
    tasks_.post([&] {
        tasks_.close();
        drained.signal();
    });
    drained.wait();
    thread_.join();
}

void SerialQueue::async(Task task) { tasks_.post(std::move(task)); }

void SerialQueue::asyncAfter(Duration delay, Task task) { tasks_.postAfter(delay, std::move(task)); }

void SerialQueue::sync(const Task& task) {
    if (isCurrent()) {
        task();
        return;
    }
    Semaphore done;
    tasks_.post([&] {
        task();
        done.signal();
    });
    done.wait();
}

bool SerialQueue::isCurrent() const { return std::this_thread::get_id() == thread_.get_id(); }

}  // namespace quintalis
