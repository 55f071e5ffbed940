#include "support/load_run.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <thread>

#include "base/json.h"
#include "support/raw_http.h"

namespace quintalis::testing {
namespace {

struct Outcome {
    bool answered = false;
    bool crossed = false;
    std::string detail;
};

// Answers slower than this count as lost: far beyond any wait under load.
constexpr int kAnswerTimeoutMs = 30'000;

Outcome ask(uint16_t port, const std::string& route, const std::string& device) {
    std::string request;
    if (route == "POST /tap") {
        const std::string body = JSON{{"device", device}, {"x", 0.5}, {"y", 0.02}, {"fraction", true}}.dump();
        request = "POST /tap HTTP/1.1\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    } else if (route == "GET /screenshot") {
        request = "GET /screenshot?device=" + device + "&maxEdge=1000 HTTP/1.1\r\n\r\n";
    } else {
        request = "GET /status HTTP/1.1\r\n\r\n";
    }
    RawConnection connection(port);
    connection.send(request);
    auto raw = connection.readAll(kAnswerTimeoutMs);
    if (!raw) return {false, false, route + ": no answer"};
    ParsedReply reply = parseReply(*raw);
    if (reply.status != 200) return {false, false, route + ": " + std::to_string(reply.status) + " " + reply.body.substr(0, 200)};
    if (route == "GET /screenshot" && reply.head.find("\r\nX-Device: " + device + "\r\n") == std::string::npos) {
        return {true, true, route + " for " + device + " answered with " + reply.head};
    }
    if (route == "POST /tap") {
        auto json = parseJSON(reply.body);
        if (!json || json->value("device", "") != device) return {true, true, route + " for " + device + ": " + reply.body};
    }
    return {true, false, ""};
}

}  // namespace

int LoadFigures::failed() const {
    int total = 0;
    for (const auto& [route, figures] : routes) total += figures.failed;
    return total;
}

int LoadFigures::crossed() const {
    int total = 0;
    for (const auto& [route, figures] : routes) total += figures.crossed;
    return total;
}

std::string LoadFigures::table() const {
    std::string text = "route             requests   p50 ms   p99 ms  failed  crossed\n";
    for (const auto& [route, figures] : routes) {
        char line[160];
        std::snprintf(line, sizeof line, "%-16s %9zu %8.1f %8.1f %7d %8d\n", route.c_str(), figures.millis.size(),
                      percentile(figures.millis, 50), percentile(figures.millis, 99), figures.failed, figures.crossed);
        text += line;
    }
    return text;
}

double percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    auto rank = static_cast<size_t>(std::ceil(p / 100 * static_cast<double>(values.size())));
    return values[std::clamp<size_t>(rank, 1, values.size()) - 1];
}

LoadFigures runLoad(uint16_t port, const std::vector<std::string>& devices, int clients,
                    std::chrono::milliseconds length) {
    LoadFigures figures;
    std::mutex mutex;
    const auto until = std::chrono::steady_clock::now() + length;
    std::vector<std::thread> threads;
    for (int i = 0; i < clients; ++i) {
        const std::string& device = devices[static_cast<size_t>(i) % devices.size()];
        const char* route = i % 4 == 0 ? "POST /tap" : i % 4 == 1 ? "GET /status" : "GET /screenshot";
        threads.emplace_back([&, device, route] {
            while (std::chrono::steady_clock::now() < until) {
                auto start = std::chrono::steady_clock::now();
                Outcome outcome = ask(port, route, device);
                double millis = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
                std::lock_guard lock(mutex);
                RouteFigures& tally = figures.routes[route];
                tally.millis.push_back(millis);
                tally.failed += outcome.answered ? 0 : 1;
                tally.crossed += outcome.crossed ? 1 : 0;
                if (!outcome.detail.empty() && figures.problems.size() < 10) figures.problems.push_back(outcome.detail);
            }
        });
    }
    for (auto& thread : threads) thread.join();
    return figures;
}

}  // namespace quintalis::testing
