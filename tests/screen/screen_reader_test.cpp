#include <gtest/gtest.h>

#include "screen/text_recognition.h"
#include "platform/linux/tesseract_recognizer.h"
#include "support/phone_screens.h"
#include "support/text_picture.h"

using namespace quintalis;
using namespace quintalis::testing;

namespace {

#if defined(__SANITIZE_ADDRESS__)
// Recognition is slow under the sanitizers: there the walk is cut to its
// stretch in Notes, which still reuses, shifts and re-reads bands.
constexpr bool kWholeWalk = false;
#else
constexpr bool kWholeWalk = true;
#endif

std::vector<PhoneScreen> corpus() {
    auto walk = phoneScreenWalk();
    if (kWholeWalk) return walk;
    auto first = std::find_if(walk.begin(), walk.end(), [](const PhoneScreen& s) { return s.step == "open Notes"; });
    return std::vector<PhoneScreen>(first, first + 5);
}

std::string allText(const JSON& lines) {
    std::string text;
    for (const auto& line : lines) text += line["text"].get<std::string>() + "\n";
    return text;
}

}  // namespace

TEST(TextBands, SplitOnlyBetweenLinesAndNeverOverlap) {
    std::vector<Placed> placed;
    // A list's rows are bands of their own; "=" alone and the dots of "i"
    // and "j" have blank rows inside their own line.
    auto image = picture(600, 500, {{"Settings", 40, 40}, {"General", 40, 80}, {"=", 40, 200}, {"i j", 300, 320}},
                         placed);
    auto bands = textBands(image);
    ASSERT_EQ(bands.size(), 4u);
    for (const auto& word : placed) {
        int inside = 0;
        for (const auto& band : bands) {
            inside += word.y >= band.y && word.y + word.h <= band.y + band.height && word.x >= band.x &&
                      word.x + word.w <= band.x + band.width;
        }
        EXPECT_EQ(inside, 1) << word.text << " lies wholly in one band";
    }
    for (size_t i = 1; i < bands.size(); ++i) EXPECT_LE(bands[i - 1].y + bands[i - 1].height, bands[i].y);
    EXPECT_TRUE(textBands(PixelBuffer(300, 200)).empty()) << "a blank picture has no text to read";
}

TEST(ScreenReader, ReadsWhatAFullReadReadsAcrossAWalkThroughThePhone) {
    TesseractRecognizer recognizer;
    ScreenReader reader(recognizer);
    auto screens = corpus();
    if (kWholeWalk) {
        ASSERT_GE(screens.size(), 20u);
    }
    size_t reused = 0;
    for (const auto& screen : screens) {
        JSON incremental = reader.read(*screen.picture);
        JSON full = recognize(recognizer, *screen.picture);
        EXPECT_EQ(incremental, full) << "after " << screen.step;
        reused += reader.lastWork().reused;
        if (screen.step == "type e") {
            EXPECT_EQ(reader.lastWork().read, 1u) << "only the line typed into is read again";
            EXPECT_NE(allText(incremental).find("He"), std::string::npos) << allText(incremental);
        }
    }
    EXPECT_GT(reused, screens.size()) << "most bands of most steps are reused";
}

TEST(ScreenReader, ReadsTextDrawnAcrossTheBandsItHadBefore) {
    TesseractRecognizer recognizer;
    ScreenReader reader(recognizer);
    std::vector<Placed> placed;
    auto before = picture(700, 400, {{"Settings", 40, 40}, {"Battery", 40, 200}}, placed);
    // A word drawn into the gap joins the two bands into one.
    auto after = picture(700, 400, {{"Settings", 40, 40}, {"Wallpaper", 360, 100}, {"Battery", 40, 200}}, placed);
    reader.read(before);
    JSON lines = reader.read(after);
    EXPECT_EQ(lines, recognize(recognizer, after));
    EXPECT_NE(allText(lines).find("Wallpaper"), std::string::npos) << allText(lines);
    // Moved down by whole pixels, every band is the same again: nothing is read, every box moves with it.
    PixelBuffer lower(700, 460);
    std::fill(lower.mutableData(), lower.mutableData() + lower.bytesPerRow() * lower.height(), 0xFF);
    for (int y = 0; y < after.height(); ++y) std::copy_n(after.row(y), 700 * 4, lower.mutableRow(y + 60));
    JSON moved = reader.read(lower);
    EXPECT_EQ(reader.lastWork().read, 0u);
    ASSERT_EQ(moved.size(), lines.size());
    for (size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(moved[i]["y"].get<double>(), lines[i]["y"].get<double>() + 60);
}
