// Where the time of a look's text goes for a newly opened page of the
// virtual iPhone (Settings, 1179 × 2556), step by step as the MCP server
// takes them, beside the reader's own full read of the same frame:
// - Encode*: the engine's JPEG of the look's image (long edge 1200) and of
//   the full-resolution frame the text is read from;
// - DecodeFull: the server's decoding of that full-resolution JPEG;
// - ReadDecoded: a fresh screen reader on the decoded picture (every band
//   read, as on a page it has not seen);
// - ReadFrame: the same reader on the frame itself, the yardstick.
// A new page's text through look costs about EncodeFull + DecodeFull +
// ReadDecoded; the goal is within 1.3 × ReadFrame.
#include <benchmark/benchmark.h>

#include "imaging/codecs.h"
#include "imaging/image_ops.h"
#include "screen/text_recognition.h"
#include "platform/linux/tesseract_recognizer.h"
#include "support/phone_screens.h"

using namespace quintalis;

namespace {

const PixelBuffer& settingsPage() {
    static const PixelBufferRef page = [] {
        for (const auto& screen : testing::phoneScreenWalk()) {
            if (screen.step.find("Settings") != std::string::npos) return screen.picture;
        }
        return testing::phoneScreenWalk().back().picture;
    }();
    return *page;
}

void EncodeLook(benchmark::State& state) {
    const PixelBuffer& frame = settingsPage();
    ImageSize size = imageSize(frame.width(), frame.height(), std::nullopt, 1200);
    for (auto _ : state) benchmark::DoNotOptimize(encodeJPEG(scaled(frame, size.width, size.height), 80));
}

void EncodeFull(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(encodeJPEG(settingsPage(), 80));
}

void DecodeFull(benchmark::State& state) {
    std::string jpeg = *encodeJPEG(settingsPage(), 80);
    for (auto _ : state) benchmark::DoNotOptimize(decodeImage(jpeg));
}

// A reader that has seen nothing yet, so every band of the page is read.
void freshRead(benchmark::State& state, const PixelBuffer& picture) {
    TesseractRecognizer recognizer;
    recognize(recognizer, picture);  // warms the engines up
    for (auto _ : state) {
        ScreenReader reader(recognizer);
        benchmark::DoNotOptimize(reader.read(picture));
    }
}

void ReadDecoded(benchmark::State& state) { freshRead(state, *decodeImage(*encodeJPEG(settingsPage(), 80))); }

void ReadFrame(benchmark::State& state) { freshRead(state, settingsPage()); }

}  // namespace

BENCHMARK(EncodeLook)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(EncodeFull)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(DecodeFull)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(ReadDecoded)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(ReadFrame)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_MAIN();
