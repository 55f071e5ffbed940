#pragma once

#include <functional>
#include <list>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "screen/settle_wait.h"

namespace quintalis {

// Waits for still screens, many at once, without a thread each: one thread,
// named after `label`, looks at every pending wait each kSettlePoll and
// answers those that are over. The thread runs only while waits are
// pending, so an idle server keeps none (and its stop leaves none behind). A wait whose client has left ends at the
// next look, without an answer. At most `budget` waits are pending at once,
// so that waiting clients, each of which may wait a minute, cannot pile up
// without end; the other requests of a server never wait behind them.
//
// Any thread may add waits. Callbacks run on the adding thread (the first
// look) or on the waits' thread, never under its lock.
class SettleWaits {
public:
    static constexpr size_t kDefaultBudget = 64;

    struct Waiter {
        SettleRule rule;
        std::function<ChangeReading(int64_t since)> read;
        std::function<void(const SettleOutcome&)> answer;
        std::function<bool()> clientGone;  // may be empty: never gone
        std::function<void()> drop;        // ends the request of a client that has left; may be empty
    };

    SettleWaits(Clock& clock, std::string label, size_t budget = kDefaultBudget);
    // Drops the waits still pending: their clients get no answer.
    ~SettleWaits();
    SettleWaits(const SettleWaits&) = delete;
    SettleWaits& operator=(const SettleWaits&) = delete;

    // Looks once at once, answering a wait that is over already (a late
    // `since`); otherwise keeps it pending. False, and nothing done, when
    // the wait would be pending and `budget` waits are already.
    bool add(Waiter waiter);
    size_t budget() const { return budget_; }
    size_t pending() const;

    // "too many waits: <budget> are pending", for the client turned away.
    std::string refusal() const;

private:
    struct Pending {
        Waiter waiter;
        int64_t start;
        SettleOutcome outcome;
    };
    void run();
    // One look at each pending wait; those over leave `looking`.
    void lookAtAll(std::list<Pending>& looking);

    Clock& clock_;
    const std::string label_;
    const size_t budget_;
    mutable std::mutex mutex_;
    std::vector<Pending> arriving_;  // added, not yet taken by the waits' thread
    size_t looking_ = 0;             // held by the waits' thread
    bool running_ = false;           // the waits' thread has not yet left
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace quintalis
