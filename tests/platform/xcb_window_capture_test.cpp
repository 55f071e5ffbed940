#include <gtest/gtest.h>

#include "mirror/window_capture.h"
#include "platform/linux/xcb_window_server.h"
#include "platform/linux/xcb_window_streams.h"
#include "support/eventually.h"
#include "support/test_window.h"
#include "support/xvfb.h"

using namespace quintalis;
using namespace quintalis::testing;

namespace {

WinInfo windowNumbered(uint32_t number) {
    WinInfo info;
    info.window.number = number;
    return info;
}

// The real capture path against a private X server: listing, Composite,
// Damage and shared-memory grabs.
class XcbCaptureTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(Xvfb::display().empty()) << "Xvfb did not start";
        x = XConnection::open(Xvfb::display());
        ASSERT_TRUE(x);
    }

    std::unique_ptr<WindowCapture> capture(const TestWindow& window) {
        auto made = std::make_unique<WindowCapture>(windowNumbered(window.number()), backends);
        made->start();
        return made;
    }

    // The 0xRRGGBB colour of a pixel of the newest frame.
    static std::optional<uint32_t> colourAt(const WindowCapture& capture, int x0, int y0) {
        auto frame = capture.latest();
        if (!frame || x0 >= frame->buffer->width() || y0 >= frame->buffer->height()) return std::nullopt;
        const uint8_t* p = frame->buffer->row(y0) + x0 * 4;
        return static_cast<uint32_t>(p[2] << 16 | p[1] << 8 | p[0]);
    }

    static long long framesOf(const WindowCapture& capture) {
        auto frame = capture.latest();
        return frame ? frame->frames : 0;
    }

    std::shared_ptr<XConnection> x;
    XDisplayLink link{Xvfb::display()};
    XcbWindowServer server{link};
    XcbWindowStreams streams{link};
    CaptureBackends backends{server, streams, Clock::real(), [](const std::string&) { return std::nullopt; }, "help"};
};

// Two captures of one window, hidden under another, each followed on its
// own: stopping one leaves the other.
TEST_F(XcbCaptureTest, DrawingIsFollowedByFramesEvenUnderAnotherWindow) {
    TestWindow window(*x, 0, 0, 200, 300);
    auto first = capture(window);
    auto cap = capture(window);
    TestWindow cover(*x, 0, 0, 400, 400);
    cover.fill(0xFFFFFF, 0, 0, 400, 400);
    window.fill(0xFF0000, 0, 0, 200, 300);
    EXPECT_TRUE(eventually([&] { return colourAt(*cap, 10, 10) == 0xFF0000u; }));
    first->stop();
    window.fill(0x00FF00, 100, 150, 50, 50);
    EXPECT_TRUE(eventually([&] { return colourAt(*cap, 120, 170) == 0x00FF00u; }));
    EXPECT_EQ(colourAt(*cap, 10, 10), 0xFF0000u);
    EXPECT_GE(cap->changeTimes(0).size(), 2u);
}

TEST_F(XcbCaptureTest, AnUnchangingWindowYieldsNoNewFrames) {
    TestWindow still(*x, 0, 0, 150, 150);
    still.fill(0x3366CC, 0, 0, 150, 150);
    still.sync();  // drawn before the capture starts, not during it
    TestWindow busy(*x, 200, 0, 150, 150);
    auto stillCapture = capture(still);
    auto busyCapture = capture(busy);
    ASSERT_TRUE(eventually([&] { return framesOf(*stillCapture) == 1 && framesOf(*busyCapture) >= 1; }))
        << framesOf(*stillCapture) << " " << framesOf(*busyCapture);
    // Each drawing in the other window comes back as a frame of that window;
    // by then any frame of the still one would have come too.
    for (uint32_t colour : {0x111111u, 0x777777u, 0xEEEEEEu}) {
        busy.fill(colour, 0, 0, 150, 150);
        ASSERT_TRUE(eventually([&] { return colourAt(*busyCapture, 5, 5) == colour; }));
    }
    EXPECT_EQ(framesOf(*stillCapture), 1);
}

// Frames are the window's inside, without its border, through a resize
// with a new border and an unmap; a closed window ends the capture.
TEST_F(XcbCaptureTest, FollowsTheInsideThroughResizesUntilTheWindowCloses) {
    TestWindow window(*x, 30, 40, 200, 120);
    window.setBorder(3, 0xFFFFFF);
    window.fill(0xFF0000, 0, 0, 200, 120);
    auto cap = capture(window);
    auto inside = [&](int width, int height, uint32_t colour) {
        auto frame = cap->latest();
        return frame && frame->buffer->width() == width && frame->buffer->height() == height &&
               colourAt(*cap, 0, 0) == colour && colourAt(*cap, width - 1, height - 1) == colour;
    };
    EXPECT_TRUE(eventually([&] { return inside(200, 120, 0xFF0000u); }));

    window.setBorder(6, 0xFFFFFF);
    window.resize(260, 220);
    window.fill(0x00FFFF, 0, 0, 260, 220);
    EXPECT_TRUE(eventually([&] { return inside(260, 220, 0x00FFFFu); }));
    cap->checkResize();
    EXPECT_EQ(cap->info().window.width, 260);

    window.unmap();
    window.map();
    window.fill(0xFF00FF, 0, 0, 10, 10);
    EXPECT_TRUE(eventually([&] { return colourAt(*cap, 5, 5) == 0xFF00FFu; })) << "a mapped-again window is followed";

    window.destroy();
    EXPECT_TRUE(eventually([&] { return cap->stoppedError() == "window closed"; }));
    EXPECT_TRUE(cap->latest()) << "the last frame stays";
}

}  // namespace
