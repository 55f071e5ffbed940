// Read latencies while one virtual iPhone has 100 actions queued: GET
// /status, /devices, /screenshot and /simulator, each asked 25 times in a
// row as soon as the actions are in. Run twice: with the waiting limit
// raised to 100, so that all 100 really wait, and with the engine's own
// limit of 8, which answers the rest 429 at once.
// Usage: build/bench/starvation_bench
#include <asio.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

#include "support/engine_rig.h"

using namespace quintalis;
using Steady = std::chrono::steady_clock;

namespace {

std::string request(const std::string& method, const std::string& target, const std::string& body = "") {
    return method + " " + target + " HTTP/1.1\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// The whole reply of one request, and how long it took in milliseconds.
std::pair<std::string, double> timed(asio::io_context& io, uint16_t port, const std::string& text) {
    auto start = Steady::now();
    asio::ip::tcp::socket socket(io);
    socket.connect({asio::ip::make_address_v4("127.0.0.1"), port});
    asio::write(socket, asio::buffer(text));
    std::string reply;
    std::error_code error;
    asio::read(socket, asio::dynamic_buffer(reply), error);
    return {reply, std::chrono::duration<double, std::milli>(Steady::now() - start).count()};
}

void run(size_t maxWaiting) {
    bench::EngineRig rig(RouteOptions{{}, maxWaiting});
    const uint16_t port = rig.server.boundPort();
    asio::io_context io;
    const std::string tap = request("POST", "/tap", R"({"x": 0.5, "y": 0.5, "fraction": true})");
    std::vector<asio::ip::tcp::socket> actions;
    for (int i = 0; i < 100; ++i) {
        actions.emplace_back(io);
        actions.back().connect({asio::ip::make_address_v4("127.0.0.1"), port});
        asio::write(actions.back(), asio::buffer(tap));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // let the server queue them

    std::printf("waiting limit %zu, 100 taps sent (about 0.17 s each):\n", maxWaiting);
    std::printf("  %-28s %8s %8s %8s\n", "read", "p50 ms", "p95 ms", "max ms");
    for (const char* target : {"/status", "/devices", "/screenshot", "/screenshot?maxEdge=1200", "/simulator"}) {
        std::vector<double> ms;
        for (int i = 0; i < 25; ++i) {
            auto [reply, took] = timed(io, port, request("GET", target));
            if (reply.rfind("HTTP/1.1 200", 0) != 0) std::printf("  %s answered %.12s\n", target, reply.c_str());
            ms.push_back(took);
        }
        std::sort(ms.begin(), ms.end());
        std::printf("  GET %-24s %8.1f %8.1f %8.1f\n", target, ms[ms.size() / 2], ms[ms.size() * 95 / 100], ms.back());
    }
    int done = 0, refused = 0, other = 0;
    for (auto& socket : actions) {
        std::string reply;
        std::error_code error;
        asio::read(socket, asio::dynamic_buffer(reply), error);
        if (reply.rfind("HTTP/1.1 200", 0) == 0) {
            ++done;
        } else if (reply.rfind("HTTP/1.1 429", 0) == 0) {
            ++refused;
        } else {
            ++other;
        }
    }
    std::printf("  taps: %d done, %d refused as busy, %d other\n\n", done, refused, other);
}

}  // namespace

int main() {
    run(100);
    run(RouteOptions().maxWaitingActions);
    return 0;
}
