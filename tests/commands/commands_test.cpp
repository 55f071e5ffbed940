#include <gtest/gtest.h>

#include <png.h>

#include <fstream>

#include "base/json.h"
#include "imaging/codecs.h"
#include "support/png_head.h"
#include "support/run_program.h"
#include "support/text_picture.h"

using namespace quintalis;
using namespace quintalis::testing;

TEST(Commands, DetectRectTakesTheAspectAndThePreference) {
    TempDir dir;
    PixelBuffer frame(1000, 1000);  // black but for a lit square in the middle
    for (int y = 400; y < 600; ++y) std::fill(frame.mutableRow(y) + 400 * 4, frame.mutableRow(y) + 600 * 4, 255);
    std::ofstream(dir.path() / "square.jpg") << *encodeJPEG(frame, 90);
    const std::string path = (dir.path() / "square.jpg").string();
    // Both orientations hold the square with the same area: the preference decides.
    EXPECT_EQ(run("detect-rect " + path, dir).out,
              "{\"h\":1000,\"method\":\"fit\",\"orientation\":\"portrait\",\"w\":460,\"x\":270,\"y\":0}\n");
    EXPECT_EQ(run("detect-rect " + path + " --prefer landscape", dir).out,
              "{\"h\":461,\"method\":\"fit\",\"orientation\":\"landscape\",\"w\":1000,\"x\":0,\"y\":269}\n");
    EXPECT_EQ(run("detect-rect " + path + " --aspect 1/2", dir).out,
              "{\"h\":1000,\"method\":\"fit\",\"orientation\":\"portrait\",\"w\":500,\"x\":250,\"y\":0}\n");
}

TEST(Commands, DetectRectFindsAPhoneOnATransparentBackgroundByItsEdges) {
    TempDir dir;
    // Transparent white around an opaque grey phone: drawn as it looks, the surround is black.
    const int width = 800, height = 1000;
    std::vector<uint8_t> rgba(static_cast<size_t>(width) * height * 4);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint8_t* p = rgba.data() + (static_cast<size_t>(y) * width + x) * 4;
            bool phone = y >= 60 && y < 960 && x >= 192 && x < 607;
            p[0] = p[1] = p[2] = phone ? 180 : 255;
            p[3] = phone ? 255 : 0;
        }
    }
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = width;
    image.height = height;
    image.format = PNG_FORMAT_RGBA;
    ASSERT_TRUE(png_image_write_to_file(&image, (dir.path() / "cutout.png").c_str(), 0, rgba.data(), 0, nullptr));
    auto result = run("detect-rect " + (dir.path() / "cutout.png").string(), dir);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "{\"h\":900,\"method\":\"edges\",\"orientation\":\"portrait\",\"w\":415,\"x\":192,\"y\":60}\n");
}

// Arguments are checked before any backend starts (a virtual phone would
// say it is running first), so the one line on standard error is all.
TEST(Commands, BadArgumentsFailWithOneLineAndNothingElse) {
    TempDir dir;
    std::ofstream(dir.path() / "huge.png") << pngHead(20000, 6000);
    const std::string hugePath = (dir.path() / "huge.png").string();
    const std::string detectUsage = "usage: detect-rect <image> [--aspect W/H] [--prefer portrait|landscape]\n";
    const std::string usbUsage = "usage: usb-capture <out.png|.jpg> [--device ID] [--max N] [--ocr] [--timeout S]\n";
    const std::string airplayUsage = "usage: airplay-capture <out.png|.jpg> [--window ID] [--max N] [--ocr] [--no-crop]\n";
    const std::pair<std::string, std::string> cases[] = {
        {"detect-rect", detectUsage},
        {"detect-rect /nonexistent.png", detectUsage},
        {"detect-rect " + hugePath, "image too large: 20000\u00D76000\n"},
        {"ocr", "usage: ocr <image>\n"},
        {"ocr /nonexistent.png", "cannot read /nonexistent.png\n"},
        {"ocr /dev/zero", "cannot read /dev/zero\n"},  // read for ever, before
        {"ocr " + hugePath, "image too large: 20000\u00D76000\n"},
        {"usb-capture", usbUsage},
        {"usb-capture --device X out.png", usbUsage},
        {"airplay-capture", airplayUsage},
        {"airplay-capture --max 800 shot.jpg", airplayUsage},
        {"airplay-capture shot.jpg --max 0", "--max must be a positive number\n"},
        {"airplay-serve --port none", "usage: airplay-serve [--port N] [--window ID]\n"},
        {"airplay-serve --port 70000", "usage: airplay-serve [--port N] [--window ID]\n"},
        {"click 100", "usage: click <x> <y> [long]\n"},
        {"drag 1 2 x 4", "usage: drag <x0> <y0> <x1> <y1> [ms]\n"},
        {"key", "usage: key <name>, with modifiers before it: cmd+shift+a\n"},
        {"pair soon", "usage: quintalis pair [seconds]\n"},
    };
    for (const auto& [arguments, message] : cases) {
        auto result = run(arguments, dir, "-u DISPLAY QUINTALIS_SIMULATOR=1");
        EXPECT_EQ(result.status, 1) << arguments;
        EXPECT_EQ(result.err, message) << arguments;
        EXPECT_EQ(result.out, "") << arguments;
    }
}

TEST(Commands, OCRPrintsTheLinesAsJSON) {
    TempDir dir;
    std::vector<Placed> placed;
    std::ofstream(dir.path() / "words.png") << *encodePNG(picture(600, 300, {{"Settings", 40, 40}, {"Battery", 40, 180}}, placed));
    auto result = run("ocr " + (dir.path() / "words.png").string(), dir);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");  // nothing from the recognition engine either
    auto lines = JSON::parse(result.out);
    ASSERT_EQ(lines.size(), 2u) << result.out;
    EXPECT_EQ(lines[0]["text"], "Settings");
    EXPECT_EQ(lines[1]["text"], "Battery");
    EXPECT_NEAR(lines[1]["y"].get<double>(), placed[1].y, 4);
}
