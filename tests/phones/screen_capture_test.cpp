#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "imaging/codecs.h"
#include "imaging/image_ops.h"
#include "phones/screen_capture.h"
#include "support/fake_capture_devices.h"
#include "support/fake_clock.h"
#include "support/log_capture.h"

using namespace quintalis;
using namespace quintalis::testing;

TEST(ScreenCapture, FollowsConnectedIPhonesOnly) {
    LogCapture logs;
    FakeCaptureDevices devices;
    FakeClock clock;
    ScreenCapture capture(devices, clock);
    int changes = 0;
    capture.setOnScreensChanged([&] { ++changes; });
    capture.start();
    EXPECT_TRUE(devices.optedIn);
    EXPECT_EQ(logs.lines(), (std::vector<std::string>{"camera access granted",
                                                      "no iPhone screen yet (plug in over USB and trust this computer)"}));

    devices.plug(CaptureDeviceInfo{"cam", "FaceTime HD Camera", "UVC Camera", true});
    devices.plug(CaptureDeviceInfo{"asleep", "Sleeping iPhone", "iOS Device", false});
    EXPECT_TRUE(capture.all().empty());
    EXPECT_EQ(changes, 0);  // refreshes that change nothing stay quiet

    devices.plug(iPhone("00008120-B", "Work iPhone"));
    devices.plug(iPhone("00008120-A", "Home iPhone"));
    auto screens = capture.all();
    ASSERT_EQ(screens.size(), 2u);
    EXPECT_EQ(screens[0]->name(), "Home iPhone");
    EXPECT_EQ(screens[1]->name(), "Work iPhone");
    EXPECT_EQ(changes, 2);
    EXPECT_TRUE(logs.contains("capturing Work iPhone (00008120-B)"));

    devices.unplug("00008120-B");
    EXPECT_EQ(capture.all().size(), 1u);
    EXPECT_EQ(changes, 3);
    EXPECT_TRUE(logs.contains("screen gone: Work iPhone"));
    EXPECT_FALSE(devices.capturing("00008120-B"));  // its session was stopped
}

TEST(ScreenCapture, AFailedCaptureIsLoggedAndRetriedOnTheNextChange) {
    LogCapture logs;
    FakeCaptureDevices devices;
    FakeClock clock;
    ScreenCapture capture(devices, clock);
    capture.start();
    devices.failNextCapture("X");
    devices.plug(iPhone("X", "Stubborn"));
    EXPECT_TRUE(capture.all().empty());
    EXPECT_TRUE(logs.contains("capture failed for Stubborn: cannot capture Stubborn"));
    devices.plug(CaptureDeviceInfo{"cam", "Camera", "UVC", true});
    EXPECT_EQ(capture.all().size(), 1u);
}

TEST(Screen, KeepsOnlyTheLatestFrameAndEncodesOnDemand) {
    FakeCaptureDevices devices;
    FakeClock clock;
    Screen screen(iPhone("S", "Phone"), devices, clock);
    EXPECT_FALSE(screen.size());
    EXPECT_FALSE(screen.snapshot(false, std::nullopt, std::nullopt));
    EXPECT_FALSE(screen.thumbnail(90, 195));

    devices.push("S", solidFrame(100, 100, 0));
    devices.push("S", solidFrame(1170, 2532, 200));
    ASSERT_TRUE(screen.size());
    EXPECT_EQ(*screen.size(), (ImageSize{1170, 2532}));

    // Encoded at the size the limits give, whole or scaled.
    const struct {
        bool png;
        std::optional<int> maxWidth, maxEdge;
        ImageSize expected;
    } cases[] = {
        {true, 400, std::nullopt, {400, 866}},
        {false, std::nullopt, std::nullopt, {1170, 2532}},
        {false, std::nullopt, 1, {1, 1}},
    };
    for (const auto& c : cases) {
        auto bytes = screen.snapshot(c.png, c.maxWidth, c.maxEdge);
        ASSERT_TRUE(bytes);
        auto decoded = decodeImage(bytes->bytes);
        ASSERT_TRUE(decoded);
        EXPECT_EQ((ImageSize{decoded->width(), decoded->height()}), c.expected);
        EXPECT_EQ(bytes->imageSize, c.expected);
        EXPECT_EQ(bytes->frameSize, (ImageSize{1170, 2532}));
    }
    auto thumbnail = screen.thumbnail(90, 195);
    ASSERT_TRUE(thumbnail);
    EXPECT_EQ(thumbnail->size(), 90u * 195);
    EXPECT_NEAR((*thumbnail)[500], 200, 2);
}

TEST(Screen, StampsVisibleChangesOnly) {
    FakeCaptureDevices devices;
    FakeClock clock;
    Screen screen(iPhone("S", "Phone"), devices, clock);
    EXPECT_FALSE(screen.changes(0));  // no frame, no history

    const int64_t start = clock.wallMillis();
    devices.push("S", solidFrame(1170, 2532, 100));  // the first frame always counts
    clock.advance(std::chrono::milliseconds(40));
    devices.push("S", solidFrame(1170, 2532, 100));  // the same picture again
    clock.advance(std::chrono::milliseconds(40));
    devices.push("S", solidFrame(1170, 2532, 180));
    clock.advance(std::chrono::milliseconds(40));
    devices.push("S", solidFrame(1170, 2532, 185));  // below the threshold everywhere

    auto all = screen.changes(start - 1);
    ASSERT_TRUE(all);
    EXPECT_EQ(all->after, (std::vector<int64_t>{start, start + 80}));
    EXPECT_EQ(all->last, start + 80);
    EXPECT_EQ(screen.changes(start)->after, (std::vector<int64_t>{start + 80}));
    EXPECT_TRUE(screen.changes(start + 80)->after.empty());
}

TEST(Screen, AnswersAChangeTooSmallToCountWithTheNewPicture) {
    FakeCaptureDevices devices;
    FakeClock clock;
    Screen screen(iPhone("S", "Phone"), devices, clock);
    devices.push("S", solidFrame(300, 600, 50));
    auto before = screen.snapshot(true, std::nullopt, std::nullopt);
    ASSERT_TRUE(before);
    devices.push("S", solidFrame(300, 600, 50));
    EXPECT_EQ(screen.snapshot(true, std::nullopt, std::nullopt)->bytes, before->bytes);

    // One pixel: no visible change to the thumbnails, still a new picture.
    auto dotted = std::make_shared<PixelBuffer>(*solidFrame(300, 600, 50));
    std::fill_n(dotted->mutableRow(10) + 20 * 4, 3, 250);
    devices.push("S", dotted);
    auto after = screen.snapshot(true, std::nullopt, std::nullopt);
    ASSERT_TRUE(after);
    auto decoded = decodeImage(after->bytes);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->row(10)[20 * 4 + 1], 250);
    EXPECT_EQ(screen.changes(0)->after.size(), 1u) << "the dot is below the change threshold";
}

// A decoder's frame that counts how often it is turned into BGRA.
struct CountingSource final : CapturedFrame::Source {
    CountingSource(PixelBufferRef picture, std::atomic<int>& conversions) : picture(std::move(picture)), conversions(conversions) {}
    int width() const override { return picture->width(); }
    int height() const override { return picture->height(); }
    PixelBufferRef toBGRA() const override {
        ++conversions;
        return std::make_shared<PixelBuffer>(*picture);
    }
    std::vector<uint8_t> greyThumbnail(int w, int h) const override { return quintalis::greyThumbnail(*picture, w, h); }
    PixelBufferRef picture;
    std::atomic<int>& conversions;
};

TEST(Screen, SeesChangeWithoutConvertingAndConvertsOnlyTheFrameRead) {
    FakeCaptureDevices devices;
    FakeClock clock;
    Screen screen(iPhone("S", "Phone"), devices, clock);
    std::atomic<int> conversions{0};
    auto push = [&](uint8_t grey) {
        devices.push("S", CapturedFrame(std::make_shared<CountingSource>(solidFrame(300, 600, grey), conversions)));
        clock.advance(std::chrono::milliseconds(40));
    };
    const int64_t start = clock.wallMillis();
    for (uint8_t grey : {50, 50, 180}) push(grey);
    EXPECT_EQ(screen.changes(start - 1)->after, (std::vector<int64_t>{start, start + 80}));
    EXPECT_EQ(*screen.size(), (ImageSize{300, 600}));
    EXPECT_EQ(conversions, 0);

    // Readers at once, then again: one conversion, one picture.
    PixelBufferRef seen[4];
    std::vector<std::thread> readers;
    for (auto& picture : seen) readers.emplace_back([&] { picture = screen.frame(); });
    for (auto& reader : readers) reader.join();
    auto png = screen.snapshot(true, std::nullopt, std::nullopt);
    ASSERT_TRUE(png);
    EXPECT_EQ(decodeImage(png->bytes)->row(0)[1], 180);
    for (const auto& picture : seen) EXPECT_EQ(picture, seen[0]);
    EXPECT_EQ(conversions, 1);
}
