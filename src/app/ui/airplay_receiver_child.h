#pragma once

#include <sys/types.h>

#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "app/model/receiver_keeper.h"

namespace quintalis {

// UxPlay, the AirPlay receiver, run as a child of the app: it ends when the
// app quits (or dies), unlike the programs ChildProcesses starts, which are
// meant to outlive it. What it prints goes to the log, line by line, from a
// thread of its own. Main thread only.
class AirPlayReceiverChild final : public ReceiverProcess {
public:
    ~AirPlayReceiverChild() override { stop(); }

    // Whether uxplay can be found on the PATH now.
    bool installed() override;
    // Starts uxplay showing itself to iPhones as `name`. Nothing when it
    // started (or already runs), else why not.
    Outcome start(const std::string& name) override;
    std::optional<std::string> ended() override;
    bool running();
    void stop() override;

private:
    // Notices that the child has exited, and how.
    void reap();
    // After the child has gone: waits for its last words.
    void joinReader();

    pid_t pid_ = -1;
    std::thread reader_;
    std::mutex mutex_;
    std::string lastLine_;  // under mutex_
    std::optional<std::string> endedHow_;
};

}  // namespace quintalis
