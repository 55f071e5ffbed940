// Capture through a private Xvfb: from a drawing request in a test window to
// the frame's arrival in WindowCapture, over 200 changes (p50, p95), then
// this process's CPU while it captures a window that does not change.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "mirror/window_capture.h"
#include "platform/linux/xcb_window_server.h"
#include "platform/linux/xcb_window_streams.h"
#include "support/test_window.h"
#include "support/xvfb.h"

using namespace quintalis;
using Steady = std::chrono::steady_clock;

namespace {

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

uint32_t colourAt(const WindowCapture& capture) {
    auto frame = capture.latest();
    if (!frame) return 0xFFFFFFFF;
    const uint8_t* p = frame->buffer->row(500) + 300 * 4;
    return static_cast<uint32_t>(p[2] << 16 | p[1] << 8 | p[0]);
}

}  // namespace

int main() {
    if (!testing::Xvfb::available()) return 1;
    const std::string& display = testing::Xvfb::display();
    auto x = XConnection::open(display);
    XDisplayLink link(display);
    XcbWindowServer server(link);
    XcbWindowStreams streams(link);
    CaptureBackends backends{server, streams, Clock::real(), [](const std::string&) { return std::nullopt; }, ""};
    testing::TestWindow window(*x, 0, 0, 600, 1000);
    WinInfo info;
    info.window.number = window.number();
    WindowCapture capture(info, backends);
    capture.start();
    while (!capture.latest()) std::this_thread::sleep_for(std::chrono::milliseconds(1));

    std::vector<double> latencies;
    for (int i = 0; i < 200; ++i) {
        const uint32_t colour = (i % 2) ? 0x20A0E0 : 0xE0A020;
        const auto start = Steady::now();
        window.fill(colour, 0, 0, 600, 1000);
        while (colourAt(capture) != colour) std::this_thread::sleep_for(std::chrono::microseconds(100));
        latencies.push_back(std::chrono::duration<double, std::milli>(Steady::now() - start).count());
        // Changes a real screen makes come apart; back to back they would
        // only measure the 60-a-second limit.
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::sort(latencies.begin(), latencies.end());
    std::printf("capture latency over %zu changes: p50 %.2f ms, p95 %.2f ms, max %.2f ms\n", latencies.size(),
                latencies[latencies.size() / 2], latencies[latencies.size() * 95 / 100], latencies.back());

    const long long framesBefore = capture.latest()->frames;
    const double cpuBefore = cpuSeconds();
    const auto wallBefore = Steady::now();
    std::this_thread::sleep_for(std::chrono::seconds(5));
    const double cpu = cpuSeconds() - cpuBefore;
    const double wall = std::chrono::duration<double>(Steady::now() - wallBefore).count();
    std::printf("unchanging window for %.1f s: %lld new frames, CPU %.3f %% of one core\n", wall,
                capture.latest()->frames - framesBefore, 100 * cpu / wall);
    return 0;
}
