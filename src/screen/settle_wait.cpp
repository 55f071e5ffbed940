#include "screen/settle_wait.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace quintalis {
namespace {

// A decimal number, fractions allowed and cut off; nothing for anything else.
std::optional<int64_t> decimal(const std::map<std::string, std::string>& query, const char* name) {
    auto found = query.find(name);
    if (found == query.end()) return std::nullopt;
    const std::string& text = found->second;
    double value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) {
        return std::nullopt;
    }
    // Far beyond any clock; keeps the conversion defined.
    return static_cast<int64_t>(std::clamp(value, -1e15, 1e15));
}

}  // namespace

void ChangeHistory::record(int64_t at) {
    times_.push_back(at);
    while (times_.size() > kLimit) times_.pop_front();
    last_ = at;
}

std::vector<int64_t> ChangeHistory::after(int64_t since) const {
    // A wall clock may step back, so the times are not assumed to be in order.
    std::vector<int64_t> found;
    for (int64_t time : times_) {
        if (time > since) found.push_back(time);
    }
    return found;
}

SettleRule SettleRule::fromQuery(const std::map<std::string, std::string>& query, int64_t now) {
    SettleRule rule;
    rule.since = now;
    auto take = [&](const char* name, int64_t& field) {
        if (auto value = decimal(query, name)) field = std::max<int64_t>(*value, 0);
    };
    take("since", rule.since);
    take("min", rule.min);
    take("quiet", rule.quiet);
    take("max", rule.max);
    take("first", rule.first);
    rule.max = std::min(rule.max, kLongest);
    return rule;
}

JSON SettleOutcome::json() const {
    return JSON{{"ok", true},
                {"waited_ms", waited},
                {"since_ms", elapsed},
                {"settled", settled},
                {"changes", changes},
                {"first_change_ms", firstChange},
                {"still_ms", still}};
}

bool lookForSettle(const SettleRule& rule, int64_t start, int64_t now, const ChangeReading& reading,
                   SettleOutcome& outcome) {
    outcome.waited = now - start;
    outcome.elapsed = now - rule.since;
    outcome.changes = reading.after.size();
    outcome.firstChange =
        reading.after.empty() ? -1 : *std::min_element(reading.after.begin(), reading.after.end()) - rule.since;
    outcome.still = now - reading.last;
    outcome.settled = false;
    if (outcome.elapsed >= rule.min) {
        outcome.settled = reading.after.empty() ? outcome.elapsed >= rule.first : outcome.still >= rule.quiet;
        if (outcome.settled) return true;
    }
    return std::max(outcome.elapsed, outcome.waited) >= rule.max;
}

SettleOutcome waitToSettle(Clock& clock, const SettleRule& rule,
                           const std::function<ChangeReading(int64_t since)>& read) {
    const int64_t start = clock.wallMillis();
    SettleOutcome outcome;
    while (true) {
        const int64_t now = clock.wallMillis();
        if (lookForSettle(rule, start, now, read(rule.since), outcome)) return outcome;
        clock.sleep(kSettlePoll);
    }
}

}  // namespace quintalis
