// Readers while clients hold pending /wait requests, each of which would
// wait a minute for a screen that does not change:
// - the engine, on one virtual iPhone: 1,500 waits attempted (at most 64 are
//   kept, the rest answered 429), then GET /status, /devices and
//   /screenshot, 25 times each; then how soon the waits' places are free
//   again once their clients close;
// - the AirPlay capture service, on a held receiver frame: 0, 70 and 200
//   waits attempted, then GET /status and /frame.jpg, 25 times each;
// - what asking the kernel whether a half-closed client still holds its
//   socket costs, as the server asks for each such client's pending wait.
// Usage: build/bench/wait_load_bench
#include <sys/resource.h>

#include <asio.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/airplay_service.h"
#include "engine/http_server.h"
#include "engine/loopback_peer.h"
#include "engine/routes.h"
#include "phones/devices.h"
#include "simulator/simulator.h"
#include "support/engine_rig.h"
#include "support/fake_windows.h"
#include "support/no_text.h"
#include "support/raw_http.h"

using namespace quintalis;
using Steady = std::chrono::steady_clock;

namespace {

const std::string kWait = "GET /wait?min=60000&first=60000&max=60000 HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";

// Opens `count` waits; returns those still pending, and counts the refused.
std::vector<std::unique_ptr<testing::RawConnection>> attemptWaits(uint16_t port, int count, int& refused) {
    std::vector<std::unique_ptr<testing::RawConnection>> pending;
    refused = 0;
    for (int i = 0; i < count; ++i) {
        pending.push_back(std::make_unique<testing::RawConnection>(port));
        pending.back()->send(kWait);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the refusals are on their way
    for (auto& client : pending) {
        if (!client->staysSilent(0)) {
            client.reset();
            ++refused;
        }
    }
    std::erase(pending, nullptr);
    return pending;
}

void timeReads(uint16_t port, const std::vector<std::string>& targets) {
    for (const auto& target : targets) {
        std::vector<double> times;
        int failures = 0;
        for (int i = 0; i < 25; ++i) {
            auto start = Steady::now();
            auto reply = testing::parseReply(
                testing::roundTrip(port, "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"));
            times.push_back(std::chrono::duration<double, std::milli>(Steady::now() - start).count());
            if (reply.status != 200) ++failures;
        }
        std::sort(times.begin(), times.end());
        std::printf("  %-22s p50 %7.2f ms  p95 %7.2f ms  max %7.2f ms  (%d not 200)\n", target.c_str(),
                    times[times.size() / 2], times[times.size() * 95 / 100], times.back(), failures);
    }
}

void engine() {
    bench::EngineRig rig;
    const uint16_t port = rig.server.boundPort();
    int refused = 0;
    auto start = Steady::now();
    auto pending = attemptWaits(port, 1500, refused);
    std::printf("engine: 1500 waits attempted in %.0f ms: %zu pending, %d answered 429\n",
                std::chrono::duration<double, std::milli>(Steady::now() - start).count(), pending.size(), refused);
    timeReads(port, {"/status", "/devices", "/screenshot", "/screenshot?maxEdge=1200"});
    pending.clear();
    start = Steady::now();
    while (true) {
        testing::RawConnection probe(port);
        probe.send(kWait);
        if (probe.staysSilent(20)) break;
    }
    std::printf("  waits accepted again %.0f ms after their clients closed\n",
                std::chrono::duration<double, std::milli>(Steady::now() - start).count());
}

void airplay() {
    testing::FakeWindowServer windows;
    testing::FakeWindowStreams streams;
    windows.setWindows({testing::receiverWindow(77, 1290, 2796)});
    CaptureBackends backends{windows, streams, Clock::real(), [](const std::string&) { return std::nullopt; }, ""};
    testing::NoText text;
    AirPlayServer server(backends, text, std::nullopt);
    auto listener = serveHTTP(0, [&server](const std::string& path, const AirPlayQuery& query,
                                           const AirPlayResponder& responder) { server.handle(path, query, responder); });
    std::thread receiver([&] {
        while (!streams.running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        streams.deliver(testing::receiverFrame(1290, 2796));
    });
    server.capture();
    receiver.join();
    for (int attempted : {0, 70, 200}) {
        int refused = 0;
        auto pending = attemptWaits(listener->boundPort(), attempted, refused);
        std::printf("AirPlay service: %d waits attempted: %zu pending, %d answered 429\n", attempted, pending.size(),
                    refused);
        timeReads(listener->boundPort(), {"/status", "/frame.jpg?maxEdge=1200"});
    }
}

void peerQuestion() {
    asio::io_context io;
    asio::ip::tcp::acceptor acceptor(io, {asio::ip::make_address_v4("127.0.0.1"), 0});
    asio::ip::tcp::socket client(io), served(io);
    client.connect(acceptor.local_endpoint());
    acceptor.accept(served);
    client.shutdown(asio::ip::tcp::socket::shutdown_send);
    ConnectionEnds ends;
    std::memcpy(&ends.local, served.local_endpoint().data(), served.local_endpoint().size());
    std::memcpy(&ends.remote, served.remote_endpoint().data(), served.remote_endpoint().size());
    constexpr int kQuestions = 10000;
    int holding = 0;
    auto start = Steady::now();
    for (int i = 0; i < kQuestions; ++i) holding += loopbackPeer(ends) == LoopbackPeer::holdsSocket;
    std::printf("whether a half-closed client holds its socket: %.1f us a question (%d of %d said it does)\n",
                std::chrono::duration<double, std::micro>(Steady::now() - start).count() / kQuestions, holding,
                kQuestions);
}

}  // namespace

int main() {
    // A client for each of 1,500 waits.
    rlimit files{};
    getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
    engine();
    airplay();
    peerQuestion();
    return 0;
}
