// How closely gestures keep their timing on the real clock: each pause's
// lateness against what was asked for, and each gesture's overhead beyond its
// nominal length. Reports go to a transport that only counts them.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <mutex>

#include "bluetooth/input.h"

using namespace quintalis;

namespace {

class CountingSink final : public ReportSink {
public:
    void send(ReportID, const Bytes&, const UUID&) override { ++count; }
    std::atomic<int> count{0};
};

// The real clock, measuring how late each sleep returns.
class MeasuringClock final : public Clock {
public:
    int64_t wallMillis() const override { return Clock::real().wallMillis(); }
    MonotonicTime now() const override { return Clock::real().now(); }
    void sleep(Duration duration) override {
        auto start = now();
        Clock::real().sleep(duration);
        double late = std::chrono::duration<double, std::micro>(now() - start - duration).count();
        std::lock_guard lock(mutex_);
        total_ += late;
        max_ = std::max(max_, late);
        ++count_;
    }
    void report(benchmark::State& state) {
        std::lock_guard lock(mutex_);
        state.counters["pause_late_mean_us"] = count_ ? total_ / count_ : 0;
        state.counters["pause_late_max_us"] = max_;
        state.counters["pauses"] = count_;
    }

private:
    std::mutex mutex_;
    double total_ = 0;
    double max_ = 0;
    int count_ = 0;
};

template <typename Gesture>
void measure(benchmark::State& state, double nominalSeconds, Gesture gesture) {
    CountingSink sink;
    MeasuringClock clock;
    Input input(UUID::fromName("bench"), sink, clock);
    double overheadTotal = 0;
    double overheadMax = 0;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        gesture(input);
        double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        double overhead = (took - nominalSeconds) * 1e6;
        overheadTotal += overhead;
        overheadMax = std::max(overheadMax, overhead);
        state.SetIterationTime(took);
    }
    clock.report(state);
    state.counters["overhead_mean_us"] = overheadTotal / static_cast<double>(state.iterations());
    state.counters["overhead_max_us"] = overheadMax;
}

void Tap(benchmark::State& state) {
    measure(state, 0.17, [](Input& input) { input.tap(0.5, 0.5); });
}

void Swipe(benchmark::State& state) {
    measure(state, 0.3 + 4 * Input::step, [](Input& input) { input.swipe({0.5, 0.8}, {0.5, 0.2}, 0.3); });
}

}  // namespace

BENCHMARK(Tap)->Iterations(100)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(Swipe)->Iterations(20)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
