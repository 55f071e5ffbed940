#include "screen/settle_waits.h"

#include "base/thread_name.h"

namespace quintalis {

SettleWaits::SettleWaits(Clock& clock, std::string label, size_t budget)
    : clock_(clock), label_(std::move(label)), budget_(budget) {}

SettleWaits::~SettleWaits() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    if (thread_.joinable()) thread_.join();
    for (auto& pending : arriving_) {
        if (pending.waiter.drop) pending.waiter.drop();
    }
}

bool SettleWaits::add(Waiter waiter) {
    Pending pending{std::move(waiter), clock_.wallMillis(), {}};
    if (lookForSettle(pending.waiter.rule, pending.start, pending.start, pending.waiter.read(pending.waiter.rule.since),
                      pending.outcome)) {
        pending.waiter.answer(pending.outcome);
        return true;
    }
    {
        std::lock_guard lock(mutex_);
        if (looking_ + arriving_.size() >= budget_) return false;
        arriving_.push_back(std::move(pending));
        if (!running_) {
            // One that left has nothing more to do under this lock, so the join is short.
            if (thread_.joinable()) thread_.join();
            running_ = true;
            thread_ = std::thread([this] { run(); });
        }
    }
    return true;
}

size_t SettleWaits::pending() const {
    std::lock_guard lock(mutex_);
    return looking_ + arriving_.size();
}

std::string SettleWaits::refusal() const {
    return "too many waits: " + std::to_string(budget_) + " are pending";
}

void SettleWaits::run() {
    nameCurrentThread(label_);
    std::list<Pending> looking;
    while (true) {
        {
            std::lock_guard lock(mutex_);
            looking_ = looking.size();
            if (stopping_) break;
            if (arriving_.empty() && looking.empty()) {
                running_ = false;
                break;
            }
            for (auto& pending : arriving_) looking.push_back(std::move(pending));
            arriving_.clear();
            looking_ = looking.size();
        }
        // Each wait's first look was when it came; the next is one poll later.
        clock_.sleep(kSettlePoll);
        lookAtAll(looking);
    }
    for (auto& pending : looking) {
        if (pending.waiter.drop) pending.waiter.drop();
    }
}

void SettleWaits::lookAtAll(std::list<Pending>& looking) {
    for (auto it = looking.begin(); it != looking.end();) {
        Waiter& waiter = it->waiter;
        if (waiter.clientGone && waiter.clientGone()) {
            if (waiter.drop) waiter.drop();
            it = looking.erase(it);
            continue;
        }
        const int64_t now = clock_.wallMillis();
        if (lookForSettle(waiter.rule, it->start, now, waiter.read(waiter.rule.since), it->outcome)) {
            waiter.answer(it->outcome);
            it = looking.erase(it);
        } else {
            ++it;
        }
    }
}

}  // namespace quintalis
