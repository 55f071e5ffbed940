#include "base/exit_process.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "base/log.h"

namespace quintalis {

void exitProcess(int status) {
    std::cout.flush();
    std::cerr.flush();
    std::fflush(nullptr);
    flushLog();
    std::quick_exit(status);
}

}  // namespace quintalis
