#pragma once

#include <string>
#include <thread>

#include "base/task_list.h"

namespace quintalis {

// A labelled serial dispatch queue: tasks run one at a time, in the order
// they were submitted, on one thread named after the label. Any thread may
// submit. The destructor runs what is already queued, then joins the thread.
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

private:
    std::string label_;
    TaskList tasks_;
    std::thread thread_;
};

}  // namespace quintalis
