// Time to answer a new GET /status on both services of the built program
// while one client holds 400 connections open: first idle ones, then ones
// that send a byte a second. The holder is as stubborn as it can be: every
// connection the server closes is opened again at once, so the program
// faces 400 held connections for the whole run, through its head timeout.
// Usage: build/bench/held_connections_bench [seconds per case, default 12]
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

#include "support/engine_process.h"
#include "support/load_run.h"

using namespace quintalis;
using namespace quintalis::testing;
using Steady = std::chrono::steady_clock;

namespace {

constexpr int kHeld = 400;

struct Held {
    std::atomic<bool> stop{false};
    std::atomic<int> reopened{0};
};

// Keeps kHeld connections to the port until told to stop.
void hold(uint16_t port, bool dribble, Held& held) {
    std::vector<std::unique_ptr<RawConnection>> connections;
    for (int i = 0; i < kHeld; ++i) connections.push_back(std::make_unique<RawConnection>(port));
    const std::string request = "GET /status HTTP/1.1\r\n";
    size_t sent = 0;
    auto nextByte = Steady::now();
    while (!held.stop) {
        for (auto& connection : connections) {
            if (!connection->connected() || !connection->staysSilent(0)) {
                connection = std::make_unique<RawConnection>(port);
                ++held.reopened;
            }
        }
        if (dribble && Steady::now() >= nextByte) {
            for (auto& connection : connections) connection->send(std::string(1, request[sent % request.size()]));
            ++sent;
            nextByte += std::chrono::seconds(1);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

void measure(const char* service, uint16_t port, bool dribble, double seconds) {
    Held held;
    std::thread holder(hold, port, dribble, std::ref(held));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));  // the 400 are in
    std::vector<double> millis;
    int failed = 0;
    const auto until = Steady::now() + std::chrono::duration<double>(seconds);
    while (Steady::now() < until) {
        auto start = Steady::now();
        auto reply = parseReply(roundTrip(port, "GET /status HTTP/1.1\r\n\r\n"));
        millis.push_back(std::chrono::duration<double, std::milli>(Steady::now() - start).count());
        if (reply.status != 200) ++failed;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    held.stop = true;
    holder.join();
    std::printf("%-8s %-9s %7zu %8.1f %8.1f %8.1f %7d %9d\n", service, dribble ? "dribbling" : "idle", millis.size(),
                percentile(millis, 50), percentile(millis, 99), *std::max_element(millis.begin(), millis.end()), failed,
                held.reopened.load());
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 12;
    TempDir home;
    EngineProcess program("1", home.path());
    std::printf("GET /status while one client holds %d connections (ms)\n", kHeld);
    std::printf("service  held      requests   p50      p99      max   failed  reopened\n");
    for (bool dribble : {false, true}) {
        measure("engine", program.port(), dribble, seconds);
        measure("airplay", program.airplayPort(), dribble, seconds);
    }
}
