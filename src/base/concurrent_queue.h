#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>

#include "base/task_list.h"

namespace quintalis {

// A labelled concurrent dispatch queue. Tasks start in submission order and
// may run at the same time. A new worker thread is started whenever a task
// arrives and no worker is idle, up to `maxWorkers`, so tasks that block for
// seconds (a gesture, a matching pass) do not starve the ones behind them.
// Workers idle for `idleTimeout` exit. Any thread may submit; the destructor
// waits for queued and running tasks to finish.
class ConcurrentQueue {
public:
    explicit ConcurrentQueue(std::string label, int maxWorkers = 64,
                             Duration idleTimeout = std::chrono::seconds(5));
    ~ConcurrentQueue();
    ConcurrentQueue(const ConcurrentQueue&) = delete;
    ConcurrentQueue& operator=(const ConcurrentQueue&) = delete;

    const std::string& label() const { return label_; }
    void async(Task task);
    // Waits, as the destructor does, until queued and running tasks have
    // finished and every worker has left; for an ordered stop, once nothing
    // submits any more. A task submitted later starts a worker again.
    void drain();
    int workerCount() const;

private:
    void work();

    std::string label_;
    int maxWorkers_;
    Duration idleTimeout_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Task> tasks_;
    int workers_ = 0;
    int idle_ = 0;
    bool stopping_ = false;
};

}  // namespace quintalis
