// Finding the phone's picture in a captured frame with letterbox bars, at
// the sizes a capture delivers.
#include <benchmark/benchmark.h>

#include <cmath>

#include "mirror/content_rect.h"

using namespace quintalis;

namespace {

// A black frame with a lit phone picture of iPhone shape in its middle.
PixelBuffer letterboxed(int width, int height, bool landscape) {
    PixelBuffer frame(width, height);
    const double ratio = 0.4612676056338028;
    int phoneW, phoneH;
    if (landscape) {
        phoneH = height * 9 / 10;
        phoneW = static_cast<int>(std::round(phoneH / ratio));
    } else {
        phoneH = height * 9 / 10;
        phoneW = static_cast<int>(std::round(phoneH * ratio));
    }
    int x0 = (width - phoneW) / 2, y0 = (height - phoneH) / 2;
    for (int y = y0; y < y0 + phoneH; ++y) {
        uint8_t* row = frame.mutableRow(y);
        for (int x = x0; x < x0 + phoneW; ++x) {
            row[x * 4] = static_cast<uint8_t>(60 + (x * 7 + y) % 180);
            row[x * 4 + 1] = 200;
            row[x * 4 + 2] = 90;
            row[x * 4 + 3] = 255;
        }
    }
    return frame;
}

void Detect(benchmark::State& state) {
    bool landscape = state.range(0) != 0;
    PixelBuffer frame = landscape ? letterboxed(2556, 1179, true) : letterboxed(1179, 2556, false);
    for (auto _ : state) benchmark::DoNotOptimize(detectContent(pixelsOf(frame), std::nullopt, std::nullopt));
    state.SetLabel(landscape ? "2556x1179 landscape" : "1179x2556 portrait");
}

}  // namespace

BENCHMARK(Detect)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
