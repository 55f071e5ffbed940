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
    EXPECT_DOUBLE_EQ(*parseAspect("19.5/9"), 9 / 19.5);
    EXPECT_DOUBLE_EQ(*parseAspect("2"), 0.5);
    EXPECT_DOUBLE_EQ(*parseAspect("9/x/19.5"), 9 / 19.5);
    for (const char* bad : {"9/0", "abc", "0", "-3/5", "1/2/3"}) EXPECT_FALSE(parseAspect(bad)) << bad;
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

    Frame tall(800, 1000);
    tall.fill(0, 0, 800, 81, 200, 200, 200);  // more than 8 % of the height
    EXPECT_EQ(chromeTop(tall.pixels()), 0);
}

TEST(DetectContent, APhoneWithDarkTopAndBottomIsFoundByFittingTheSmallerShape) {
    Frame frame(1200, 1000);
    int width = static_cast<int>(std::round(1000 * 0.4612676056338028));
    int x = (1200 - width) / 2;
    frame.fill(x, 333, width, 334, 180, 180, 180);  // only the middle third is lit
    auto found = detectContent(frame.pixels(), std::nullopt, std::nullopt);
    EXPECT_EQ(found.method, "fit");
    EXPECT_EQ(found.orientation, "portrait");
    // The first iPhone shape (1206 × 2622) that holds the light: 459.95 wide.
    EXPECT_EQ(found.rect, (Rect2D{370, 0, 460, 1000}));

    // In a 980 × 1000 region the landscape shape is 4 % smaller than the portrait one.
    Frame nearlySquare(980, 1000);
    nearlySquare.fill(440, 450, 100, 100, 180, 180, 180);
    EXPECT_EQ(detectContent(nearlySquare.pixels(), std::nullopt, std::nullopt).rect, (Rect2D{0, 275, 980, 451}));
    // 10 pixels (1 %) outside the portrait shape is still inside.
    Frame slight(1000, 1000);
    slight.fill(260, 350, 480, 300, 180, 180, 180);
    EXPECT_EQ(detectContent(slight.pixels(), std::nullopt, std::nullopt).rect, (Rect2D{270, 0, 460, 1000}));
}

TEST(DetectContent, AnAspectHintIsTriedFirst) {
    Frame frame(1200, 1100);
    frame.fill(350, 50, 500, 1000, 180, 180, 180);  // half as wide as tall: no iPhone shape
    EXPECT_NE(detectContent(frame.pixels(), std::nullopt, std::nullopt).method, "edges");
    auto hinted = detectContent(frame.pixels(), parseAspect("1/2"), std::nullopt);
    EXPECT_EQ(hinted.method, "edges");
    EXPECT_EQ(hinted.rect, (Rect2D{350, 50, 500, 1000}));
    // Fitting tries only the hint's shape.
    Frame dim(1200, 1000);
    dim.fill(550, 450, 100, 100, 180, 180, 180);
    EXPECT_EQ(detectContent(dim.pixels(), parseAspect("1/2"), std::nullopt).rect, (Rect2D{350, 0, 500, 1000}));
}

TEST(DetectContent, EdgesAllowOnePointTwoPercentOffShape) {
    // 1179 × 2556 is 0.46127: 1 % wider passes, 2 % wider does not.
    for (auto [width, edges] : {std::pair{466, true}, std::pair{470, false}}) {
        Frame frame(1200, 1100);
        frame.fill(300, 50, width, 1000, 180, 180, 180);
        EXPECT_EQ(detectContent(frame.pixels(), std::nullopt, std::nullopt).method == "edges", edges) << width;
    }
}

TEST(DetectContent, ShapelessLightIsBoxed) {
    Frame spread(1000, 1000);
    spread.fill(0, 0, 10, 1000, 255, 255, 255);  // light along two far edges: no phone shape holds it
    spread.fill(990, 0, 10, 1000, 255, 255, 255);
    auto box = detectContent(spread.pixels(), std::nullopt, std::nullopt);
    EXPECT_EQ(box.method, "bbox");
    EXPECT_EQ(box.rect, (Rect2D{0, 0, 1000, 1000}));
}

TEST(DetectContent, AThinBrightFrameRoundTheLetterboxIsLookedPast) {
    for (int edge : {1, 3}) {
        for (int band : {0, 28}) {  // with and without a title band inside the frame
            Frame frame(900 + 2 * edge, 1298 + 2 * edge);
            frame.fill(0, 0, frame.buffer.width(), frame.buffer.height(), 230, 230, 230);
            frame.fill(edge, edge, 900, 1298, 0, 0, 0);
            frame.fill(edge, edge, 900, band, 200, 200, 200);
            Rect2D phone = phoneIn(frame, edge + band + (1298 - band - 1200) / 2, 1200);
            auto found = detectContent(frame.pixels(), std::nullopt, std::nullopt);
            EXPECT_EQ(found.method, "edges") << edge << " " << band;
            EXPECT_EQ(found.rect, phone) << edge << " " << band;
        }
    }
}

TEST(DetectContent, ChannelOrderDoesNotMatter) {
    for (auto format : {PixelFormat::bgra, PixelFormat::rgba}) {
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
