#pragma once

#include <cstdint>
#include <string>

#include "base/json.h"
#include "commands/frame_source.h"
#include "platform/text_recognizer.h"

namespace quintalis {

// Writes the source's current picture to `path`, its long edge shrunk to
// `maxDim` pixels when longer (never enlarged): PNG when the path ends in
// ".png" in any letter case, JPEG (quality 80) otherwise. Answers
// {"ok": true, "w", "h" (written), "fw", "fh" (captured), "age_ms"}, with
// "ocr" (the text lines of the full-size picture) when asked for, or
// {"ok": false, "error"}.
JSON snap(FrameSource& source, const std::string& path, int64_t maxDim, bool withOCR, TextRecognizer& recognizer);

}  // namespace quintalis
