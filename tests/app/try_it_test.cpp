#include <gtest/gtest.h>

#include "app/model/try_it.h"
#include "imaging/codecs.h"
#include "support/striped_picture.h"
#include "support/stub_service.h"

using namespace quintalis;
using namespace quintalis::testing;

namespace {

// Reads the same lines on every picture.
class ScriptedRecognizer final : public TextRecognizer {
public:
    std::vector<std::string> texts;
    std::vector<TextLine> recognize(const PixelBuffer&) override {
        std::vector<TextLine> lines;
        int y = 0;
        for (const auto& text : texts) lines.push_back({text, 0.9, 0, y++, 10, 1});
        return lines;
    }
};

HTTPResponse picture(int width, int height) {
    HTTPResponse response;
    response.contentType = "image/jpeg";
    response.body = *encodeJPEG(stripedPicture(width, height), 80);
    return response;
}

class TryItTest : public ::testing::Test {
protected:
    void down(const char* variable) { services.takeDown(variable); }

    StubbedServices services;
    StubService& engineService = services.engineService;
    StubService& airplayService = services.airplayService;
    ScriptedRecognizer recognizer;
    TryIt tryIt{services.engine, recognizer};
};

TEST_F(TryItTest, TakesThePreferredSourceFirstAndTheOtherAfter) {
    engineService.answerWith(picture(118, 256));
    airplayService.answerWith(picture(60, 130));
    recognizer.texts = {"12:41", "5G", "Messages"};
    auto usb = tryIt.look(false);
    EXPECT_EQ(usb.source, "USB cable");
    EXPECT_EQ(usb.pixels, "118\u00D7256");
    EXPECT_EQ(usb.image->width(), 118);
    EXPECT_EQ(usb.lines, std::vector<std::string>{"Messages"});
    ASSERT_EQ(engineService.requests().size(), 1u);
    EXPECT_EQ(engineService.requests()[0].path, "/screenshot");
    EXPECT_EQ(engineService.requests()[0].query, (std::map<std::string, std::string>{{"maxEdge", "1200"}}));

    EXPECT_EQ(tryIt.look(true).source, "AirPlay");
    ASSERT_EQ(airplayService.requests().size(), 1u);
    EXPECT_EQ(airplayService.requests()[0].path, "/frame.jpg");
    EXPECT_EQ(airplayService.requests()[0].query.at("maxEdge"), "1200");

    // A refusal with a JSON body, or a body that is no picture, is no look.
    engineService.answerJSON(R"({"error": "no iPhone screen yet"})", 503);
    EXPECT_EQ(tryIt.look(false).source, "AirPlay");
    engineService.answerJSON(R"({"ok": true})", 200);
    EXPECT_EQ(tryIt.look(false).source, "AirPlay");
    down("QUINTALIS_AIRPLAY_URL");
    engineService.answerWith(picture(10, 20));
    EXPECT_EQ(tryIt.look(true).source, "USB cable");
}

TEST_F(TryItTest, SpeaksOfThePreferredSourceWhenNeitherWorks) {
    engineService.answerJSON(R"({"error": "no iPhone screen yet"})", 503);
    down("QUINTALIS_AIRPLAY_URL");
    auto message = [this](bool preferAirPlay) {
        try {
            tryIt.look(preferAirPlay);
        } catch (const TryIt::TryError& error) {
            return std::string(error.what());
        }
        return std::string("a picture");
    };
    EXPECT_EQ(message(false), "No picture yet. Check that the iPhone is plugged in, unlocked, and that you tapped Trust.");
    EXPECT_EQ(message(true),
              "No picture yet. On your iPhone, open Control Center \u203a Screen Mirroring and choose this computer, then "
              "try again.");
    EXPECT_EQ(engineService.requests().size(), 2u) << "the cable was tried both times";
}

TEST_F(TryItTest, KeepsAtMostFourteenReadableLines) {
    engineService.answerWith(picture(20, 40));
    for (int line = 1; line <= 20; ++line) recognizer.texts.push_back("Row " + std::to_string(line));
    auto look = tryIt.look(false);
    ASSERT_EQ(look.lines.size(), 14u);
    EXPECT_EQ(look.lines.front(), "Row 1");
    EXPECT_EQ(look.lines.back(), "Row 14");

    recognizer.texts.resize(14);
    EXPECT_EQ(tryIt.look(false).lines, recognizer.texts);
}

TEST(TryItReadable, KeepsLinesWithTwoLettersOfAnyScript) {
    EXPECT_EQ(TryIt::readable({"12:41", "5G", "Messages", "OK", "", "\u00E9 1", "\u0416\u6587", "\u0627\u0644",
                               "\xE2\x82\xAC\xE2\x82\xAC", "\xff\xfe"}),
              (std::vector<std::string>{"Messages", "OK", "\u0416\u6587", "\u0627\u0644"}));
}

}  // namespace
