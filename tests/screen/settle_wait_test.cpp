#include <gtest/gtest.h>

#include <condition_variable>
#include <map>
#include <mutex>
#include <set>

#include "screen/settle_wait.h"
#include "screen/settle_waits.h"
#include "support/eventually.h"
#include "support/fake_clock.h"

using namespace quintalis;
using namespace quintalis::testing;
using namespace std::chrono_literals;

namespace {

// A screen whose changes happen at fixed offsets from `origin`; each shows
// up only once the fake clock has reached it.
struct ScriptedScreen {
    FakeClock& clock;
    int64_t origin;
    std::vector<int64_t> offsets;
    int64_t lastBefore;  // the newest change before the script

    ChangeReading operator()(int64_t since) const {
        ChangeReading reading{{}, lastBefore};
        int64_t now = clock.wallMillis();
        for (int64_t offset : offsets) {
            int64_t at = origin + offset;
            if (at > now) break;
            reading.last = at;
            if (at > since) reading.after.push_back(at);
        }
        return reading;
    }
};

SettleRule ruleFrom(int64_t since) {
    SettleRule rule;
    rule.since = since;
    return rule;
}

}  // namespace

TEST(SettleWait, AStillScreenSettlesAfterFirst) {
    FakeClock clock;
    int64_t now = clock.wallMillis();
    auto outcome = waitToSettle(clock, ruleFrom(now), ScriptedScreen{clock, now, {}, now - 3000});
    EXPECT_EQ(outcome.json(), (JSON{{"ok", true}, {"waited_ms", 900}, {"since_ms", 900}, {"settled", true},
                                    {"changes", 0}, {"first_change_ms", -1}, {"still_ms", 3900}}));
    // Every look is 15 ms after the one before.
    for (auto sleep : clock.sleeps()) EXPECT_EQ(sleep, 15ms);

    // min holds back even a still screen.
    now = clock.wallMillis();
    SettleRule rule = ruleFrom(now);
    rule.min = 600;
    rule.first = 0;
    rule.quiet = 0;
    EXPECT_EQ(waitToSettle(clock, rule, ScriptedScreen{clock, now, {}, now - 3000}).waited, 600);
}

TEST(SettleWait, SettlesAQuietSpellAfterTheLastChange) {
    FakeClock clock;
    int64_t now = clock.wallMillis();
    auto outcome = waitToSettle(clock, ruleFrom(now), ScriptedScreen{clock, now, {60, 120, 300}, now - 3000});
    EXPECT_TRUE(outcome.settled);
    EXPECT_EQ(outcome.waited, 555);  // the first look at least 250 ms after 300
    EXPECT_EQ(outcome.changes, 3u);
    EXPECT_EQ(outcome.firstChange, 60);
    EXPECT_EQ(outcome.still, 255);

    // A look that falls exactly 250 ms after the change is quiet enough.
    FakeClock exact;
    now = exact.wallMillis();
    outcome = waitToSettle(exact, ruleFrom(now), ScriptedScreen{exact, now, {5}, now - 3000});
    EXPECT_TRUE(outcome.settled);
    EXPECT_EQ(outcome.waited, 255);
    EXPECT_EQ(outcome.still, 250);
}

TEST(SettleWait, LimitsCountFromSinceAndMaxEndsABusyScreen) {
    FakeClock clock;
    int64_t now = clock.wallMillis();
    // An action five seconds ago whose change has long settled: at once.
    auto late = waitToSettle(clock, ruleFrom(now - 5000), ScriptedScreen{clock, now - 5000, {100}, now - 9000});
    EXPECT_TRUE(late.settled);
    EXPECT_EQ(late.waited, 0);
    EXPECT_EQ(late.still, 4900);
    EXPECT_TRUE(clock.sleeps().empty());

    // A screen that keeps changing ends unsettled at the first look past max.
    now = clock.wallMillis();
    std::vector<int64_t> every100;
    for (int64_t t = 100; t <= 3000; t += 100) every100.push_back(t);
    auto busy = waitToSettle(clock, ruleFrom(now), ScriptedScreen{clock, now, every100, now - 3000});
    EXPECT_FALSE(busy.settled);
    EXPECT_EQ(busy.waited, 2505);
    EXPECT_EQ(busy.changes, 25u);

    // Nor can a `since` far ahead of this clock hold the caller past max.
    auto ahead = waitToSettle(clock, ruleFrom(now + 86'400'000), ScriptedScreen{clock, now, {}, now - 9000});
    EXPECT_FALSE(ahead.settled);
    EXPECT_EQ(ahead.waited, 2505);
}

TEST(SettleRule, ReadsTheQueryAndKeepsItsDefaultsForWhatIsNoNumber) {
    SettleRule rule = SettleRule::fromQuery(
        {{"since", "1767225600123.7"}, {"min", "abc"}, {"quiet", "-40"}, {"max", "1e9"}, {"first", ""}}, 1000);
    EXPECT_EQ(rule.since, 1767225600123);
    EXPECT_EQ(rule.min, 250);    // not a number
    EXPECT_EQ(rule.quiet, 0);    // below 0
    EXPECT_EQ(rule.max, 60000);  // capped
    EXPECT_EQ(rule.first, 900);  // empty
    EXPECT_EQ(SettleRule::fromQuery({{"since", "nan"}}, 7).since, 7);
}

TEST(ChangeHistory, KeepsTheNewest400AndFiltersStrictlyAfter) {
    ChangeHistory history;
    EXPECT_FALSE(history.last());
    for (int64_t t = 1; t <= 450; ++t) history.record(t);
    EXPECT_EQ(history.last(), 450);
    auto all = history.after(0);
    ASSERT_EQ(all.size(), 400u);
    EXPECT_EQ(all.front(), 51);
    EXPECT_EQ(history.after(449), std::vector<int64_t>{450});
    // A clock that stepped back still finds the later changes.
    history.record(10);
    EXPECT_EQ(history.after(440), (std::vector<int64_t>{441, 442, 443, 444, 445, 446, 447, 448, 449, 450}));
    EXPECT_EQ(history.last(), 10);
}

namespace {

// A fake clock that stands still, its sleeps blocked, until the test lets
// it run; from then on each sleep passes at once, as FakeClock's do.
class HeldClock final : public Clock {
public:
    int64_t wallMillis() const override { return clock_.wallMillis(); }
    MonotonicTime now() const override { return clock_.now(); }
    void sleep(Duration duration) override {
        std::unique_lock lock(mutex_);
        running_.wait(lock, [&] { return run_; });
        lock.unlock();
        clock_.sleep(duration);
    }
    void run() {
        {
            std::lock_guard lock(mutex_);
            run_ = true;
        }
        running_.notify_all();
    }

private:
    FakeClock clock_;
    std::mutex mutex_;
    std::condition_variable running_;
    bool run_ = false;
};

// What became of the waits of one test, filled in from the waits' thread.
struct Outcomes {
    std::mutex mutex;
    std::map<int, SettleOutcome> answered;
    std::set<int> dropped;
    std::set<int> gone;

    SettleWaits::Waiter waiter(int id, const SettleRule& rule, std::function<ChangeReading(int64_t)> read) {
        return {rule, std::move(read),
                [this, id](const SettleOutcome& outcome) {
                    std::lock_guard lock(mutex);
                    answered[id] = outcome;
                },
                [this, id] {
                    std::lock_guard lock(mutex);
                    return gone.count(id) > 0;
                },
                [this, id] {
                    std::lock_guard lock(mutex);
                    dropped.insert(id);
                }};
    }
    size_t settledCount() {
        std::lock_guard lock(mutex);
        return answered.size() + dropped.size();
    }
};

}  // namespace

TEST(SettleWaits, ManyWaitsShareOneThreadWithinABudget) {
    HeldClock clock;
    const int64_t now = clock.wallMillis();
    Outcomes outcomes;
    SettleWaits waits(clock, "test.settle", 64);
    const auto stillScreen = [now](int64_t) { return ChangeReading{{}, now - 3000}; };

    for (int id = 0; id < 64; ++id) {
        SettleRule rule = ruleFrom(now);
        rule.min = 0;
        rule.first = 100 + id;  // each settles at its own time
        ASSERT_TRUE(waits.add(outcomes.waiter(id, rule, stillScreen))) << id;
    }
    EXPECT_EQ(waits.pending(), 64u);
    EXPECT_FALSE(waits.add(outcomes.waiter(64, ruleFrom(now), stillScreen)));
    EXPECT_EQ(waits.refusal(), "too many waits: 64 are pending");
    // A wait that is over at its first look costs nothing, even now.
    ASSERT_TRUE(waits.add(outcomes.waiter(65, ruleFrom(now - 5000), stillScreen)));
    EXPECT_EQ(outcomes.settledCount(), 1u);
    EXPECT_EQ(outcomes.answered.at(65).waited, 0);

    // Clients that left are dropped at the next look, unanswered.
    for (int id = 0; id < 64; id += 2) outcomes.gone.insert(id);
    clock.run();
    ASSERT_TRUE(eventually([&] { return outcomes.settledCount() == 65 && waits.pending() == 0; }));
    EXPECT_EQ(outcomes.dropped.size(), 32u);
    for (int id = 1; id < 64; id += 2) {
        // Each one looked at every 15 ms from its start, as alone.
        const auto& outcome = outcomes.answered.at(id);
        EXPECT_TRUE(outcome.settled) << id;
        EXPECT_EQ(outcome.waited, (100 + id + 14) / 15 * 15) << id;
    }
}
