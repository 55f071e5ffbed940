// The AirPlay capture service over loopback:
// - GET /frame.jpg?maxEdge=1200 against a live capture, 200 requests (p50,
//   p95), beside rendering the same frame in-process with renderFrame; once
//   on the simulated receiver's window (600 × 1000) on a private Xvfb, and
//   once on a held frame of a real receiver's size (1290 × 2796);
// - "/wait" precision: how long past "quiet" after the picture's last
//   change the reply arrives.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "engine/airplay_service.h"
#include "mirror/render_frame.h"
#include "platform/linux/xcb_window_server.h"
#include "platform/linux/xcb_window_streams.h"
#include "simulator/simulator.h"
#include "simulator/x11/x_receiver_window.h"
#include "support/fake_windows.h"
#include "support/no_text.h"
#include "support/raw_http.h"
#include "support/xvfb.h"

using namespace quintalis;
using Steady = std::chrono::steady_clock;

namespace {

const EnvironmentReader kNoVariables = [](const std::string&) { return std::nullopt; };

double millisSince(Steady::time_point start) {
    return std::chrono::duration<double, std::milli>(Steady::now() - start).count();
}

struct Spread {
    double p50, p95;
};

Spread spread(std::vector<double> times) {
    std::sort(times.begin(), times.end());
    return {times[times.size() / 2], times[times.size() * 95 / 100]};
}

void compareFrameRoutes(const char* what, CaptureBackends& backends) {
    testing::NoText text;
    AirPlayServer server(backends, text, std::nullopt);
    auto listener = serveHTTP(0, [&server](const std::string& path, const AirPlayQuery& query,
                                           const AirPlayResponder& responder) { server.handle(path, query, responder); });
    auto capture = server.capture();
    while (!capture || !capture->latest() || capture->content(capture->latest()->buffer).method != "edges") {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        capture = server.capture();
    }
    const uint16_t port = listener->boundPort();
    size_t bytes = 0;
    const std::string request = "GET /frame.jpg?maxEdge=1200 HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    // What any answer costs on this server and machine: connection, thread
    // hops and a small JSON reply, without a picture.
    const std::string bare = "GET /none HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    // Taken in turns, so that all see the same load on a shared machine.
    std::vector<double> httpTimes, localTimes, bareTimes;
    for (int i = 0; i < 200; ++i) {
        auto start = Steady::now();
        testing::roundTrip(port, bare);
        bareTimes.push_back(millisSince(start));
        start = Steady::now();
        bytes = testing::roundTrip(port, request).size();
        httpTimes.push_back(millisSince(start));
        start = Steady::now();
        renderFrame(*capture, {.maxDim = 1200, .png = false, .crop = true, .withOCR = false}, text);
        localTimes.push_back(millisSince(start));
    }
    const Spread http = spread(httpTimes), local = spread(localTimes), floor = spread(bareTimes);
    std::printf("%s: GET /frame.jpg?maxEdge=1200 p50 %.2f ms, p95 %.2f ms (%zu bytes); renderFrame p50 %.2f ms, "
                "p95 %.2f ms; ratio p50 %.2f, p95 %.2f; a bare 404 answer p50 %.2f ms, p95 %.2f ms\n",
                what, http.p50, http.p95, bytes, local.p50, local.p95, http.p50 / local.p50, http.p95 / local.p95,
                floor.p50, floor.p95);
}

void measureWaitPrecision() {
    testing::FakeWindowServer windows;
    testing::FakeWindowStreams streams;
    windows.setWindows({testing::receiverWindow()});
    CaptureBackends backends{windows, streams, Clock::real(), kNoVariables, ""};
    testing::NoText text;
    AirPlayServer server(backends, text, std::nullopt);
    auto listener = serveHTTP(0, [&server](const std::string& path, const AirPlayQuery& query,
                                           const AirPlayResponder& responder) { server.handle(path, query, responder); });
    const PixelBufferRef pictures[2] = {testing::receiverFrame(600, 1000, 90), testing::receiverFrame(600, 1000, 200)};
    server.capture();
    streams.deliver(pictures[0]);

    std::vector<double> overshoots;
    for (int trial = 0; trial < 40; ++trial) {
        const std::string request = "GET /wait?quiet=250&since=" + std::to_string(Clock::real().wallMillis()) +
                                    " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
        auto reply = std::async(std::launch::async, [&] {
            testing::roundTrip(listener->boundPort(), request);
            return Steady::now();
        });
        // A burst of changes, as a tap's animation makes them.
        Steady::time_point lastChange;
        for (int i = 1; i <= 5; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(40));
            streams.deliver(pictures[(trial + i) % 2]);
            lastChange = Steady::now();
        }
        overshoots.push_back(std::chrono::duration<double, std::milli>(reply.get() - lastChange).count() - 250);
    }
    std::sort(overshoots.begin(), overshoots.end());
    std::printf("/wait past quiet after the last change, %zu trials: p50 %.1f ms, p95 %.1f ms, max %.1f ms\n",
                overshoots.size(), overshoots[overshoots.size() / 2], overshoots[overshoots.size() * 95 / 100],
                overshoots.back());
}

}  // namespace

int main() {
    if (!testing::Xvfb::available()) return 1;
    const std::string& display = testing::Xvfb::display();
    {
        // The receiver is a real window on the X server, listed and captured as in production.
        simulator::PhoneSetup setup;
        setup.airplay = true;
        simulator::Simulator simulated({setup}, simulator::xReceiverWindows(display));
        XDisplayLink link(display);
        XcbWindowServer windows(link);
        XcbWindowStreams streams(link);
        CaptureBackends backends{windows, streams, Clock::real(), kNoVariables, ""};
        compareFrameRoutes("simulated receiver on Xvfb, 600x1000", backends);
    }
    {
        testing::FakeWindowServer windows;
        testing::FakeWindowStreams streams;
        windows.setWindows({testing::receiverWindow(77, 1290, 2796)});
        CaptureBackends backends{windows, streams, Clock::real(), kNoVariables, ""};
        std::thread receiver([&] {
            while (!streams.running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            streams.deliver(testing::receiverFrame(1290, 2796));
        });
        compareFrameRoutes("held receiver frame 1290x2796", backends);
        receiver.join();
    }
    measureWaitPrecision();
    return 0;
}
