// What one poll of the app's model costs the main thread: refresh() itself
// (permissions, dispatching the requests) plus publishing what comes back,
// against a loopback engine and AirPlay service, with the real Linux
// permission sources (the X display on a private Xvfb). The time spent
// waiting for the answers on the model's own queue is not the main thread's
// and is not counted.
//
//   build/bench/app_state_bench

#include <benchmark/benchmark.h>

#include <algorithm>
#include <fstream>
#include <vector>

#include "app/model/app_state.h"
#include "platform/linux/no_capture_devices.h"
#include "platform/linux/posix_child_processes.h"
#include "platform/linux/proc_airplay_receiver.h"
#include "platform/linux/unsupported_peripheral_role.h"
#include "platform/linux/xcb_window_server.h"
#include "platform/linux/xdg_autostart.h"
#include "support/fake_clock.h"
#include "support/manual_main_thread.h"
#include "support/stub_service.h"
#include "support/temp_dir.h"
#include "support/xvfb.h"

using namespace quintalis;
using namespace quintalis::testing;

namespace {

// Times every task it runs: the main thread's share of the work.
class TimedMainThread final : public MainThread {
public:
    void post(Task task) override {
        inner.post([this, task = std::move(task)] {
            auto start = std::chrono::steady_clock::now();
            task();
            spent += std::chrono::steady_clock::now() - start;
        });
    }
    void postAfter(Duration delay, Task task) override { inner.postAfter(delay, std::move(task)); }
    bool isCurrent() const override { return inner.isCurrent(); }

    ManualMainThread inner;
    Duration spent{};
};

const char* kStatus = R"({"app": "Quintalis", "version": "dev", "paused": false,
    "bluetooth": "1 connected, advertising as Desk",
    "devices": [{"id": "00008110-000A1C", "name": "Ann's iPhone", "bluetooth": true, "width": 1179, "height": 2556},
                {"id": "00008120-000B2D", "name": "Test iPhone", "bluetooth": false, "width": 1290, "height": 2796}],
    "hosts": ["6F1C2B0A-9D1E-4C5B-8F0A-2E3D4C5B6A79"], "unmatchedHosts": []})";

void refreshCost(benchmark::State& state, AppValues::Link link) {
    TempDir home;
    StubbedServices services;
    auto& host = services.host;
    host.home = home.path();
    services.engineService.answerJSON(kStatus);
    services.airplayService.answerJSON(R"({"ok": true, "app": "quintalis-mirror", "permission": true,
        "candidates": [{"owner": "UxPlay", "number": 4194305}], "window": {"owner": "UxPlay", "number": 4194305}})");
    std::ofstream(home.path() / ".claude.json") << R"({"mcpServers": {"quintalis": {"command": "/q"}}})";

    UnsupportedPeripheralRole radio;
    NoCaptureDevices cameras;
    XDisplayLink display(Xvfb::display());
    XcbWindowServer windows(display);
    PosixChildProcesses processes;
    FakeClock clock;
    AIConnect ai{host, processes, clock, [] { return std::filesystem::path("/q"); }};
    XdgAutostart login(home.path() / "autostart/quintalis.desktop", [] { return std::filesystem::path("/q"); });
    ProcAirPlayReceiver receiver;
    TimedMainThread main;
    AppState model({services.engine, services.defaults, {radio, cameras, windows}, ai, login, receiver, main});
    model.setLinkChoice(link);

    std::vector<double> micros;
    for (auto _ : state) {
        main.spent = {};
        bool done = false;
        auto start = std::chrono::steady_clock::now();
        model.refresh([&done] { done = true; });
        Duration refreshing = std::chrono::steady_clock::now() - start;
        if (!main.inner.runUntil([&done] { return done; })) state.SkipWithError("a poll never finished");
        state.SetIterationTime(toSeconds(refreshing + main.spent));
        micros.push_back(toSeconds(refreshing + main.spent) * 1e6);
    }
    std::sort(micros.begin(), micros.end());
    state.counters["p50_us"] = micros[micros.size() / 2];
    state.counters["p99_us"] = micros[micros.size() * 99 / 100];
    state.counters["max_us"] = micros.back();
    if (!model.values().engineUp || model.values().phones.size() != 2) state.SkipWithError("the engine was not read");
}

void BM_RefreshOnTheMainThread_Cable(benchmark::State& state) { refreshCost(state, AppValues::Link::cable); }
void BM_RefreshOnTheMainThread_AirPlay(benchmark::State& state) { refreshCost(state, AppValues::Link::airplay); }

BENCHMARK(BM_RefreshOnTheMainThread_Cable)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(2000);
BENCHMARK(BM_RefreshOnTheMainThread_AirPlay)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(2000);

}  // namespace

BENCHMARK_MAIN();
