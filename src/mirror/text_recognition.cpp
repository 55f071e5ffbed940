#include "mirror/text_recognition.h"

#include <algorithm>

#include "imaging/codecs.h"

namespace quintalis {

JSON recognize(TextRecognizer& recognizer, const PixelBuffer& picture) {
    auto lines = recognizer.recognize(picture);
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

std::optional<PixelBuffer> loadImage(const std::filesystem::path& path) { return decodeImageFile(path); }

}  // namespace quintalis
