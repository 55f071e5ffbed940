#include "app/model/receiver_keeper.h"

#include <algorithm>

#include "base/log.h"

namespace quintalis {

ReceiverKeeper::ReceiverKeeper(ReceiverProcess& process, Clock& clock, std::string name)
    : process_(process), clock_(clock), name_(std::move(name)) {}

ReceiverKeeper::~ReceiverKeeper() { stop(); }

void ReceiverKeeper::stop() {
    if (running_) process_.stop();
    running_ = false;
}

void ReceiverKeeper::check(bool wanted) {
    installed_ = process_.installed();
    if (running_) {
        if (auto how = process_.ended()) {
            running_ = false;
            problem_ = "UxPlay stopped: " + *how;
            log("airplay receiver: " + *how);
            // One that ran for a while gets a quick second chance; one that
            // keeps failing at once is tried less and less often.
            if (clock_.now() - startedAt_ >= kSteady) wait_ = Duration::zero();
            backOff();
        } else if (!wanted) {
            process_.stop();
            running_ = false;
            problem_.reset();
            wait_ = Duration::zero();
            return;
        } else {
            if (clock_.now() - startedAt_ >= kSteady) problem_.reset();
            return;
        }
    }
    if (!wanted) {
        problem_.reset();
        return;
    }
    if (clock_.now() < nextTry_) return;
    // Nobody asked here: a failure reaches the user through problem().
    (void)launch();
}

Outcome ReceiverKeeper::startNow() {
    installed_ = process_.installed();
    if (running_) return Outcome::success();
    wait_ = Duration::zero();
    return launch();
}

Outcome ReceiverKeeper::launch() {
    auto started = process_.start(name_);
    if (!started.ok()) {
        // Not installed yet is no failure to back off from: each refresh looks again.
        if (!installed_) {
            problem_ = started.message();
            return started;
        }
        problem_ = "UxPlay could not start: " + started.message();
        log("airplay receiver: " + started.message());
        backOff();
        return started;
    }
    running_ = true;
    startedAt_ = clock_.now();
    // A reason from before any exit is over; one from exits stays until it runs steadily.
    if (wait_ == Duration::zero()) problem_.reset();
    log("airplay receiver: started uxplay as " + name_);
    return Outcome::success();
}

void ReceiverKeeper::backOff() {
    wait_ = wait_ == Duration::zero() ? Duration(kFirstWait) : std::min<Duration>(wait_ * 2, kLongestWait);
    nextTry_ = clock_.now() + wait_;
}

}  // namespace quintalis
