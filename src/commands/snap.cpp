#include "commands/snap.h"

#include <algorithm>
#include <fstream>

#include "base/text.h"
#include "imaging/codecs.h"
#include "imaging/image_ops.h"
#include "screen/text_recognition.h"

namespace quintalis {
namespace {

JSON failure(const std::string& message) { return JSON{{"ok", false}, {"error", message}}; }

// side × maxDim / longest, rounded up, so that no pixel of the picture is
// lost to the edge and the long side comes out at exactly maxDim.
int64_t scaledSide(int64_t side, int64_t maxDim, int64_t longest) { return (side * maxDim + longest - 1) / longest; }

bool writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    file.close();
    return !file.fail();
}

}  // namespace

JSON snap(FrameSource& source, const std::string& path, int64_t maxDim, bool withOCR, TextRecognizer& recognizer) {
    auto frame = source.latest();
    if (!frame) return failure("no frame yet from " + source.name() + " (is the iPhone unlocked?)");
    const PixelBuffer& full = *frame->picture;
    const int64_t longest = std::max(full.width(), full.height());
    std::optional<PixelBuffer> shrunk;
    if (maxDim < longest) {
        if (maxDim < 1) return failure("cannot scale frame");
        shrunk = scaled(full, static_cast<int>(scaledSide(full.width(), maxDim, longest)),
                        static_cast<int>(scaledSide(full.height(), maxDim, longest)));
    }
    const PixelBuffer& written = shrunk ? *shrunk : full;

    const std::string lowered = asciiLowercase(path);
    const bool png = lowered.size() >= 4 && lowered.compare(lowered.size() - 4, 4, ".png") == 0;
    auto bytes = png ? encodePNG(written) : encodeJPEG(written, 80);
    if (!bytes || !writeFile(path, *bytes)) return failure("cannot write " + path);

    JSON result{{"ok", true},          {"w", written.width()}, {"h", written.height()},
                {"fw", full.width()},  {"fh", full.height()},  {"age_ms", static_cast<int64_t>(frame->ageMs)}};
    if (withOCR) result["ocr"] = recognize(recognizer, full);
    return result;
}

}  // namespace quintalis
