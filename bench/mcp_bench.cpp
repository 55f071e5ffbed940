// `quintalis mcp` with its own engine and one virtual iPhone, driven over
// its standard input and output as an AI client does:
// - look without text against the engine's GET /screenshot?maxEdge=1200
//   alone, same phone, same run (target: at most 1.3 times);
// - look with text, for what recognition adds;
// - tap with settling against the engine's own POST /tap then GET /wait,
//   each counted beyond the tap's nominal 0.17 s or, when later, the
//   phone's last change plus the 0.25 s of stillness that settling needs.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <thread>

#include "base/json.h"
#include "mcp/http_client.h"
#include "support/raw_http.h"

using namespace quintalis;
using namespace std::chrono_literals;

namespace {

constexpr double kNominalTapMs = 170;
constexpr double kQuietMs = 250;

// The program under test, its pipes and its engine's port.
class MCPProcess {
public:
    MCPProcess() : enginePort_(testing::freePort()) {
        int toChild[2], fromChild[2];
        if (pipe(toChild) != 0 || pipe(fromChild) != 0) throw std::runtime_error("no pipes");
        std::string home = "/tmp/quintalis-mcp-bench";
        pid_ = fork();
        if (pid_ == 0) {
            dup2(toChild[0], STDIN_FILENO);
            dup2(fromChild[1], STDOUT_FILENO);
            for (int end : {toChild[0], toChild[1], fromChild[0], fromChild[1]}) close(end);
            int log = open((home + ".log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(log, STDERR_FILENO);
            setenv("QUINTALIS_SIMULATOR", "1", 1);
            setenv("QUINTALIS_ENGINE_PORT", std::to_string(enginePort_).c_str(), 1);
            setenv("QUINTALIS_AIRPLAY_PORT", std::to_string(testing::freePort()).c_str(), 1);
            for (const char* name : {"XDG_STATE_HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME"}) setenv(name, home.c_str(), 1);
            execl(QUINTALIS_EXECUTABLE, QUINTALIS_EXECUTABLE, "mcp", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(toChild[0]);
        close(fromChild[1]);
        in_ = toChild[1];
        out_ = fdopen(fromChild[0], "r");
        call("initialize", JSON{{"protocolVersion", "2025-11-25"}, {"capabilities", JSON::object()},
                                {"clientInfo", JSON{{"name", "bench"}, {"version", "1"}}}});
        for (int i = 0; i < 600; ++i) {
            std::string phones = tool("phones", JSON::object()).dump();
            if (phones.find("px, Bluetooth connected") != std::string::npos) return;  // a frame and a host
            std::this_thread::sleep_for(100ms);
        }
        throw std::runtime_error("the virtual iPhone did not connect");
    }
    ~MCPProcess() {
        close(in_);
        waitpid(pid_, nullptr, 0);
        fclose(out_);
    }

    // The reply line as it came, read whole but not parsed: parsing is the client's own cost.
    std::string exchange(const std::string& method, const JSON& params) {
        std::string line = JSON{{"jsonrpc", "2.0"}, {"id", ++id_}, {"method", method}, {"params", params}}.dump() + "\n";
        if (write(in_, line.data(), line.size()) != static_cast<ssize_t>(line.size())) throw std::runtime_error("write");
        ssize_t got = getline(&reply_, &capacity_, out_);
        if (got <= 0) throw std::runtime_error("quintalis mcp closed its output");
        return std::string(reply_, got);
    }
    JSON call(const std::string& method, const JSON& params) {
        std::string text = exchange(method, params);
        auto parsed = parseJSON(text);
        if (!parsed || !parsed->contains("result")) throw std::runtime_error("no result: " + text);
        return (*parsed)["result"];
    }
    JSON tool(const std::string& name, const JSON& arguments) {
        return call("tools/call", JSON{{"name", name}, {"arguments", arguments}});
    }
    std::string engine() const { return "http://127.0.0.1:" + std::to_string(enginePort_); }

private:
    uint16_t enginePort_;
    pid_t pid_ = -1;
    int in_ = -1;
    FILE* out_ = nullptr;
    int id_ = 0;
    char* reply_ = nullptr;
    size_t capacity_ = 0;
};

MCPProcess& process() {
    static MCPProcess* made = new MCPProcess();
    return *made;
}

mcp::HTTPClient& http() {
    static mcp::HTTPClient client;
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
