#include <gtest/gtest.h>

#include "base/settle_wait.h"
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
}

TEST(SettleWait, AScreenThatKeepsChangingEndsUnsettledAtMax) {
    FakeClock clock;
    int64_t now = clock.wallMillis();
    std::vector<int64_t> every100;
    for (int64_t t = 100; t <= 3000; t += 100) every100.push_back(t);
    auto outcome = waitToSettle(clock, ruleFrom(now), ScriptedScreen{clock, now, every100, now - 3000});
    EXPECT_FALSE(outcome.settled);
    EXPECT_EQ(outcome.waited, 2505);  // the first look at or past 2500
    EXPECT_EQ(outcome.changes, 25u);
}

TEST(SettleWait, MinHoldsBackEvenAStillScreen) {
    FakeClock clock;
    int64_t now = clock.wallMillis();
    SettleRule rule = ruleFrom(now);
    rule.min = 600;
    rule.first = 0;
    rule.quiet = 0;
    EXPECT_EQ(waitToSettle(clock, rule, ScriptedScreen{clock, now, {}, now - 3000}).waited, 600);
}

TEST(SettleWait, LimitsCountFromSince) {
    FakeClock clock;
    int64_t now = clock.wallMillis();
    // An action five seconds ago whose change has long settled: at once.
    auto late = waitToSettle(clock, ruleFrom(now - 5000), ScriptedScreen{clock, now - 5000, {100}, now - 9000});
    EXPECT_TRUE(late.settled);
    EXPECT_EQ(late.waited, 0);
    EXPECT_EQ(late.elapsed, 5000);
    EXPECT_EQ(late.firstChange, 100);
    EXPECT_EQ(late.still, 4900);
    EXPECT_TRUE(clock.sleeps().empty());

    // A `since` far ahead of this clock cannot hold the caller past max.
    auto ahead = waitToSettle(clock, ruleFrom(now + 86'400'000), ScriptedScreen{clock, now, {}, now - 9000});
    EXPECT_FALSE(ahead.settled);
    EXPECT_EQ(ahead.waited, 2505);
}

TEST(SettleRule, ReadsTheQueryAndKeepsItsDefaults) {
    SettleRule fallback = SettleRule::fromQuery({}, 1000);
    EXPECT_EQ(fallback.since, 1000);
    EXPECT_EQ(fallback.min, 250);
    EXPECT_EQ(fallback.quiet, 250);
    EXPECT_EQ(fallback.max, 2500);
    EXPECT_EQ(fallback.first, 900);

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
