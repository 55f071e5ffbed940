#include "base/exit_process.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "base/log.h"

namespace quintalis {

void exitProcess(int status) {
    // The stop's watchdog and main may both end the process at one moment;
    // the first one ends it, and the other waits for that rather than
    // flushing and exiting beside it.
    static std::atomic_flag ending = ATOMIC_FLAG_INIT;
    if (ending.test_and_set()) {
        for (;;) ::pause();
    }
    std::cout.flush();
    std::cerr.flush();
    std::fflush(nullptr);
    flushLog();
    std::quick_exit(status);
}

}  // namespace quintalis
