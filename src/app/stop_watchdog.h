#pragma once

#include <chrono>
#include <functional>

#include "app/services.h"
#include "base/main_thread.h"

namespace quintalis {

// How long the ordered stop may take before the process ends without it.
inline constexpr auto kStopDeadline = std::chrono::seconds(5);

// The ordered stop's last resort: where its deadline is set, and what ends
// the process when the stop has not finished by then.
struct StopWatchdog {
    MainThread& timers;
    std::function<void(int status)> end;

    // The program's: a thread of its own ("quintalis.stop-watchdog") that
    // waits in real time, then exitProcess.
    static StopWatchdog process();
};

// Stops the services in order, then hands back the status. Should a step
// hang (a radio or a phone that never answers), the watchdog ends the
// process anyway, with the same status, once kStopDeadline has passed; the
// log's last "stop:" line names the step that hung. A stop that finishes in
// time leaves the watchdog with nothing to do.
int stopThenEnd(Services& services, int status, Services::StopLog say = Services::StopLog::steps,
                StopWatchdog watchdog = StopWatchdog::process());

}  // namespace quintalis
