#pragma once

#include <filesystem>
#include <optional>

#include "base/json.h"
#include "imaging/pixel_buffer.h"
#include "platform/text_recognizer.h"

namespace quintalis {

// The text lines of a picture in reading order (by "y", then "x"), each
// {"text", "conf" (0 to 1), "x", "y", "w", "h"} in the picture's pixels,
// top-left origin, the numbers whole-valued.
JSON recognize(TextRecognizer& recognizer, const PixelBuffer& picture);

// The first image of a PNG or JPEG file; nothing when it cannot be read or decoded.
std::optional<PixelBuffer> loadImage(const std::filesystem::path& path);

}  // namespace quintalis
