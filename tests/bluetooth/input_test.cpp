#include <gtest/gtest.h>

#include <cmath>
#include <atomic>
#include <condition_variable>
#include <future>
#include <limits>
#include <thread>

#include "bluetooth/input.h"
#include "support/fake_clock.h"
#include "support/recording_sink.h"

using namespace quintalis;
using namespace quintalis::testing;
using namespace std::chrono_literals;

namespace {

const UUID kHost = *UUID::parse("11111111-2222-3333-4444-555555555555");

struct Timeline {
    FakeClock clock;
    RecordingSink sink{clock};
    Input input{kHost, sink, clock};

    // Each report with its time since the gesture began, in milliseconds.
    std::vector<std::pair<Bytes, double>> reports() const {
        std::vector<std::pair<Bytes, double>> out;
        for (const auto& sent : sink.sent()) {
            out.emplace_back(sent.bytes, std::chrono::duration<double, std::milli>(sent.at).count());
        }
        return out;
    }
    double totalMs() const { return std::chrono::duration<double, std::milli>(clock.elapsed()).count(); }
};

void expectTimes(const std::vector<std::pair<Bytes, double>>& reports, const std::vector<double>& times) {
    ASSERT_EQ(reports.size(), times.size());
    for (size_t i = 0; i < times.size(); ++i) EXPECT_NEAR(reports[i].second, times[i], 1e-6) << i;
}

}  // namespace

TEST(Input, TapPlacesSettlesPressesHoldsAndReleases) {
    Timeline t;
    t.input.tap(0.5, 0.5);
    auto reports = t.reports();
    ASSERT_EQ(reports.size(), 3u);
    EXPECT_EQ(reports[0].first, (Bytes{0x00, 0x00, 0x40, 0x00, 0x40}));  // pointer at 16384, 16384
    EXPECT_EQ(reports[1].first, (Bytes{0x01, 0x00, 0x00, 0x00}));        // press in place
    EXPECT_EQ(reports[2].first, (Bytes{0x00, 0x00, 0x00, 0x00}));        // release
    expectTimes(reports, {0, 60, 140});
    EXPECT_NEAR(t.totalMs(), 170, 1e-6);
    EXPECT_EQ(t.sink.sent()[0].report, ReportID::absolutePointer);
    EXPECT_EQ(t.sink.sent()[1].report, ReportID::relativeMouse);
    EXPECT_EQ(t.sink.sent()[0].host, kHost);
}

TEST(Input, TapOutsideTheScreenIsClampedToItsEdges) {
    Timeline t;
    t.input.tap(-0.2, 1.7, 0.2);
    EXPECT_EQ(t.reports()[0].first, (Bytes{0x00, 0x00, 0x00, 0xFF, 0x7F}));
    expectTimes(t.reports(), {0, 60, 260});
}

TEST(Input, AnyHoldIsSafeAndANegativeOneCountsAsNone) {
    Timeline negative;
    negative.input.tap(0.5, 0.5, -1e10);
    expectTimes(negative.reports(), {0, 60, 60});  // the release's own pause stays whole
    EXPECT_NEAR(negative.totalMs(), 90, 1e-6);
    // Absurd lengths saturate instead of overflowing; the gesture still ends released.
    for (double hold : {1e300, std::numeric_limits<double>::infinity(), std::nan("")}) {
        Timeline t;
        t.input.tap(0.5, 0.5, hold);
        ASSERT_EQ(t.reports().size(), 3u) << hold;
        EXPECT_EQ(t.reports()[2].first, (Bytes{0, 0, 0, 0}));
    }
}

TEST(Input, SwipeStepsWithTheButtonHeld) {
    const std::pair<double, int> cases[] = {{0.3, 10}, {0.1, 3}, {0.05, 2}, {0.0, 2}};
    const Input::Point from{0.2, 0.9}, to{0.6, 0.1};
    for (auto [duration, steps] : cases) {
        SCOPED_TRACE(duration);
        Timeline t;
        t.input.swipe(from, to, duration);
        auto reports = t.reports();
        ASSERT_EQ(reports.size(), static_cast<size_t>(steps) + 3);
        // Placed at the start without the button, pressed in place, then the
        // steps along the line, the last exactly on the end point.
        EXPECT_EQ(reports[0].first, absolutePointerReport(0, pointerCoordinate(from.x), pointerCoordinate(from.y)));
        EXPECT_EQ(reports[1].first, (Bytes{1, 0, 0, 0}));
        std::vector<double> times{0, 60};
        for (int i = 1; i <= steps; ++i) {
            double along = static_cast<double>(i) / steps;
            EXPECT_EQ(reports[1 + i].first,
                      absolutePointerReport(1, pointerCoordinate(from.x + (to.x - from.x) * along),
                                            pointerCoordinate(from.y + (to.y - from.y) * along)))
                << "step " << i;
            times.push_back(90 + duration * 1000 * (i - 1) / steps);
        }
        EXPECT_EQ(reports.back().first, (Bytes{0, 0, 0, 0}));
        times.push_back(90 + duration * 1000);
        expectTimes(reports, times);
        EXPECT_NEAR(t.totalMs(), 120 + duration * 1000, 1e-6);
    }
}

TEST(Input, MoveKeepsTheButtonsOfTheMoment) {
    Timeline t;
    t.input.move(1, 0);
    EXPECT_EQ(t.reports()[0].first, (Bytes{0x00, 0xFF, 0x7F, 0x00, 0x00}));
    EXPECT_NEAR(t.totalMs(), 30, 1e-6);
}

TEST(Input, NudgeSplitsIntoChunksOfAtMost127) {
    Timeline t;
    t.input.nudge(300, -10, false);
    auto reports = t.reports();
    ASSERT_EQ(reports.size(), 3u);
    EXPECT_EQ(reports[0].first, relativeMouseReport(0, 127, -10));
    EXPECT_EQ(reports[1].first, relativeMouseReport(0, 127, 0));
    EXPECT_EQ(reports[2].first, relativeMouseReport(0, 46, 0));
    expectTimes(reports, {0, 30, 60});

    Timeline click;
    click.input.nudge(0, 0, true);
    EXPECT_EQ(click.reports().size(), 2u);
    expectTimes(click.reports(), {0, 80});
    EXPECT_NEAR(click.totalMs(), 110, 1e-6);
}

TEST(Input, TypePressesEachStrokeWithShiftAroundIt) {
    Timeline t;
    t.input.type("Hi!");
    auto reports = t.reports();
    ASSERT_EQ(reports.size(), 10u);  // 4 for H, 2 for i, 4 for !
    const std::vector<Bytes> expected{
        keyboardReport(2, 0), keyboardReport(2, 0x0B), keyboardReport(2, 0), keyboardReport(0, 0),
        keyboardReport(0, 0x0C), keyboardReport(0, 0),
        keyboardReport(2, 0), keyboardReport(2, 0x1E), keyboardReport(2, 0), keyboardReport(0, 0),
    };
    for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(reports[i].first, expected[i]) << i;
    EXPECT_NEAR(t.totalMs(), 300, 1e-6);
}

TEST(Input, UntypeableTextSendsNothing) {
    Timeline t;
    t.input.type("");
    try {
        t.input.type("caf\xC3\xA9!");
        FAIL() << "expected untypeable";
    } catch (const Input::InputError& error) {
        EXPECT_EQ(error.kind(), Input::InputError::Kind::untypeable);
        EXPECT_STREQ(error.what(), "cannot type \"\xC3\xA9\" with a US keyboard");
    }
    try {
        t.input.type("a\r\nb");
        FAIL() << "expected untypeable";
    } catch (const Input::InputError& error) {
        EXPECT_STREQ(error.what(), "cannot type \"\\r\\n\" with a US keyboard");
    }
    EXPECT_TRUE(t.sink.sent().empty());
    EXPECT_EQ(t.clock.elapsed(), Duration::zero());
}

TEST(Input, KeysByNameOrCharacterWithModifiers) {
    struct Case {
        std::string name;
        std::vector<std::string> modifiers;
        uint8_t code;
        uint8_t mask;
    };
    const Case cases[] = {
        {"Enter", {}, 0x28, 0},      {"a", {"CMD"}, 0x04, 0x08},        {"A", {}, 0x04, 0},
        {"!", {"shift"}, 0x1E, 0x02}, {"Delete", {"ctrl", "alt"}, 0x2A, 0x05},
    };
    for (const auto& c : cases) {
        Timeline t;
        t.input.key(c.name, c.modifiers);
        auto reports = t.reports();
        bool modified = c.mask != 0;
        ASSERT_EQ(reports.size(), modified ? 4u : 2u) << c.name;
        size_t keyIndex = modified ? 1 : 0;
        EXPECT_EQ(reports[keyIndex].first, keyboardReport(c.mask, c.code)) << c.name;
        if (modified) {
            EXPECT_EQ(reports[0].first, keyboardReport(c.mask, 0));
            EXPECT_EQ(reports[3].first, keyboardReport(0, 0));
        }
    }
}

TEST(Input, UnknownKeysAndModifiersSendNothing) {
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        {"", {}}, {"F13", {}}, {"ab", {}}, {"\xC3\xA9", {}}, {"a", {"hyper"}}};
    const char* messages[] = {"unknown key ", "unknown key F13", "unknown key ab", "unknown key \xC3\xA9",
                              "unknown key hyper"};
    for (size_t i = 0; i < std::size(cases); ++i) {
        Timeline t;
        try {
            t.input.key(cases[i].first, cases[i].second);
            ADD_FAILURE() << "expected unknownKey for " << cases[i].first;
        } catch (const Input::InputError& error) {
            EXPECT_EQ(error.kind(), Input::InputError::Kind::unknownKey);
            EXPECT_STREQ(error.what(), messages[i]);
        }
        EXPECT_TRUE(t.sink.sent().empty());
    }
}

TEST(Input, ConsumerKeyPressesAndReleases) {
    Timeline t;
    t.input.consumer(kHomeUsage);
    auto reports = t.reports();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0].first, (Bytes{0x23, 0x02}));
    EXPECT_EQ(reports[1].first, (Bytes{0x00, 0x00}));
    expectTimes(reports, {0, 80});
    EXPECT_NEAR(t.totalMs(), 110, 1e-6);
}

TEST(Input, OneHostsGesturesNeverInterleave) {
    FakeClock clock;
    RecordingSink sink(clock);
    Input input(kHost, sink, clock);
    std::vector<std::thread> callers;
    for (int i = 0; i < 8; ++i) callers.emplace_back([&, i] { input.tap(i / 10.0, 0.5); });
    for (auto& caller : callers) caller.join();
    auto sent = sink.sent();
    ASSERT_EQ(sent.size(), 24u);
    for (size_t i = 0; i < sent.size(); i += 3) {
        EXPECT_EQ(sent[i].report, ReportID::absolutePointer);
        EXPECT_EQ(sent[i + 1].bytes, (Bytes{1, 0, 0, 0}));
        EXPECT_EQ(sent[i + 2].bytes, (Bytes{0, 0, 0, 0}));
    }
}

namespace {

// A clock whose sleeps wait until the test lets them go, so a test can see
// which gestures are in progress at the same moment.
class GateClock final : public Clock {
public:
    int64_t wallMillis() const override { return 0; }
    MonotonicTime now() const override { return {}; }
    void sleep(Duration) override {
        std::unique_lock lock(mutex_);
        ++sleeping_;
        changed_.notify_all();
        changed_.wait(lock, [this] { return open_; });
        --sleeping_;
    }
    bool waitForSleepers(int count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, 5s, [&] { return sleeping_ >= count; });
    }
    void open() {
        std::lock_guard lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int sleeping_ = 0;
    bool open_ = false;
};

}  // namespace

TEST(Input, TwoHostsGesturesOverlap) {
    GateClock clock;
    FakeClock recordClock;
    RecordingSink sink(recordClock);
    Input first(kHost, sink, clock);
    Input second(UUID::fromName("other"), sink, clock);
    std::thread a([&] { first.tap(0.1, 0.1); });
    std::thread b([&] { second.tap(0.9, 0.9); });
    // Both are inside their first pause at once.
    EXPECT_TRUE(clock.waitForSleepers(2));
    clock.open();
    a.join();
    b.join();
    EXPECT_EQ(sink.sent().size(), 6u);
}

namespace {

// Runs one submitted task and waits for it; what it threw comes back as text.
std::string runSubmitted(Input& input, const std::function<void()>& gesture, Input::StopCheck stop) {
    std::promise<std::string> outcome;
    EXPECT_TRUE(input.submit(
        [&] {
            try {
                gesture();
                outcome.set_value("finished");
            } catch (const Input::Interrupted& stopped) {
                outcome.set_value(std::string(stopped.what()) + " / " + stopped.progress());
            }
        },
        8, std::move(stop)));
    return outcome.get_future().get();
}

// Stops once the sink holds `count` reports.
Input::StopCheck stopAfter(const RecordingSink& sink, size_t count) {
    return [&sink, count]() -> std::optional<std::string> {
        if (sink.sent().size() >= count) return "paused by the owner";
        return std::nullopt;
    };
}

}  // namespace

TEST(Input, AStoppedGestureReleasesWhatItHeldAndSaysHowFarItGot) {
    {
        Timeline t;  // "Hi!" sends 4 + 2 + 4 reports; stop once the i is down
        EXPECT_EQ(runSubmitted(t.input, [&] { t.input.type("Hi!"); }, stopAfter(t.sink, 5)),
                  "paused by the owner / paused after 2 of 3 characters");
        auto sent = t.sink.sent();
        ASSERT_EQ(sent.size(), 6u);
        EXPECT_EQ(sent[4].bytes, keyboardReport(0, 0x0C));
        EXPECT_EQ(sent[5].bytes, keyboardReport(0, 0));  // released, and nothing typed after
    }
    {
        Timeline t;  // a ten-second hold is cut short, and the button let go on both pointers
        EXPECT_EQ(runSubmitted(t.input, [&] { t.input.tap(0.25, 0.75, 10); }, stopAfter(t.sink, 2)),
                  "paused by the owner / paused during the tap");
        auto sent = t.sink.sent();
        ASSERT_EQ(sent.size(), 4u);
        EXPECT_EQ(sent[2].bytes, (Bytes{0, 0, 0, 0}));
        EXPECT_EQ(sent[3].bytes, absolutePointerReport(0, pointerCoordinate(0.25), pointerCoordinate(0.75)));
        EXPECT_LT(t.totalMs(), 60 + 150);
    }
    {
        Timeline t;  // stopped before it began: nothing sent, nothing to report
        EXPECT_EQ(runSubmitted(t.input, [&] { t.input.swipe({0, 0}, {1, 1}, 0.3); }, stopAfter(t.sink, 0)),
                  "paused by the owner / ");
        EXPECT_TRUE(t.sink.sent().empty());
    }
    {
        Timeline t;
        EXPECT_EQ(runSubmitted(t.input, [&] { t.input.swipe({0, 0}, {1, 1}, 0.3); }, stopAfter(t.sink, 5)),
                  "paused by the owner / paused after 3 of 10 swipe steps");
    }
    Timeline t;  // without a reason the gesture runs to its end
    EXPECT_EQ(runSubmitted(t.input, [&] { t.input.consumer(kHomeUsage); }, [] { return std::nullopt; }),
              "finished");
}

TEST(Input, SubmittedTasksWaitTheirTurnUpToALimit) {
    GateClock clock;
    FakeClock recordClock;
    RecordingSink sink(recordClock);
    Input input(kHost, sink, clock);
    std::atomic<int> finished{0};
    auto tap = [&] {
        input.tap(0.5, 0.5);
        ++finished;
    };
    ASSERT_TRUE(input.submit(tap, 2, {}));
    ASSERT_TRUE(clock.waitForSleepers(1));  // the first is running, so it no longer waits
    EXPECT_TRUE(input.submit(tap, 2, {}));
    EXPECT_TRUE(input.submit(tap, 2, {}));
    EXPECT_FALSE(input.submit(tap, 2, {}));
    clock.open();
    std::promise<void> drained;
    ASSERT_TRUE(input.submit([&] { drained.set_value(); }, 8, {}));
    drained.get_future().wait();
    EXPECT_EQ(finished.load(), 3);
}
