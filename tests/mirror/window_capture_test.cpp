#include <gtest/gtest.h>

#include <thread>

#include "imaging/codecs.h"
#include "mirror/frame_change.h"
#include "mirror/render_frame.h"
#include "mirror/screen_permission.h"
#include "mirror/sticky_content.h"
#include "support/fake_clock.h"
#include "support/fake_windows.h"

using namespace quintalis;
using namespace quintalis::testing;

namespace {

constexpr uint32_t kWindow = 77;

class RecordingRecognizer final : public TextRecognizer {
public:
    std::vector<TextLine> recognize(const PixelBuffer& picture) override {
        seen = {picture.width(), picture.height()};
        return {{"later", 0.5, 10, 40, 30, 10}, {"Hello", 0.9, 5, 2, 40, 12}};
    }
    std::pair<int, int> seen;
};

class WindowCaptureTest : public ::testing::Test {
protected:
    WindowCaptureTest() { server.setWindows({receiverWindow()}); }

    std::unique_ptr<WindowCapture> started() {
        auto capture = std::make_unique<WindowCapture>(WinInfo{receiverWindow(), 130}, backends);
        capture->start();
        return capture;
    }

    FakeWindowServer server;
    FakeWindowStreams streams;
    FakeClock clock;
    std::map<std::string, std::string> environment;
    CaptureBackends backends{server, streams, clock,
                             [this](const std::string& name) -> std::optional<std::string> {
                                 auto found = environment.find(name);
                                 if (found == environment.end()) return std::nullopt;
                                 return found->second;
                             },
                             "HELP"};
    RecordingRecognizer recognizer;
};

std::string failureOf(const std::function<void()>& work) {
    try {
        work();
    } catch (const CaptureError& error) {
        return error.what();
    }
    return "no error";
}

}  // namespace

TEST(ChangeRule, OneNoisySampleIsNoChangeTwoSmallMovesAre) {
    const std::vector<uint8_t> before(kThumbColumns * kThumbRows, 50);
    auto one = before;
    one[5] = 250;
    EXPECT_FALSE(visiblyChanged(before, one));
    auto two = before;
    two[700] = 69;
    two[701] = 31;
    EXPECT_TRUE(visiblyChanged(before, two));
    two[701] = 32;  // 18: not above the threshold
    EXPECT_FALSE(visiblyChanged(before, two));
    EXPECT_TRUE(visiblyChanged({}, before)) << "the first frame always counts";
}

TEST(StickyContent, EdgesWinBlankNeverReplacesAndOtherSizesStartOver) {
    StickyContent sticky;
    const ContentRect edges{{100, 28, 448, 972}, "portrait", "edges"};
    EXPECT_EQ(sticky.accept(edges, 600, 1000).rect, edges.rect);
    EXPECT_EQ(sticky.lastOrientation(), "portrait");

    const ContentRect insideFit{{101, 29, 446, 970}, "portrait", "fit"};
    EXPECT_EQ(sticky.accept(insideFit, 600, 1000).method, "edges") << "a weaker result inside keeps the rectangle";
    const ContentRect grownBy3{{97, 25, 454, 978}, "portrait", "bbox"};
    EXPECT_EQ(sticky.accept(grownBy3, 600, 1000).method, "edges");
    const ContentRect blank{{0, 0, 460, 1000}, "portrait", "blank"};
    EXPECT_EQ(sticky.accept(blank, 600, 1000).rect, edges.rect) << "a dark frame keeps it";

    const ContentRect outside{{96, 28, 452, 972}, "portrait", "fit"};
    EXPECT_EQ(sticky.accept(outside, 600, 1000).rect, outside.rect) << "4 px outside: fresh wins";
    EXPECT_EQ(sticky.accept(insideFit, 600, 1000).rect, outside.rect) << "and is now the one kept";

    const ContentRect moved{{110, 28, 448, 972}, "portrait", "edges"};
    EXPECT_EQ(sticky.accept(moved, 600, 1000).rect, moved.rect) << "edges always win";
    EXPECT_EQ(sticky.accept(insideFit, 800, 1000).rect, insideFit.rect) << "another frame size";

    const ContentRect landscape{{0, 300, 600, 276}, "landscape", "fit"};
    EXPECT_EQ(sticky.accept(landscape, 800, 1000).rect, landscape.rect) << "another orientation";
    EXPECT_EQ(sticky.lastOrientation(), "landscape");

    StickyContent fresh;
    EXPECT_EQ(fresh.accept(blank, 600, 1000).method, "blank");
    EXPECT_FALSE(fresh.lastOrientation()) << "blank is never remembered";
}

TEST_F(WindowCaptureTest, StartFindsTheWindowOrSaysWhyNot) {
    auto capture = started();
    EXPECT_EQ(streams.started(), kWindow);
    EXPECT_TRUE(capture->alive());
    EXPECT_FALSE(capture->latest());

    server.setWindows({});
    EXPECT_EQ(failureOf([&] { started(); }), "window 77 is gone");
    server.setWindows({receiverWindow()});
    streams.refuse("the X server has no Composite extension");
    EXPECT_EQ(failureOf([&] { started(); }), "the X server has no Composite extension");
    server.setUnavailable("DISPLAY is not set");
    EXPECT_EQ(failureOf([&] { started(); }), "DISPLAY is not set — HELP");
    EXPECT_FALSE(screenPermission(backends));
}

TEST_F(WindowCaptureTest, AListingThatNeverAnswersTimesOut) {
    server.hang();
    EXPECT_EQ(failureOf([&] { syncShareable(backends, std::chrono::milliseconds(20)); }),
              "the X server didn't answer (is DISPLAY right?)");
    server.release();
    EXPECT_EQ(syncShareable(backends).size(), 1u);
}

TEST_F(WindowCaptureTest, KeepsTheNewestFrameAndTheTimesOfVisibleChanges) {
    auto capture = started();
    const int64_t t0 = clock.wallMillis();
    auto dark = receiverFrame(600, 1000, 40), light = receiverFrame(600, 1000, 220);
    streams.deliver(dark);
    clock.advance(std::chrono::milliseconds(5));
    streams.deliver(receiverFrame(600, 1000, 40));  // the same picture again
    auto frame = capture->latest();
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->frames, 2);
    EXPECT_EQ(frame->frameAt, t0 + 5);
    EXPECT_EQ(frame->lastChange, t0) << "the first frame is a change, its copy is not";
    EXPECT_EQ(capture->changeTimes(0), std::vector<int64_t>{t0});
    clock.advance(std::chrono::milliseconds(1));
    streams.deliver(light);
    EXPECT_EQ(capture->changeTimes(t0), std::vector<int64_t>{t0 + 6}) << "strictly after";
}

TEST_F(WindowCaptureTest, CheckResizeRefreshesTheRecordAndNoticesTheWindowGoing) {
    auto capture = started();
    server.setWindows({receiverWindow(kWindow, 700)});
    capture->checkResize();
    EXPECT_EQ(capture->info().window.width, 700);

    server.setWindows({});
    capture->checkResize();
    EXPECT_EQ(capture->stoppedError(), "window closed");
    EXPECT_FALSE(capture->alive());

    server.setWindows({receiverWindow()});
    auto other = started();
    streams.end("the X display closed");
    EXPECT_EQ(other->stoppedError(), "the X display closed");
    other->stop();
    EXPECT_FALSE(streams.running());
}

TEST_F(WindowCaptureTest, RenderFrameCropsScalesAndEncodes) {
    auto capture = started();
    EXPECT_EQ(renderFrame(*capture, {}, recognizer).result,
              (JSON{{"ok", false}, {"error", "no frame yet from the AirPlay window"}}));
    // A dark 40 × 20 mark on the phone's screen: something to read.
    auto frame = std::make_shared<PixelBuffer>(*receiverFrame());
    for (int y = 500; y < 520; ++y) std::fill_n(frame->mutableRow(y) + 280 * 4, 40 * 4, 20);
    streams.deliver(frame);
    clock.advance(std::chrono::milliseconds(250));

    auto jpeg = renderFrame(*capture, {.maxDim = 500, .png = false, .crop = true, .withOCR = false}, recognizer);
    const JSON& r = jpeg.result;
    EXPECT_EQ(r["ok"], true);
    EXPECT_EQ(r["content"], (JSON{{"x", 76}, {"y", 28}, {"w", 448}, {"h", 972}, {"orientation", "portrait"},
                                 {"method", "edges"}}));
    EXPECT_EQ(r["h"], 500);
    EXPECT_EQ(r["w"], 230);  // 448 × 500 / 972, rounded
    EXPECT_EQ(r["age_ms"], 250);
    EXPECT_EQ(r["mime"], "image/jpeg");
    EXPECT_FALSE(r.contains("ocr"));
    auto decoded = decodeImage(jpeg.data);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->width(), 230);
    EXPECT_EQ(decoded->height(), 500);

    auto whole = renderFrame(*capture, {.maxDim = 2000, .png = true, .crop = false, .withOCR = true}, recognizer);
    EXPECT_EQ(whole.result["w"], 600) << "never enlarged";
    EXPECT_EQ(whole.result["content"]["method"], "edges") << "reported even when not cropping";
    decoded = decodeImage(whole.data);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->width(), 600);
    EXPECT_EQ(decoded->row(500)[0], 0) << "the letterbox bar is in the picture";
    EXPECT_EQ(recognizer.seen.second, 980) << "text is read at full resolution: the phone's rows and a margin";
    ASSERT_EQ(whole.result["ocr"].size(), 2u);
    EXPECT_EQ(whole.result["ocr"][0]["text"], "Hello");

    auto cropOCR = renderFrame(*capture, {.maxDim = 100, .png = true, .crop = true, .withOCR = true}, recognizer);
    EXPECT_EQ(recognizer.seen, (std::pair<int, int>{58, 36})) << "the mark and its margins at full resolution, not the scaled image";
    EXPECT_EQ(cropOCR.result["h"], 100);
}

TEST_F(WindowCaptureTest, RenderedImagesAreNeverEmpty) {
    auto capture = started();
    streams.deliver(receiverFrame(600, 1000));
    auto tiny = renderFrame(*capture, {.maxDim = 1, .png = true, .crop = true, .withOCR = false}, recognizer);
    EXPECT_EQ(tiny.result["ok"], true);
    EXPECT_EQ(tiny.result["w"], 1);
    EXPECT_EQ(tiny.result["h"], 1);
    auto none = renderFrame(*capture, {.maxDim = 0, .png = false, .crop = true, .withOCR = false}, recognizer);
    EXPECT_EQ(none.result["w"], 1);
    ASSERT_TRUE(decodeImage(none.data));
}

TEST_F(WindowCaptureTest, TwoRendersAndArrivingFramesShareOneCapture) {
    auto capture = started();
    streams.deliver(receiverFrame());
    std::atomic<bool> done{false};
    std::thread frames([&] {
        for (int i = 0; !done; ++i) streams.deliver(receiverFrame(600, 1000, i % 2 ? 100 : 200));
    });
    std::vector<std::thread> renders;
    std::atomic<int> good{0};
    for (int t = 0; t < 2; ++t) {
        renders.emplace_back([&] {
            for (int i = 0; i < 20; ++i) good += renderFrame(*capture, {}, recognizer).result["ok"] == true;
        });
    }
    for (auto& r : renders) r.join();
    done = true;
    frames.join();
    EXPECT_EQ(good, 40);
}
