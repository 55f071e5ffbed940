// What each captured frame costs (thumbnail and change test), and rendering
// a held frame against the plainest way to scale and encode the same crop.
#include <benchmark/benchmark.h>

#include "imaging/codecs.h"
#include "imaging/image_ops.h"
#include "mirror/frame_change.h"
#include "mirror/render_frame.h"
#include "simulator/receiver_picture.h"
#include "simulator/virtual_phone.h"
#include "support/fake_clock.h"
#include "support/fake_windows.h"
#include "support/no_text.h"

using namespace quintalis;

namespace {

PixelBufferRef phonePicture() {
    static PixelBufferRef picture = simulator::VirtualPhone(0, {}).frame();  // 1179 × 2556
    return picture;
}

void ThumbnailAndChange(benchmark::State& state) {
    const PixelBuffer& frame = *phonePicture();
    auto previous = changeThumbnail(pixelsOf(frame));
    for (auto _ : state) {
        auto thumb = changeThumbnail(pixelsOf(frame));
        benchmark::DoNotOptimize(visiblyChanged(previous, thumb));
        previous.swap(thumb);
    }
}
BENCHMARK(ThumbnailAndChange)->Unit(benchmark::kMicrosecond);

// A receiver window as large as a desktop allows, holding the phone.
struct HeldFrame {
    testing::FakeWindowServer server;
    testing::FakeWindowStreams streams;
    testing::FakeClock clock;
    CaptureBackends backends{server, streams, clock, [](const std::string&) { return std::nullopt; }, ""};
    std::unique_ptr<WindowCapture> capture;
    PixelBufferRef frame = std::make_shared<PixelBuffer>(simulator::receiverPicture(phonePicture().get(), 1290, 2796));

    HeldFrame() {
        WindowDescription window;
        window.number = 1;
        window.width = 1290;
        window.height = 2796;
        server.setWindows({window});
        capture = std::make_unique<WindowCapture>(WinInfo{window, 0}, backends);
        capture->start();
        streams.deliver(frame);
    }
};

void RenderFrameJPEG(benchmark::State& state) {
    HeldFrame held;
    testing::NoText text;
    for (auto _ : state) benchmark::DoNotOptimize(renderFrame(*held.capture, {.maxDim = 1200}, text));
}
BENCHMARK(RenderFrameJPEG)->Unit(benchmark::kMillisecond);

void ScaleAndEncodeSameCrop(benchmark::State& state) {
    HeldFrame held;
    testing::NoText text;
    const JSON content = renderFrame(*held.capture, {.maxDim = 1200}, text).result["content"];
    const int x = content["x"], y = content["y"], w = content["w"], h = content["h"];
    const double s = 1200.0 / std::max(w, h);
    for (auto _ : state) {
        PixelBuffer small = scaledPart(*held.frame, x, y, w, h, static_cast<int>(std::lround(w * s)),
                                       static_cast<int>(std::lround(h * s)));
        benchmark::DoNotOptimize(encodeJPEG(small, 80));
    }
}
BENCHMARK(ScaleAndEncodeSameCrop)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
