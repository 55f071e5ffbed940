#include "commands/snap.h"

#include <algorithm>
#include <climits>
#include <fstream>

#include "base/text.h"
#include "imaging/codecs.h"
#include "imaging/image_ops.h"
#include "screen/text_recognition.h"

namespace quintalis {
namespace {

JSON failure(const std::string& message) { return JSON{{"ok", false}, {"error", message}}; }

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
    if (maxDim < 1) return failure("cannot scale frame");
    // Sized as the engine's screenshot and the AirPlay frame of the same
    // limit are, so pixel places read off the file tap the same spot.
    const ImageSize size = imageSize(full.width(), full.height(), std::nullopt,
                                     static_cast<int>(std::min<int64_t>(maxDim, INT_MAX)));
    std::optional<PixelBuffer> shrunk;
    if (size != ImageSize{full.width(), full.height()}) shrunk = scaled(full, size.width, size.height);
    const PixelBuffer& written = shrunk ? *shrunk : full;

    const std::string lowered = asciiLowercase(path);
    const bool png = lowered.size() >= 4 && lowered.compare(lowered.size() - 4, 4, ".png") == 0;
    auto bytes = encodePicture(written, png);
    if (!bytes || !writeFile(path, *bytes)) return failure("cannot write " + path);

    JSON result{{"ok", true},          {"w", written.width()}, {"h", written.height()},
                {"fw", full.width()},  {"fh", full.height()},  {"age_ms", static_cast<int64_t>(frame->ageMs)}};
    if (withOCR) result["ocr"] = recognize(recognizer, full);
    return result;
}

}  // namespace quintalis
