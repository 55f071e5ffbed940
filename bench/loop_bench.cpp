// An agent's loop on the virtual iPhone through `quintalis mcp`: look with
// text, tap a label by its text, wait for the screen to settle, again. The
// taps open pages of Settings and go back, so every step changes the screen
// as an agent's step does.
//
// Per step, in ms:
// - picture: a look without text at the screen the last step left;
// - text: a look with text, less a look without text right after it (both
//   see the same screen, so the difference is what reading its text costs);
// - action: the tap by text without settling, beyond the tap's nominal 170;
// - settle: the engine's wait from the tap's start, beyond the moment the
//   screen's last change plus 250 ms of stillness allowed it to end.
// Then p50 and p95 of each column. Usage: loop_bench [steps, default 40];
// QUINTALIS_PROGRAM names another build of quintalis to measure.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/clock.h"
#include "base/json.h"
#include "base/http_client.h"
#include "support/mcp_process.h"

using namespace quintalis;
using namespace std::chrono_literals;

namespace {

constexpr double kNominalTapMs = 170;
constexpr double kQuietMs = 250;

// Into a page of Settings and back by its back button, in turn, so the
// pointer left by a tap never covers the next label.
const char* const kWalk[] = {"Accessibility", "Settings", "Bluetooth", "Settings",
                             "Notifications", "Settings", "Battery",   "Settings"};
constexpr int kWalkLength = sizeof(kWalk) / sizeof(kWalk[0]);

double msSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

template <typename Work>
double timed(Work work) {
    auto start = std::chrono::steady_clock::now();
    work();
    return msSince(start);
}

void expectSuccess(const JSON& result, const std::string& what) {
    if (result.value("isError", false)) throw std::runtime_error(what + ": " + result.dump());
}

struct Step {
    double picture, text, action, settle;
};

double percentile(std::vector<double> values, int percent) {
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, values.size() * static_cast<size_t>(percent) / 100)];
}

}  // namespace

int main(int argc, char** argv) {
    const int steps = argc > 1 ? std::max(1, std::atoi(argv[1])) : 40;
    bench::MCPProcess mcp("quintalis-loop-bench");
    HTTPClient http;
    const JSON picture{{"text", false}};
    const JSON withText = JSON::object();

    expectSuccess(mcp.tool("tap", JSON{{"text", "Settings"}}), "opening Settings");
    std::vector<Step> table;
    std::printf("%4s %-13s %9s %9s %9s %9s\n", "step", "tap", "picture", "text", "action", "settle");
    for (int i = 0; i < steps; ++i) {
        const char* label = kWalk[i % kWalkLength];
        Step step{};
        step.picture = timed([&] { expectSuccess(mcp.tool("look", picture), "look"); });
        double look = timed([&] { expectSuccess(mcp.tool("look", withText), "look with text"); });
        step.text = look - timed([&] { expectSuccess(mcp.tool("look", picture), "look"); });

        int64_t since = Clock::real().wallMillis();
        step.action = timed([&] {
            expectSuccess(mcp.tool("tap", JSON{{"text", label}, {"settle", false}}), std::string("tap ") + label);
        }) - kNominalTapMs;

        auto waitStart = std::chrono::steady_clock::now();
        double waitStartMs = static_cast<double>(Clock::real().wallMillis() - since);
        auto reply = http.get(mcp.engine() + "/wait?since=" + std::to_string(since), 10s);
        double waited = msSince(waitStart);
        JSON outcome = parseJSON(reply.body).value_or(JSON::object());
        // since_ms and still_ms place the last change after `since`.
        double lastChange = outcome.value("since_ms", 0.0) - outcome.value("still_ms", 0.0);
        step.settle = waitStartMs + waited - std::max(waitStartMs, lastChange + kQuietMs);

        table.push_back(step);
        std::printf("%4d %-13s %9.1f %9.1f %9.1f %9.1f\n", i + 1, label, step.picture, step.text, step.action,
                    step.settle);
    }
    auto column = [&](double Step::*member) {
        std::vector<double> values;
        for (const auto& step : table) values.push_back(step.*member);
        return values;
    };
    for (int percent : {50, 95}) {
        std::printf("p%-3d %-13s %9.1f %9.1f %9.1f %9.1f\n", percent, "", percentile(column(&Step::picture), percent),
                    percentile(column(&Step::text), percent), percentile(column(&Step::action), percent),
                    percentile(column(&Step::settle), percent));
    }
    return 0;
}
