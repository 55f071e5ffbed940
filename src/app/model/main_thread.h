#pragma once

#include "base/clock.h"
#include "base/main_run_loop.h"
#include "base/task_list.h"

namespace quintalis {

// The thread that owns the app's model and its windows. Whatever drives the
// app's event loop provides it: the plain run loop here, a toolkit's loop
// in a desktop app. Posting is safe from any thread.
class MainThread {
public:
    virtual ~MainThread() = default;
    virtual void post(Task task) = 0;
    virtual void postAfter(Duration delay, Task task) = 0;
};

// The main thread as MainRunLoop::shared() runs it.
class RunLoopMainThread final : public MainThread {
public:
    void post(Task task) override { MainRunLoop::shared().post(std::move(task)); }
    void postAfter(Duration delay, Task task) override { MainRunLoop::shared().postAfter(delay, std::move(task)); }
};

}  // namespace quintalis
