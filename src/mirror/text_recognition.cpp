#include "mirror/text_recognition.h"

#include <algorithm>
#include <cmath>

#include "imaging/image_ops.h"

namespace quintalis {
namespace {

int scaledBack(int value, double factor) { return static_cast<int>(std::lround(value * factor)); }

std::vector<TextLine> readLines(TextRecognizer& recognizer, const PixelBuffer& picture) {
    if (picture.width() <= kHalveWiderThan) return recognizer.recognize(picture);
    const double factor = 2;
    auto lines = recognizer.recognize(scaled(picture, static_cast<int>(std::lround(picture.width() / factor)),
                                             static_cast<int>(std::lround(picture.height() / factor))));
    for (auto& line : lines) {
        line.x = scaledBack(line.x, factor);
        line.y = scaledBack(line.y, factor);
        line.width = scaledBack(line.width, factor);
        line.height = scaledBack(line.height, factor);
    }
    return lines;
}

}  // namespace

JSON recognize(TextRecognizer& recognizer, const PixelBuffer& picture) {
    if (picture.width() <= 0 || picture.height() <= 0) return JSON::array();
    auto lines = readLines(recognizer, picture);
    std::stable_sort(lines.begin(), lines.end(), [](const TextLine& a, const TextLine& b) {
        return a.y != b.y ? a.y < b.y : a.x < b.x;
    });
    JSON found = JSON::array();
    for (const auto& line : lines) {
        if (line.text.empty()) continue;
        found.push_back(JSON{{"text", line.text},
                             {"conf", line.confidence},
                             {"x", static_cast<double>(line.x)},
                             {"y", static_cast<double>(line.y)},
                             {"w", static_cast<double>(line.width)},
                             {"h", static_cast<double>(line.height)}});
    }
    return found;
}

}  // namespace quintalis
