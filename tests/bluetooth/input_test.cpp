#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <functional>
#include <future>
#include <limits>
#include <thread>
#include <tuple>

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

}  // namespace

TEST(Input, EachGestureSendsItsReportsOnItsTimeline) {
    struct Case {
        const char* name;
        std::function<void(Input&)> gesture;
        std::vector<Bytes> reports;
        std::vector<double> times;
        double totalMs;
    };
    const Bytes press{1, 0, 0, 0}, release{0, 0, 0, 0};
    const auto key = keyboardReport;
    const auto at = [](uint8_t buttons, double x, double y) {
        return absolutePointerReport(buttons, pointerCoordinate(x), pointerCoordinate(y));
    };
    const Case cases[] = {
        // Placed (16384, 16384), settled, pressed in place, held, released.
        {"tap", [](Input& i) { i.tap(0.5, 0.5); }, {{0x00, 0x00, 0x40, 0x00, 0x40}, press, release}, {0, 60, 140}, 170},
        // The release's own pause stays whole.
        {"negative hold", [](Input& i) { i.tap(0.5, 0.5, -1e10); }, {{0x00, 0x00, 0x40, 0x00, 0x40}, press, release},
         {0, 60, 60}, 90},
        {"nudge in chunks of at most 127", [](Input& i) { i.nudge(300, -10, false); },
         {relativeMouseReport(0, 127, -10), relativeMouseReport(0, 127, 0), relativeMouseReport(0, 46, 0)},
         {0, 30, 60}, 90},
        // Placed without the button, pressed in place, stepped along the line
        // to the end point, released on the relative mouse, then on the
        // absolute pointer too.
        {"swipe", [](Input& i) { i.swipe({0.2, 0.9}, {0.6, 0.1}, 0.1); },
         {at(0, 0.2, 0.9), press, at(1, 0.2 + 0.4 / 3, 0.9 - 0.8 / 3), at(1, 0.2 + 0.8 / 3, 0.9 - 1.6 / 3), at(1, 0.6, 0.1),
          release, at(0, 0.6, 0.1)},
         {0, 60, 90, 90 + 100.0 / 3, 90 + 200.0 / 3, 190, 190}, 220},
        // Shift goes down before a shifted stroke and up after it.
        {"type", [](Input& i) { i.type("Hi!"); },
         {key(2, 0), key(2, 0x0B), key(2, 0), key(0, 0), key(0, 0x0C), key(0, 0), key(2, 0), key(2, 0x1E), key(2, 0),
          key(0, 0)},
         {0, 30, 60, 90, 120, 150, 180, 210, 240, 270}, 300},
        {"character key: no Shift implied", [](Input& i) { i.key("A", {}); }, {key(0, 0x04), key(0, 0)}, {0, 30}, 60},
        {"key with modifiers in any case", [](Input& i) { i.key("Delete", {"ctrl", "ALT"}); },
         {key(5, 0), key(5, 0x2A), key(5, 0), key(0, 0)}, {0, 30, 60, 90}, 120},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Timeline t;
        c.gesture(t.input);
        std::vector<Bytes> sent;
        for (const auto& [bytes, at] : t.reports()) sent.push_back(bytes);
        EXPECT_EQ(sent, c.reports);
        ASSERT_EQ(t.reports().size(), c.times.size());
        for (size_t i = 0; i < c.times.size(); ++i) EXPECT_NEAR(t.reports()[i].second, c.times[i], 1e-6) << i;
        EXPECT_NEAR(t.totalMs(), c.totalMs, 1e-6);
        for (const auto& report : t.sink.sent()) EXPECT_EQ(report.host, kHost);
    }
    // Absurd holds saturate instead of overflowing; the gesture still ends released.
    for (double hold : {1e300, std::numeric_limits<double>::infinity(), std::nan("")}) {
        Timeline t;
        t.input.tap(0.5, 0.5, hold);
        ASSERT_EQ(t.reports().size(), 3u) << hold;
        EXPECT_EQ(t.reports()[2].first, release);
    }
    // A swipe takes a step every 30 ms, and at least two.
    for (auto [duration, steps] : {std::pair{0.3, 10}, std::pair{0.05, 2}, std::pair{-1.0, 2}}) {
        Timeline t;
        t.input.swipe({0, 0}, {1, 1}, duration);
        EXPECT_EQ(t.reports().size(), static_cast<size_t>(steps) + 4) << duration;
        EXPECT_NEAR(t.totalMs(), 120 + std::max(duration, 0.0) * 1000, 1e-6) << duration;
    }
}

TEST(Input, RefusedTextAndKeysSendNothing) {
    using Kind = Input::InputError::Kind;
    const std::tuple<std::function<void(Input&)>, Kind, const char*> cases[] = {
        {[](Input& i) { i.type("caf\xC3\xA9!"); }, Kind::untypeable, "cannot type \"\xC3\xA9\" with a US keyboard"},
        {[](Input& i) { i.type("a\r\nb"); }, Kind::untypeable, "cannot type \"\\r\\n\" with a US keyboard"},
        {[](Input& i) { i.key("F13", {}); }, Kind::unknownKey, "unknown key F13"},
        {[](Input& i) { i.key("a", {"hyper"}); }, Kind::unknownKey, "unknown key hyper"},
    };
    for (const auto& [gesture, kind, message] : cases) {
        SCOPED_TRACE(message);
        Timeline t;
        try {
            gesture(t.input);
            ADD_FAILURE() << "not refused";
        } catch (const Input::InputError& error) {
            EXPECT_EQ(error.kind(), kind);
            EXPECT_STREQ(error.what(), message);
        }
        EXPECT_TRUE(t.sink.sent().empty());
        EXPECT_EQ(t.clock.elapsed(), Duration::zero());
    }
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
    for (size_t i = 0; i < sent.size(); i += 3) EXPECT_EQ(sent[i + 1].bytes, (Bytes{1, 0, 0, 0})) << i;
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
    const Bytes release{0, 0, 0, 0};
    const struct {
        std::function<void(Input&)> gesture;
        size_t stopAt;  // reports sent when the stop check first says stop
        const char* outcome;
        size_t total;             // reports sent in all
        std::vector<Bytes> last;  // the last of them
        double ms;                // time taken
    } cases[] = {
        // "Hi!" sends 4 + 2 + 4 reports: stopped once the i is down, released, nothing typed after.
        {[](Input& i) { i.type("Hi!"); }, 5, "paused by the owner / paused after 2 of 3 characters",
         6, {keyboardReport(0, 0x0C), keyboardReport(0, 0)}, 150},
        // A ten-second hold is cut short, and the button let go on both pointers.
        {[](Input& i) { i.tap(0.25, 0.75, 10); }, 2, "paused by the owner / paused during the tap",
         4, {release, absolutePointerReport(0, pointerCoordinate(0.25), pointerCoordinate(0.75))}, 160},
        // Stopped before it began: nothing sent, nothing to report.
        {[](Input& i) { i.swipe({0, 0}, {1, 1}, 0.3); }, 0, "paused by the owner / ", 0, {}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.outcome);
        Timeline t;
        EXPECT_EQ(runSubmitted(t.input, [&] { c.gesture(t.input); }, stopAfter(t.sink, c.stopAt)), c.outcome);
        auto sent = t.sink.sent();
        ASSERT_EQ(sent.size(), c.total);
        for (size_t i = 0; i < c.last.size(); ++i) EXPECT_EQ(sent[c.total - c.last.size() + i].bytes, c.last[i]);
        EXPECT_NEAR(t.totalMs(), c.ms, 1e-6);
    }
}

TEST(Input, PausesEndAtTheirDeadlinesHoweverLongEachReportTakes) {
    // A radio that takes 7 ms to send each report, on the gesture's own clock.
    struct SlowRadio final : ReportSink {
        explicit SlowRadio(FakeClock& clock) : clock(clock), recorded(clock) {}
        void send(ReportID report, const Bytes& bytes, const UUID& host) override {
            recorded.send(report, bytes, host);
            clock.advance(7ms);
        }
        FakeClock& clock;
        RecordingSink recorded;
    };
    for (bool submitted : {false, true}) {
        FakeClock clock;
        SlowRadio radio(clock);
        Input input(kHost, radio, clock);
        auto tap = [&] { input.tap(0.5, 0.5); };
        if (submitted) {
            runSubmitted(input, tap, [] { return std::nullopt; });
        } else {
            tap();
        }
        std::vector<Duration> times;
        for (const auto& sent : radio.recorded.sent()) times.push_back(sent.at);
        EXPECT_EQ(times, (std::vector<Duration>{0ms, 60ms, 140ms})) << submitted;
        EXPECT_EQ(clock.elapsed(), 170ms) << submitted;
    }
}

TEST(Input, SubmittedTasksWaitTheirTurnUpToALimitWhileAnotherHostsRun) {
    GateClock clock;
    FakeClock recordClock;
    RecordingSink sink(recordClock);
    Input input(kHost, sink, clock);
    Input other(UUID::fromName("other"), sink, clock);
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
    // Another host's gesture does not wait for this one's.
    std::thread elsewhere([&] { other.tap(0.9, 0.9); });
    EXPECT_TRUE(clock.waitForSleepers(2));
    clock.open();
    elsewhere.join();
    std::promise<void> drained;
    ASSERT_TRUE(input.submit([&] { drained.set_value(); }, 8, {}));
    drained.get_future().wait();
    EXPECT_EQ(finished.load(), 3);
    EXPECT_EQ(sink.sent().size(), 12u);
}
