#include "engine/entry.h"

#include <csignal>
#include <iostream>
#include <pthread.h>
#include <thread>

#include "base/main_run_loop.h"
#include "base/thread_name.h"
#include "engine/app_info.h"
#include "engine/app_log.h"
#include "engine/engine.h"
#include "mirror/mirror_command.h"

namespace quintalis {
namespace {

std::vector<std::string> storedArguments;

// SIGINT and SIGTERM are taken by one thread with sigwait, so the main run
// loop can end cleanly instead of being interrupted wherever it is.
void stopMainLoopOnSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::thread([signals] {
        nameCurrentThread("quintalis.signals");
        int received = 0;
        sigwait(&signals, &received);
        log(std::string("quitting on ") + (received == SIGINT ? "SIGINT" : "SIGTERM"));
        MainRunLoop::shared().stop();
    }).detach();
}

int runApp() {
    stopMainLoopOnSignals();
    MainRunLoop::shared().post([] {
        log("Quintalis " + AppInfo::shared().version() + " starting headless");
        Engine::shared().start();
    });
    MainRunLoop::shared().run();
    AppLog::shared().flush();
    return 0;
}

}  // namespace

const std::vector<std::string>& processArguments() { return storedArguments; }

int runEntry(const std::vector<std::string>& arguments) {
    storedArguments = arguments;
    const std::string first = arguments.size() > 1 ? arguments[1] : "";
    if (first == "--version") {
        std::cout << "Quintalis " << AppInfo::shared().version() << "\n";
        return 0;
    }
    if (first == "--render-steps") {
        // The wizard's screens are drawn by the desktop app, which this build does not include.
        std::cerr << "usage: QuintalisApp --render-steps <dir> [--image phone.jpg]\n";
        return 1;
    }
    if (!first.empty() && first[0] != '-' && mirrorCommand(arguments)) return 0;
    return runApp();
}

}  // namespace quintalis
