#include "app/stop_watchdog.h"

#include <atomic>
#include <memory>

#include "base/exit_process.h"
#include "base/log.h"
#include "base/queue_timers.h"

namespace quintalis {

StopWatchdog StopWatchdog::process() {
    // Never destroyed: the process ends while its timer may still wait.
    static auto& timers = *new QueueTimers(*new SerialQueue("quintalis.stop-watchdog"));
    return {timers, [](int status) { exitProcess(status); }};
}

int stopThenEnd(Services& services, int status, Services::StopLog say, StopWatchdog watchdog) {
    auto finished = std::make_shared<std::atomic<bool>>(false);
    watchdog.timers.postAfter(kStopDeadline, [finished, status, end = std::move(watchdog.end)] {
        if (*finished) return;
        log("stop: unfinished after " + std::to_string(kStopDeadline.count()) + " s; ending without it");
        end(status);
    });
    services.stop(say);
    *finished = true;
    return status;
}

}  // namespace quintalis
