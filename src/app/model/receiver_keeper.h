#pragma once

#include <optional>
#include <string>

#include "base/clock.h"
#include "base/outcome.h"

namespace quintalis {

// The AirPlay receiver program as the keeper sees it.
class ReceiverProcess {
public:
    virtual ~ReceiverProcess() = default;

    // Whether the program can be found now (it may be installed while the app runs).
    virtual bool installed() = 0;
    // Starts it showing itself to iPhones as `name`. Success when it already runs.
    virtual Outcome start(const std::string& name) = 0;
    // How it ended ("exited with status 1: DNS-SD (Avahi) is not available"),
    // once, after it has; nothing while it runs or when it was not started.
    virtual std::optional<std::string> ended() = 0;
    virtual void stop() = 0;
};

// Keeps the AirPlay receiver running while AirPlay is the chosen link: it
// starts it, starts it again with a growing wait when it exits, and keeps
// the reason it stopped for the user. Main thread only; no call blocks.
class ReceiverKeeper {
public:
    static constexpr auto kFirstWait = std::chrono::seconds(2);
    static constexpr auto kLongestWait = std::chrono::seconds(60);
    // Running this long counts as working: the next exit waits kFirstWait again.
    static constexpr auto kSteady = std::chrono::seconds(30);

    ReceiverKeeper(ReceiverProcess& process, Clock& clock, std::string name);
    ~ReceiverKeeper();

    // One look, on each refresh: notices an exit, and starts or stops the
    // program as `wanted` says once the wait is over.
    void check(bool wanted);
    // The user asked: starts it now, whatever the wait.
    Outcome startNow();
    // The app quits: the receiver goes with it.
    void stop();

    bool installed() const { return installed_; }
    bool running() const { return running_; }
    // Why it is not running, or keeps stopping; nothing once it runs steadily
    // or is not wanted.
    const std::optional<std::string>& problem() const { return problem_; }

private:
    Outcome launch();
    void backOff();

    ReceiverProcess& process_;
    Clock& clock_;
    std::string name_;
    bool installed_ = false;
    bool running_ = false;
    MonotonicTime startedAt_{};
    MonotonicTime nextTry_{};
    Duration wait_ = Duration::zero();
    std::optional<std::string> problem_;
};

}  // namespace quintalis
