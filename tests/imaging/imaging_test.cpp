#include <gtest/gtest.h>

#include <fstream>

#include "imaging/codecs.h"
#include "imaging/encoded_frame_cache.h"
#include "imaging/image_ops.h"
#include "support/temp_dir.h"

using namespace quintalis;

namespace {

// Left half red, right half blue, in BGRA.
PixelBuffer halves(int width, int height) {
    PixelBuffer picture(width, height);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = picture.mutableRow(y);
        for (int x = 0; x < width; ++x) {
            bool left = x < width / 2;
            row[x * 4] = left ? 0 : 255;      // blue
            row[x * 4 + 1] = 0;               // green
            row[x * 4 + 2] = left ? 255 : 0;  // red
            row[x * 4 + 3] = 255;
        }
    }
    return picture;
}

}  // namespace

TEST(ImageSize, NeverEnlargesAndTheTighterLimitWins) {
    EXPECT_EQ(imageSize(1170, 2532, 400, std::nullopt), (ImageSize{400, 866}));
    EXPECT_EQ(imageSize(1170, 2532, 2000, 1000), (ImageSize{462, 1000}));
    EXPECT_EQ(imageSize(1170, 2532, 5000, 9000), (ImageSize{1170, 2532}));
    // A side scaled below one pixel keeps one.
    EXPECT_EQ(imageSize(1170, 2532, std::nullopt, 1), (ImageSize{1, 1}));
    EXPECT_EQ(imageSize(1170, 2532, 1, std::nullopt), (ImageSize{1, 2}));
}

TEST(Imaging, GreyThumbnailStretchesTheWholeFrame) {
    auto grey = greyThumbnail(halves(400, 200), 90, 195);  // landscape into portrait
    ASSERT_EQ(grey.size(), 90u * 195);
    // Red is brighter than blue in luminance, on both sides of every row.
    for (int row : {0, 97, 194}) EXPECT_GT(grey[row * 90 + 10], grey[row * 90 + 80] + 20);
    // The same picture in RGBA order gives the same luminance.
    PixelBuffer rgba = halves(400, 200);
    PixelBuffer swapped(400, 200, rgba.bytesPerRow(), std::vector<uint8_t>(rgba.data(), rgba.data() + rgba.bytesPerRow() * 200),
                        PixelFormat::rgba);
    for (int y = 0; y < 200; ++y) {
        for (int x = 0; x < 400; ++x) std::swap(swapped.mutableRow(y)[x * 4], swapped.mutableRow(y)[x * 4 + 2]);
    }
    EXPECT_EQ(greyThumbnail(swapped, 90, 195), grey);
}

TEST(Imaging, ScalingAndCroppingKeepThePictureAndCropsClip) {
    PixelBuffer small = scaled(halves(200, 100), 50, 25);
    ASSERT_EQ(small.width(), 50);
    ASSERT_EQ(small.height(), 25);
    EXPECT_EQ(small.row(10)[5 * 4 + 2], 255);   // left is still red
    EXPECT_EQ(small.row(10)[45 * 4 + 0], 255);  // right is still blue
    PixelBuffer part = cropped(halves(100, 50), 40, 10, 100, 100);
    EXPECT_EQ(part.width(), 60);
    EXPECT_EQ(part.height(), 40);
    EXPECT_EQ(part.row(0)[2], 255);       // x 40 is red
    EXPECT_EQ(part.row(0)[20 * 4], 255);  // x 60 is blue
    EXPECT_EQ(cropped(halves(10, 10), 20, 20, 5, 5).width(), 0);
    PixelBuffer inside = cropped(halves(100, 50), 10, 5, 20, 10);
    EXPECT_EQ(std::make_pair(inside.width(), inside.height()), std::make_pair(20, 10));
}

TEST(Codecs, EncodedPicturesDecodeToTheSameSizeAndColoursAndGarbageNot) {
    PixelBuffer picture = halves(64, 32);
    for (bool png : {true, false}) {
        auto bytes = encodePicture(picture, png);
        ASSERT_TRUE(bytes);
        // The type the services announce is the one they send.
        EXPECT_EQ(pictureMime(png), std::string(png ? "image/png" : "image/jpeg"));
        EXPECT_TRUE(bytes->starts_with(png ? "\x89PNG" : "\xFF\xD8")) << png;
        auto decoded = decodeImage(*bytes);
        ASSERT_TRUE(decoded) << png;
        EXPECT_EQ(decoded->width(), 64);
        EXPECT_EQ(decoded->height(), 32);
        EXPECT_EQ(decoded->format(), PixelFormat::rgba);
        EXPECT_NEAR(decoded->row(16)[4 * 4 + 0], 255, 8) << png;   // red on the left
        EXPECT_NEAR(decoded->row(16)[60 * 4 + 2], 255, 8) << png;  // blue on the right
        EXPECT_FALSE(decodeImage(bytes->substr(0, png ? bytes->size() / 2 : 20))) << "cut short";
    }
    EXPECT_FALSE(decodeImage(""));
    EXPECT_FALSE(decodeImage("not an image at all"));
}

namespace {

// A frame of one colour, as a capture device hands it over.
PixelBufferRef plainFrame(uint8_t shade) {
    PixelBuffer frame(40, 30);
    std::fill(frame.mutableData(), frame.mutableData() + frame.bytesPerRow() * frame.height(), shade);
    return std::make_shared<const PixelBuffer>(std::move(frame));
}

// Counts encodes, and makes each one's bytes different so a stale answer shows.
struct CountingEncoder {
    int encodes = 0;
    EncodedFrameCache::Encode operator()() {
        return [this]() -> std::optional<std::string> { return "picture " + std::to_string(++encodes); };
    }
};

}  // namespace

TEST(EncodedFrameCache, AnswersAnUnchangedFrameFromCacheAndNeverAChangedOrFailedOne) {
    EncodedFrameCache cache;
    CountingEncoder encoder;
    const EncodedFrameCache::Key key{0, 0, 40, 30, 20, 15, false};
    auto first = plainFrame(7);
    EXPECT_EQ(cache.encoded(first, key, encoder()), "picture 1");
    EXPECT_EQ(cache.encoded(first, key, encoder()), "picture 1");
    // The same picture sent again as a new object is still the same screen.
    EXPECT_EQ(cache.encoded(plainFrame(7), key, encoder()), "picture 1");
    EXPECT_EQ(encoder.encodes, 1);

    // One pixel, one channel, in the last row.
    auto changed = std::make_shared<PixelBuffer>(*first);
    changed->mutableRow(29)[39 * 4 + 2] ^= 1;
    EXPECT_EQ(cache.encoded(changed, key, encoder()), "picture 2");
    // And back: the entries of the first frame went with it.
    EXPECT_EQ(cache.encoded(first, key, encoder()), "picture 3");

    // A failed encode is not remembered.
    auto other = plainFrame(1);
    EXPECT_EQ(cache.encoded(other, key, [] { return std::optional<std::string>(); }), std::nullopt);
    EXPECT_EQ(cache.encoded(other, key, [] { return std::optional<std::string>("bytes"); }), "bytes");
}

TEST(EncodedFrameCache, KeepsEachParameterApartAndABoundedNumber) {
    EncodedFrameCache cache(3);
    CountingEncoder encoder;
    auto frame = plainFrame(7);
    const std::vector<EncodedFrameCache::Key> keys{
        {0, 0, 40, 30, 20, 15, false}, {0, 0, 40, 30, 20, 15, true}, {0, 0, 40, 30, 40, 30, false},
        {0, 1, 40, 29, 20, 15, false}, {2, 0, 38, 30, 20, 15, false}};
    for (const auto& key : keys) cache.encoded(frame, key, encoder());
    EXPECT_EQ(encoder.encodes, 5) << "no two parameter sets share an entry";
    // The three asked for last are kept; the oldest is encoded again.
    EXPECT_EQ(cache.encoded(frame, keys[4], encoder()), "picture 5");
    EXPECT_EQ(cache.encoded(frame, keys[0], encoder()), "picture 6");
    EXPECT_EQ(cache.size(), 3u);
}
