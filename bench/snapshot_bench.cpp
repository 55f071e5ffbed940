// The cost of serving a phone's screen: Screen::snapshot and thumbnail on a
// 1179 × 2556 frame, unchanged, sent again and changed, against calling
// libyuv and TurboJPEG directly.
#include <benchmark/benchmark.h>
#include <libyuv/scale_argb.h>
#include <turbojpeg.h>

#include "phones/matching.h"
#include "phones/screen.h"

using namespace quintalis;

namespace {

constexpr int kWidth = 1179;
constexpr int kHeight = 2556;

// A phone-like picture: bands and blocks, so the encoders have real work.
PixelBufferRef phoneFrame() {
    auto frame = std::make_shared<PixelBuffer>(kWidth, kHeight);
    for (int y = 0; y < kHeight; ++y) {
        uint8_t* row = frame->mutableRow(y);
        for (int x = 0; x < kWidth; ++x) {
            bool icon = (x / 80) % 3 == 1 && (y / 80) % 4 == 1;
            row[x * 4] = static_cast<uint8_t>(icon ? 40 + x % 50 : 230);
            row[x * 4 + 1] = static_cast<uint8_t>(icon ? 120 : 230 - y / 20);
            row[x * 4 + 2] = static_cast<uint8_t>(icon ? 200 : 240);
            row[x * 4 + 3] = 255;
        }
    }
    return frame;
}

// One device whose frames the benchmarks hand over themselves.
class BenchDevices final : public CaptureDevices {
public:
    void allowScreenCaptureDevices() override {}
    std::vector<CaptureDeviceInfo> discover() override { return {}; }
    void addConnectionObserver(std::function<void()>) override {}
    CaptureAuthorization authorizationStatus() override { return CaptureAuthorization::authorized; }
    void requestAccess(std::function<void(bool)> answer) override { answer(true); }
    std::unique_ptr<CaptureSession> startCapture(const CaptureDeviceInfo&, SerialQueue& queue,
                                                 std::function<void(CapturedFrame)> onFrame) override {
        queue_ = &queue;
        onFrame_ = std::move(onFrame);
        struct Session final : CaptureSession {
            void stop() override {}
        };
        return std::make_unique<Session>();
    }
    void push(PixelBufferRef frame) {
        queue_->sync([&] { onFrame_(std::move(frame)); });
    }

private:
    SerialQueue* queue_ = nullptr;
    std::function<void(CapturedFrame)> onFrame_;
};

BenchDevices& devices() {
    static BenchDevices devices;
    return devices;
}

// Two pictures one pixel apart, and a copy of the first.
const std::vector<PixelBufferRef>& frames() {
    static const std::vector<PixelBufferRef> made = [] {
        auto first = phoneFrame();
        auto dotted = std::make_shared<PixelBuffer>(*first);
        dotted->mutableRow(kHeight / 2)[kWidth * 2] ^= 0xFF;
        return std::vector<PixelBufferRef>{first, dotted, std::make_shared<PixelBuffer>(*first)};
    }();
    return made;
}

// Starts capturing on first use, so frames can be pushed after it.
Screen& screen() {
    static Screen screen(CaptureDeviceInfo{"bench", "Bench", "iOS", true}, devices(), Clock::real());
    return screen;
}

void show(const PixelBufferRef& frame) {
    screen();
    devices().push(frame);
}

// An unchanged screen asked for again: the frame object the last request saw.
void SnapshotJPEG1200Unchanged(benchmark::State& state) {
    show(frames()[0]);
    screen().snapshot(false, std::nullopt, 1200);
    for (auto _ : state) benchmark::DoNotOptimize(screen().snapshot(false, std::nullopt, 1200));
}

// The same picture arriving again as new frame objects, as a capture device
// sends it many times a second: the pixels are compared once per frame.
void SnapshotJPEG1200SamePicture(benchmark::State& state) {
    int turn = 0;
    for (auto _ : state) {
        state.PauseTiming();
        show(frames()[turn++ % 2 == 0 ? 0 : 2]);
        state.ResumeTiming();
        benchmark::DoNotOptimize(screen().snapshot(false, std::nullopt, 1200));
    }
}

// A screen that changed (by one pixel) before every request: scale and encode.
template <bool png>
void SnapshotChanged(benchmark::State& state) {
    int turn = 0;
    for (auto _ : state) {
        state.PauseTiming();
        show(frames()[turn++ % 2]);
        state.ResumeTiming();
        benchmark::DoNotOptimize(png ? screen().snapshot(true, std::nullopt, std::nullopt)
                                     : screen().snapshot(false, std::nullopt, 1200));
    }
}

void Thumbnail90x195(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(screen().thumbnail(90, 195));
}

// What every arriving frame now costs: its thumbnail, compared with the last.
void ChangeTestPerFrame(benchmark::State& state) {
    auto frame = phoneFrame();
    auto previous = greyThumbnail(*frame, matching::kThumbWidth, matching::kThumbHeight);
    for (auto _ : state) {
        auto thumb = greyThumbnail(*frame, matching::kThumbWidth, matching::kThumbHeight);
        benchmark::DoNotOptimize(matching::visiblyChanged(previous, thumb));
    }
}

// The floor: the same scale and encode with nothing around them.
void DirectScaleAndEncodeJPEG1200(benchmark::State& state) {
    auto frame = phoneFrame();
    const int width = 554, height = 1200;
    std::vector<uint8_t> small(static_cast<size_t>(width) * height * 4);
    tjhandle handle = tjInitCompress();
    for (auto _ : state) {
        libyuv::ARGBScale(frame->data(), frame->bytesPerRow(), kWidth, kHeight, small.data(), width * 4, width, height,
                          libyuv::kFilterBox);
        unsigned char* jpeg = nullptr;
        unsigned long size = 0;
        tjCompress2(handle, small.data(), width, width * 4, height, TJPF_BGRA, &jpeg, &size, TJSAMP_420, 80,
                    TJFLAG_FASTDCT);
        benchmark::DoNotOptimize(size);
        tjFree(jpeg);
    }
    tjDestroy(handle);
}

}  // namespace

BENCHMARK(SnapshotJPEG1200Unchanged)->Unit(benchmark::kMillisecond);
BENCHMARK(SnapshotJPEG1200SamePicture)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(SnapshotChanged, false)->Name("SnapshotJPEG1200Changed")->Unit(benchmark::kMillisecond);
BENCHMARK(DirectScaleAndEncodeJPEG1200)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(SnapshotChanged, true)->Name("SnapshotPNGFullChanged")->Unit(benchmark::kMillisecond);
BENCHMARK(Thumbnail90x195)->Unit(benchmark::kMillisecond);
BENCHMARK(ChangeTestPerFrame)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
