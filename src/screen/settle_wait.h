#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "base/clock.h"
#include "base/json.h"

namespace quintalis {

// When a picture last changed visibly, in wall milliseconds since 1970.
// A plain value: its owner (a capture queue or lock) guards it.
class ChangeHistory {
public:
    static constexpr size_t kLimit = 400;

    // Remembers one visible change; the oldest go once kLimit are kept.
    void record(int64_t at);
    // The change times strictly after `since`, oldest first.
    std::vector<int64_t> after(int64_t since) const;
    // The newest change; nothing before the first picture.
    std::optional<int64_t> last() const { return last_; }

private:
    std::deque<int64_t> times_;
    std::optional<int64_t> last_;
};

// How long to wait for a screen to stop changing, in milliseconds. Every
// limit is measured from `since`, normally the moment an action began, so a
// late call for an old action may return at once.
struct SettleRule {
    int64_t since = 0;
    int64_t min = 250;    // never settled sooner
    int64_t quiet = 250;  // still for this long after the last change
    int64_t max = 2500;   // give up, unsettled
    int64_t first = 900;  // settled when nothing changed at all by then

    static constexpr int64_t kLongest = 60'000;

    // From the query items "since", "min", "quiet", "max" and "first": a
    // value that is absent or not a decimal number keeps its default, one
    // below 0 counts as 0, and "max" stops at kLongest so that one request
    // cannot hold its connection for hours.
    static SettleRule fromQuery(const std::map<std::string, std::string>& query, int64_t now);
};

// What a wait found; its JSON is the reply of a /wait route.
struct SettleOutcome {
    int64_t waited = 0;      // from the call to the last look, ms
    int64_t elapsed = 0;     // from `since` to the last look, ms
    bool settled = false;
    size_t changes = 0;      // changes after `since`
    int64_t firstChange = -1;  // first of them, ms after `since`; -1 without any
    int64_t still = 0;       // since the newest change, ms

    // {"ok", "waited_ms", "since_ms", "settled", "changes", "first_change_ms", "still_ms"}.
    JSON json() const;
};

// The change times after a given time, and the newest change overall.
struct ChangeReading {
    std::vector<int64_t> after;
    int64_t last = 0;
};

// How often a wait looks at the changes.
inline constexpr Duration kSettlePoll = std::chrono::milliseconds(15);

// One look, at `now`, of a wait that began at `start`: fills in `outcome`
// and says whether the wait is over (settled, or past `max`).
bool lookForSettle(const SettleRule& rule, int64_t start, int64_t now, const ChangeReading& reading,
                   SettleOutcome& outcome);

// Looks at the changes every kSettlePoll on `clock` until the rule says the
// screen has settled or the wait is over. Never waits longer than `max`
// from the call either, even for a `since` in the future. Blocks the
// calling thread.
SettleOutcome waitToSettle(Clock& clock, const SettleRule& rule,
                           const std::function<ChangeReading(int64_t since)>& read);

}  // namespace quintalis
