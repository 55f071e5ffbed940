// `quintalis mcp` with its own engine and one virtual iPhone, driven over
// its standard input and output as an AI client does:
// - look without text against the engine's GET /screenshot?maxEdge=1200
//   alone, same phone, same run (target: at most 1.3 times);
// - look with text, for what recognition adds;
// - tap with settling against the engine's own POST /tap then GET /wait,
//   each counted beyond the tap's nominal 0.17 s or, when later, the
//   phone's last change plus the 0.25 s of stillness that settling needs.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <stdexcept>

#include "base/json.h"
#include "base/http_client.h"
#include "support/mcp_process.h"

using namespace quintalis;
using namespace std::chrono_literals;

namespace {

constexpr double kNominalTapMs = 170;
constexpr double kQuietMs = 250;

bench::MCPProcess& process() {
    static bench::MCPProcess* made = new bench::MCPProcess("quintalis-mcp-bench");
    return *made;
}

HTTPClient& http() {
    static HTTPClient client;
    return client;
}

double sinceMs(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

void report(benchmark::State& state, std::vector<double> ms, const char* name) {
    std::sort(ms.begin(), ms.end());
    state.counters[std::string(name) + "_p50_ms"] = ms[ms.size() / 2];
    state.counters[std::string(name) + "_p95_ms"] = ms[ms.size() * 95 / 100];
}

// One screenshot straight from the engine and one look through the MCP
// server in turn, so both meet the same load.
void LookAgainstScreenshot(benchmark::State& state) {
    std::string url = process().engine() + "/screenshot?maxEdge=1200";
    JSON look{{"name", "look"}, {"arguments", JSON{{"text", false}}}};
    std::vector<double> screenshots, looks;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        auto reply = http().get(url, 10s);
        screenshots.push_back(sinceMs(start));
        if (reply.status != 200) throw std::runtime_error(reply.body);
        start = std::chrono::steady_clock::now();
        std::string answer = process().exchange("tools/call", look);
        looks.push_back(sinceMs(start));
        if (answer.find("\"type\":\"image\"") == std::string::npos) throw std::runtime_error(answer);
        state.SetIterationTime(looks.back() / 1000);
    }
    report(state, screenshots, "screenshot");
    report(state, looks, "look");
    state.counters["look_over_screenshot_p50"] = state.counters["look_p50_ms"] / state.counters["screenshot_p50_ms"];
}

void LookWithText(benchmark::State& state) {
    std::vector<double> ms;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(process().tool("look", JSON::object()));
        ms.push_back(sinceMs(start));
        state.SetIterationTime(ms.back() / 1000);
    }
    report(state, ms, "look");
}

// Taps two empty spots of the home screen in turn, so each moves the pointer and nothing else.
const double kSpots[2][2] = {{0.5, 0.62}, {0.3, 0.66}};

// How long the tap took beyond what it must take: the gesture's nominal
// length, or the phone's last change plus the stillness settling asks for,
// whichever ends later. The engine tells when the last change was.
double beyondNeeded(int64_t since, double took) {
    auto reply = http().get(process().engine() + "/wait?min=0&max=0&since=" + std::to_string(since), 10s);
    JSON wait = parseJSON(reply.body).value_or(JSON::object());
    double lastChange = wait.value("since_ms", 0.0) - wait.value("still_ms", 0.0);
    return took - std::max(kNominalTapMs, lastChange + kQuietMs);
}

template <typename Tap>
void tapping(benchmark::State& state, Tap tap) {
    std::vector<double> totals, beyond;
    int turn = 0;
    for (auto _ : state) {
        const double* spot = kSpots[turn++ % 2];
        int64_t since = Clock::real().wallMillis();
        auto start = std::chrono::steady_clock::now();
        tap(spot, since);
        double took = sinceMs(start);
        totals.push_back(took);
        beyond.push_back(beyondNeeded(since, took));
        state.SetIterationTime(took / 1000);
    }
    report(state, totals, "total");
    report(state, beyond, "beyond");
}

void TapAndWaitOnTheEngine(benchmark::State& state) {
    tapping(state, [](const double* spot, int64_t since) {
        http().post(process().engine() + "/tap", JSON{{"x", spot[0]}, {"y", spot[1]}, {"fraction", true}}.dump(), 10s);
        http().get(process().engine() + "/wait?since=" + std::to_string(since), 10s);
    });
}

void TapWithSettle(benchmark::State& state) {
    tapping(state, [](const double* spot, int64_t) {
        auto result = process().tool(
            "tap", JSON{{"x", spot[0] * 1000}, {"y", spot[1] * 1000}, {"imageWidth", 1000}, {"imageHeight", 1000}});
        if (result.value("isError", false)) throw std::runtime_error(result.dump());
    });
}

}  // namespace

BENCHMARK(LookAgainstScreenshot)->Iterations(100)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(LookWithText)->Iterations(20)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(TapAndWaitOnTheEngine)->Iterations(20)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(TapWithSettle)->Iterations(20)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
