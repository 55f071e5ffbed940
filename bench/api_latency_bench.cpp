// The engine API's cost over loopback with a 1179 × 2556 virtual iPhone:
// GET /screenshot?maxEdge=1200 against the in-process snapshot of the same
// frame, and a tap's round trip beyond its nominal 0.17 s.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <asio.hpp>
#include <thread>

#include "support/engine_rig.h"

using namespace quintalis;

namespace {

bench::EngineRig& rig() {
    static bench::EngineRig* made = new bench::EngineRig();
    return *made;
}

// One request, the whole reply read; returns the reply's size.
size_t request(const std::string& text) {
    asio::io_context io;
    asio::ip::tcp::socket socket(io);
    socket.connect({asio::ip::make_address_v4("127.0.0.1"), rig().server.boundPort()});
    asio::write(socket, asio::buffer(text));
    std::string reply;
    std::error_code error;
    asio::read(socket, asio::dynamic_buffer(reply), error);
    return reply.size();
}

void percentiles(benchmark::State& state, std::vector<double>& ms) {
    std::sort(ms.begin(), ms.end());
    state.counters["p50_ms"] = ms[ms.size() / 2];
    state.counters["p95_ms"] = ms[ms.size() * 95 / 100];
}

template <typename Work>
void timed(benchmark::State& state, Work work) {
    std::vector<double> ms;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        work();
        double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        ms.push_back(took * 1000);
        state.SetIterationTime(took);
    }
    percentiles(state, ms);
}

void ScreenshotOverHTTP(benchmark::State& state) {
    timed(state, [] { benchmark::DoNotOptimize(request("GET /screenshot?maxEdge=1200 HTTP/1.1\r\n\r\n")); });
}

void SnapshotInProcess(benchmark::State& state) {
    auto screen = rig().capture.all().front();
    timed(state, [&] { benchmark::DoNotOptimize(screen->snapshot(false, std::nullopt, 1200)); });
}

void TapRoundTrip(benchmark::State& state) {
    const std::string body = R"({"x": 0.5, "y": 0.6, "fraction": true})";
    const std::string tap = "POST /tap HTTP/1.1\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    std::vector<double> beyond;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(request(tap));
        double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        beyond.push_back((took - 0.17) * 1000);
        state.SetIterationTime(took);
    }
    std::sort(beyond.begin(), beyond.end());
    state.counters["beyond_nominal_p50_ms"] = beyond[beyond.size() / 2];
    state.counters["beyond_nominal_max_ms"] = beyond.back();
}

}  // namespace

BENCHMARK(ScreenshotOverHTTP)->Iterations(200)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(SnapshotInProcess)->Iterations(200)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(TapRoundTrip)->Iterations(20)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
