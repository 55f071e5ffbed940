#include <gtest/gtest.h>

#include <thread>

#include "screen/text_recognition.h"
#include "platform/linux/tesseract_recognizer.h"
#include "support/text_picture.h"

using namespace quintalis;
using namespace quintalis::testing;

TEST(Recognize, ReadsWordsInReadingOrderWithTheirBoxes) {
    std::vector<Placed> placed;
    auto image = picture(900, 700, {{"About", 500, 300}, {"Settings", 60, 60}, {"General", 60, 300}, {"Battery", 60, 520}},
                         placed);
    TesseractRecognizer recognizer;
    JSON lines = recognize(recognizer, image);
    ASSERT_EQ(lines.size(), 4u) << lines.dump();
    const std::vector<std::string> order{"Settings", "General", "About", "Battery"};
    for (size_t i = 0; i < order.size(); ++i) {
        EXPECT_EQ(lines[i]["text"], order[i]);
        auto expected = std::find_if(placed.begin(), placed.end(), [&](const Placed& p) { return p.text == order[i]; });
        EXPECT_NEAR(lines[i]["x"].get<double>(), expected->x, 4) << order[i];
        EXPECT_NEAR(lines[i]["y"].get<double>(), expected->y, 4) << order[i];
        EXPECT_NEAR(lines[i]["w"].get<double>(), expected->w, 6) << order[i];
        EXPECT_NEAR(lines[i]["h"].get<double>(), expected->h, 6) << order[i];
        EXPECT_GT(lines[i]["conf"].get<double>(), 0.5);
    }
}

// A phone screen at 3×, where 17-point text is 51 pixels tall: the boxes
// are where a tap must land.
TEST(Recognize, LargePicturesAreReadAtTheirOwnCoordinates) {
    std::vector<Placed> placed;
    auto image = picture(1500, 1200, {{"Notes", 1100, 900}}, placed, "DejaVu Sans 51px");
    TesseractRecognizer recognizer;
    JSON lines = recognize(recognizer, image);
    ASSERT_EQ(lines.size(), 1u) << lines.dump();
    EXPECT_EQ(lines[0]["text"], "Notes");
    EXPECT_NEAR(lines[0]["x"].get<double>(), placed[0].x, 4);
    EXPECT_NEAR(lines[0]["y"].get<double>(), placed[0].y, 4);
}

TEST(Recognize, WarmEnginesServeSeveralThreadsAndBlankPicturesHaveNoText) {
    std::vector<Placed> placed;
    auto image = picture(600, 200, {{"Contacts", 40, 60}}, placed);
    TesseractRecognizer recognizer;
    std::vector<std::thread> readers;
    std::atomic<int> right{0};
    for (int i = 0; i < 3; ++i) {
        readers.emplace_back([&] {
            JSON lines = recognize(recognizer, image);
            if (lines.size() == 1 && lines[0]["text"] == "Contacts") ++right;
        });
    }
    for (auto& reader : readers) reader.join();
    EXPECT_EQ(right.load(), 3);
    EXPECT_EQ(recognize(recognizer, PixelBuffer(300, 300)), JSON::array());
    EXPECT_EQ(recognize(recognizer, PixelBuffer(0, 0)), JSON::array());
}
