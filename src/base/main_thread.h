#pragma once

#include <string>

#include "base/clock.h"
#include "base/task_list.h"

namespace quintalis {

// The thread that owns start-up, the app's model, its windows and the timers
// that belong with them. The process has one, a MainRunLoop that the app's
// services own, which whatever drives the main thread drains: its own run() in the headless
// program and the commands, GLib's loop in the desktop app. Tests drive a
// manual one. Posting is safe from any thread.
class MainThread {
public:
    virtual ~MainThread() = default;
    virtual void post(Task task) = 0;
    virtual void postAfter(Duration delay, Task task) = 0;
    // Whether the calling thread is the one that runs the tasks: the last to
    // drain them, or, before any has, the one that made this main thread.
    virtual bool isCurrent() const = 0;
    std::string label() const { return "main"; }
};

}  // namespace quintalis
