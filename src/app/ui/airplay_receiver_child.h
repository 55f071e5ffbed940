#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

namespace quintalis {

// UxPlay, the AirPlay receiver, run as a child of the app: it ends when the
// app quits (or dies), unlike the programs ChildProcesses starts, which are
// meant to outlive it. Main thread only.
class AirPlayReceiverChild {
public:
    ~AirPlayReceiverChild() { stop(); }

    // Whether uxplay can be found on the PATH.
    static bool installed();
    // Starts uxplay showing itself to iPhones as `name`. Nothing when it
    // started (or already runs), else why not.
    std::optional<std::string> start(const std::string& name);
    bool running();
    void stop();

private:
    pid_t pid_ = -1;
};

}  // namespace quintalis
