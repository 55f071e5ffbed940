#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

#include "base/task_list.h"

namespace quintalis {

// A labelled serial dispatch queue: tasks run one at a time, in the order
// they were submitted, on one thread named after the label, started by the
// first task. Any thread may submit. The destructor runs what is already
// queued, then joins the thread.
class SerialQueue {
public:
    explicit SerialQueue(std::string label);
    ~SerialQueue();
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    const std::string& label() const { return label_; }

    void async(Task task);
    void asyncAfter(Duration delay, Task task);
    // Runs the task on the queue and waits for it. Called from the queue's own
    // thread it runs inline instead of deadlocking.
    void sync(const Task& task);
    bool isCurrent() const;

    // For the process's ordered stop, once whatever posts here has stopped:
    // runs the tasks queued now, drops the timers not yet due (a keep-alive,
    // a retry: work the stop means to end) and ends the thread. The queue
    // stays usable, as the objects around it are never destroyed: a task
    // posted later starts a thread again. Blocks; from the queue's own
    // thread it does nothing, as a thread cannot wait for itself.
    void stop();

private:
    void wake();
    void run();
    // Runs what is queued, then lets the thread leave and joins it.
    void endThread();

    std::string label_;
    TaskList tasks_;
    std::mutex threadMutex_;  // guards the flags below, and thread_ while no thread runs
    bool running_ = false;    // a thread runs tasks_, or is being stopped
    bool stopping_ = false;
    bool ending_ = false;     // being destroyed: no thread starts again
    std::thread thread_;
    std::atomic<std::thread::id> runner_{};
};

}  // namespace quintalis
