#include "engine/connection_roster.h"

namespace quintalis {

ConnectionRoster::Admission ConnectionRoster::admit(ID id, MonotonicTime now) {
    Admission admission;
    if (open_.size() >= capacity_) {
        if (waiting_.empty()) return admission;
        admission.evicted = waiting_.begin()->second;
        forget(*admission.evicted);
    }
    open_[id] = now;
    waiting_.emplace(now, id);
    admission.admitted = true;
    return admission;
}

void ConnectionRoster::requestRead(ID id) {
    auto found = open_.find(id);
    if (found == open_.end() || !found->second) return;
    waiting_.erase({*found->second, id});
    found->second.reset();
}

void ConnectionRoster::closed(ID id) { forget(id); }

std::vector<ConnectionRoster::ID> ConnectionRoster::expire(MonotonicTime now) {
    std::vector<ID> expired;
    while (!waiting_.empty() && waiting_.begin()->first + timeout_ <= now) {
        expired.push_back(waiting_.begin()->second);
        forget(expired.back());
    }
    return expired;
}

std::optional<MonotonicTime> ConnectionRoster::nextDeadline() const {
    if (waiting_.empty()) return std::nullopt;
    return waiting_.begin()->first + timeout_;
}

void ConnectionRoster::forget(ID id) {
    auto found = open_.find(id);
    if (found == open_.end()) return;
    if (found->second) waiting_.erase({*found->second, id});
    open_.erase(found);
}

}  // namespace quintalis
