#pragma once

#include "base/task_list.h"

namespace quintalis {

// The main thread's run loop. Tasks posted from any thread run on whichever
// thread is inside run()/runFor(), normally the process's main thread, which
// owns start-up and other work the app keeps on the main thread.
class MainRunLoop {
public:
    static MainRunLoop& shared();

    void post(Task task);
    void postAfter(Duration delay, Task task);

    // Runs tasks until stop() is called.
    void run();
    // Runs tasks for the given time, or until stop() is called.
    void runFor(Duration duration);
    // Makes the current or next run return. Safe from any thread.
    void stop();

private:
    TaskList tasks_;
};

}  // namespace quintalis
