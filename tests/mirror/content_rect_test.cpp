#include <gtest/gtest.h>

#include "mirror/content_rect.h"

using namespace quintalis;

namespace {

// A black frame in either channel order, with helpers to paint rectangles.
struct Frame {
    PixelBuffer buffer;
    Frame(int w, int h, PixelFormat format = PixelFormat::bgra) : buffer(w, h, format) {}
    void fill(int x, int y, int w, int h, uint8_t r, uint8_t g, uint8_t b) {
        bool bgra = buffer.format() == PixelFormat::bgra;
        for (int row = y; row < y + h; ++row) {
            for (int col = x; col < x + w; ++col) {
                uint8_t* p = buffer.mutableRow(row) + col * 4;
                p[0] = bgra ? b : r;
                p[1] = g;
                p[2] = bgra ? r : b;
                p[3] = 255;
            }
        }
    }
    Pixels pixels() const { return pixelsOf(buffer); }
};

// A phone picture of exactly 1179 × 2556 shape, scaled to fit the height.
Rect2D phoneIn(Frame& frame, int top, int height) {
    int width = static_cast<int>(std::round(height * 0.4612676056338028));
    int x = (frame.buffer.width() - width) / 2;
    frame.fill(x, top, width, height, 200, 210, 220);
    return Rect2D{static_cast<double>(x), static_cast<double>(top), static_cast<double>(width), static_cast<double>(height)};
}

}  // namespace

TEST(ParseAspect, AcceptsRatiosInEitherOrder) {
    EXPECT_DOUBLE_EQ(*parseAspect("9/19.5"), 9 / 19.5);
    EXPECT_DOUBLE_EQ(*parseAspect("19.5/9"), 9 / 19.5);
    EXPECT_DOUBLE_EQ(*parseAspect("0.4615"), 0.4615);
    EXPECT_DOUBLE_EQ(*parseAspect("2"), 0.5);
    EXPECT_DOUBLE_EQ(*parseAspect("9/x/19.5"), 9 / 19.5);
    for (const char* bad : {"9/0", "abc", "", "0", "-2", "0/5", "-3/5", "1/2/3"}) EXPECT_FALSE(parseAspect(bad)) << bad;
    EXPECT_FALSE(parseAspect(std::nullopt));
}

TEST(DetectContent, AnAllBlackFrameIsBlankInThePreferredOrientation) {
    Frame frame(1000, 1000);
    auto portrait = detectContent(frame.pixels(), std::nullopt, std::nullopt);
    EXPECT_EQ(portrait.method, "blank");
    EXPECT_EQ(portrait.orientation, "portrait");
    EXPECT_EQ(portrait.rect, (Rect2D{270, 0, 460, 1000}));
    auto landscape = detectContent(frame.pixels(), std::nullopt, "landscape");
    EXPECT_EQ(landscape.orientation, "landscape");
    EXPECT_EQ(landscape.rect, (Rect2D{0, 270, 1000, 460}));
    // A hint that is no shape at all never reaches the detector.
    EXPECT_EQ(detectContent(frame.pixels(), parseAspect("0/5"), std::nullopt).rect, portrait.rect);
}

TEST(DetectContent, AFlatTitleBandOverLetterboxBarsIsChrome) {
    Frame frame(800, 1000);
    frame.fill(0, 0, 800, 28, 200, 200, 200);  // the title bar
    Rect2D phone = phoneIn(frame, 60, 900);
    EXPECT_EQ(chromeTop(frame.pixels()), 28);
    auto found = detectContent(frame.pixels(), std::nullopt, std::nullopt);
    EXPECT_EQ(found.method, "edges");
    EXPECT_EQ(found.rect, phone);
    EXPECT_EQ(found.json(), (JSON{{"x", phone.x}, {"y", 60}, {"w", phone.width}, {"h", 900}, {"orientation", "portrait"},
                                  {"method", "edges"}}));

    Frame tall(800, 1000);
    tall.fill(0, 0, 800, 81, 200, 200, 200);  // more than 8 % of the height
    EXPECT_EQ(chromeTop(tall.pixels()), 0);
    Frame noisy(800, 1000);
    noisy.fill(0, 0, 800, 28, 200, 200, 200);
    for (int x = 0; x < 800; x += 8) noisy.fill(x, 5, 4, 1, 10, 250, 10);  // a busy row
    EXPECT_EQ(chromeTop(noisy.pixels()), 5);
}

TEST(DetectContent, APhoneWithDarkTopAndBottomIsFoundByFitting) {
    Frame frame(1200, 1000);
    int width = static_cast<int>(std::round(1000 * 0.4612676056338028));
    int x = (1200 - width) / 2;
    frame.fill(x, 333, width, 334, 180, 180, 180);  // only the middle third is lit
    auto found = detectContent(frame.pixels(), std::nullopt, std::nullopt);
    EXPECT_EQ(found.method, "fit");
    EXPECT_EQ(found.orientation, "portrait");
    EXPECT_NEAR(found.rect.height, 1000, 1);
    EXPECT_NEAR(found.rect.x, x, 2);
}

TEST(DetectContent, SmallOrShapelessBoxes) {
    Frame narrow(400, 400);
    narrow.fill(100, 100, 59, 128, 255, 255, 255);  // phone-shaped but 59 wide
    EXPECT_NE(detectContent(narrow.pixels(), std::nullopt, std::nullopt).method, "edges");

    Frame square(1000, 1000);
    square.fill(350, 350, 300, 300, 255, 255, 255);
    auto found = detectContent(square.pixels(), std::nullopt, std::nullopt);
    EXPECT_EQ(found.method, "fit");  // the square lies inside a phone shape centred in the frame
    EXPECT_EQ(found.orientation, "portrait");
    EXPECT_EQ(detectContent(square.pixels(), std::nullopt, "landscape").orientation, "landscape");

    Frame spread(1000, 1000);
    spread.fill(0, 0, 10, 1000, 255, 255, 255);  // light along two far edges: no phone shape holds it
    spread.fill(990, 0, 10, 1000, 255, 255, 255);
    auto box = detectContent(spread.pixels(), std::nullopt, std::nullopt);
    EXPECT_EQ(box.method, "bbox");
    EXPECT_EQ(box.rect, (Rect2D{0, 0, 1000, 1000}));
}

TEST(NonBlackBox, DarkBoundaryAndSampling) {
    Frame frame(500, 500);
    frame.fill(10, 10, 1, 1, 28, 28, 28);
    EXPECT_FALSE(nonBlackBox(frame.pixels(), {0, 0, 500, 500}));
    frame.fill(10, 10, 1, 1, 29, 0, 0);
    EXPECT_EQ(nonBlackBox(frame.pixels(), {0, 0, 500, 500}), (Rect2D{10, 10, 1, 1}));

    // At a shorter side of 399 every pixel is sampled: a single pixel is found.
    Frame fine(399, 900);
    fine.fill(201, 301, 1, 1, 255, 255, 255);
    EXPECT_EQ(nonBlackBox(fine.pixels(), {0, 0, 399, 900}), (Rect2D{201, 301, 1, 1}));
    // At 800 every second pixel: a pixel at odd coordinates is missed, while
    // a block the samples touch is refined out to its true edges.
    Frame coarse(800, 900);
    coarse.fill(201, 301, 1, 1, 255, 255, 255);
    EXPECT_FALSE(nonBlackBox(coarse.pixels(), {0, 0, 800, 900}));
    coarse.fill(399, 399, 4, 3, 255, 255, 255);
    EXPECT_EQ(nonBlackBox(coarse.pixels(), {0, 0, 800, 900}), (Rect2D{399, 399, 4, 3}));
}

TEST(DetectContent, ChannelOrderDoesNotMatter) {
    for (auto format : {PixelFormat::bgra, PixelFormat::rgba}) {
        Frame frame(2556, 1179, format);
        frame.fill(300, 100, 1900, 900, 10, 120, 40);
        Frame landscape(2556, 1179, format);
        int height = 1000;
        int width = static_cast<int>(std::round(height / 0.4612676056338028));
        landscape.fill((2556 - width) / 2, 89, width, height, 30, 60, 200);
        auto found = detectContent(landscape.pixels(), std::nullopt, std::nullopt);
        EXPECT_EQ(found.method, "edges");
        EXPECT_EQ(found.orientation, "landscape");
        EXPECT_EQ(found.rect.width, width);
    }
}

TEST(Fit, CentresTheLargestShape) {
    EXPECT_EQ(fit(0.5, false, {0, 0, 1000, 1000}), (Rect2D{250, 0, 500, 1000}));
    EXPECT_EQ(fit(0.5, true, {0, 100, 1000, 1000}), (Rect2D{0, 350, 1000, 500}));
}
