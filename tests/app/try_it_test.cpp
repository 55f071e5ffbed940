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
    std::string failure(bool preferAirPlay) {
        try {
            tryIt.look(preferAirPlay);
        } catch (const TryIt::TryError& error) {
            return error.what();
        }
        return "a picture";
    }

    StubbedServices services;
    StubService& engineService = services.engineService;
    StubService& airplayService = services.airplayService;
    ScriptedRecognizer recognizer;
    TryIt tryIt{services.engine, recognizer};
};

// The look tries the chosen source first and the other after; only when
// neither gives a picture does it fail, in the words of the chosen one.
TEST_F(TryItTest, TakesThePreferredSourceFirstAndTheOtherAfter) {
    engineService.answerWith(picture(118, 256));
    airplayService.answerWith(picture(60, 130));
    recognizer.texts = {"12:41", "5G", "Messages", "\u0416\u6587", "\xff\xfe"};
    auto usb = tryIt.look(false);
    EXPECT_EQ(usb.source, "USB cable");
    EXPECT_EQ(usb.pixels, "118\u00D7256");
    EXPECT_EQ(usb.lines, (std::vector<std::string>{"Messages", "\u0416\u6587"})) << "lines with two letters";
    EXPECT_EQ(engineService.requests().back().query, (std::map<std::string, std::string>{{"maxEdge", "1200"}}));
    EXPECT_EQ(tryIt.look(true).source, "AirPlay");

    // A refusal with a JSON body, or a body that is no picture, is no look.
    for (int status : {503, 200}) {
        engineService.answerJSON(R"({"error": "no iPhone screen yet"})", status);
        EXPECT_EQ(tryIt.look(false).source, "AirPlay") << status;
    }
    services.takeDown("QUINTALIS_AIRPLAY_URL");
    EXPECT_EQ(failure(false),
              "No picture yet. Check that the iPhone is plugged in, unlocked, and that you tapped Trust.");
    EXPECT_EQ(failure(true), "No picture yet. On your iPhone, open Control Center \u203a Screen Mirroring and choose "
                             "this computer, then try again.");
    engineService.answerWith(picture(10, 20));
    EXPECT_EQ(tryIt.look(true).source, "USB cable");
}

TEST_F(TryItTest, KeepsAtMostFourteenLines) {
    engineService.answerWith(picture(20, 40));
    for (int line = 1; line <= 20; ++line) recognizer.texts.push_back("Row " + std::to_string(line));
    auto look = tryIt.look(false);
    ASSERT_EQ(look.lines.size(), 14u);
    EXPECT_EQ(look.lines.back(), "Row 14");
}

}  // namespace
