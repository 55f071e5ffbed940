#include <gtest/gtest.h>

#include <fstream>

#include "imaging/codecs.h"
#include "support/run_program.h"

using namespace quintalis;
using namespace quintalis::testing;


TEST(Commands, DetectRectPrintsTheRectangle) {
    TempDir dir;
    PixelBuffer frame(800, 1000);
    for (int y = 0; y < 1000; ++y) {
        for (int x = 0; x < 800; ++x) {
            uint8_t* p = frame.mutableRow(y) + x * 4;
            bool title = y < 28, phone = y >= 60 && y < 960 && x >= 192 && x < 607;
            p[0] = p[1] = p[2] = title ? 200 : phone ? 180 : 0;
            p[3] = 255;
        }
    }
    std::ofstream(dir.path() / "frame.png") << *encodePNG(frame);
    auto result = run("detect-rect " + (dir.path() / "frame.png").string() + " --prefer portrait", dir);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "{\"h\":900,\"method\":\"edges\",\"orientation\":\"portrait\",\"w\":415,\"x\":192,\"y\":60}\n");
}

TEST(Commands, BadArgumentsFailWithAUsageLine) {
    TempDir dir;
    const std::pair<std::string, std::string> cases[] = {
        {"detect-rect", "usage: detect-rect <image> [--aspect W/H] [--prefer portrait|landscape]\n"},
        {"detect-rect /nonexistent.png", "usage: detect-rect <image> [--aspect W/H] [--prefer portrait|landscape]\n"},
        {"ocr", "usage: ocr <image>\n"},
        {"ocr /nonexistent.png", "cannot read /nonexistent.png\n"},
    };
    for (const auto& [arguments, message] : cases) {
        auto result = run(arguments, dir);
        EXPECT_EQ(result.status, 1) << arguments;
        EXPECT_EQ(result.err, message) << arguments;
        EXPECT_EQ(result.out, "") << arguments;
    }
}

TEST(Commands, OCRPrintsTheLinesAsJSON) {
    TempDir dir;
    PixelBuffer blank(200, 100);
    std::fill(blank.mutableData(), blank.mutableData() + blank.bytesPerRow() * 100, 255);
    std::ofstream(dir.path() / "blank.png") << *encodePNG(blank);
    auto result = run("ocr " + (dir.path() / "blank.png").string(), dir);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "[]\n");
}
