#pragma once

#include "base/json.h"
#include "imaging/pixel_buffer.h"
#include "platform/text_recognizer.h"

namespace quintalis {

// Pictures wider than this are halved before recognition: phone screens at
// 2× or 3× draw text far taller than recognisers read best, and half the
// size is a quarter of the work. Boxes are scaled back to the picture.
inline constexpr int kHalveWiderThan = 1000;

// The text lines of a picture in reading order (by "y", then "x"), each
// {"text", "conf" (0 to 1), "x", "y", "w", "h"} in the picture's pixels,
// top-left origin, the numbers whole-valued.
JSON recognize(TextRecognizer& recognizer, const PixelBuffer& picture);

}  // namespace quintalis
