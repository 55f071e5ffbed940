#pragma once

#include <string>

#include "base/json.h"
#include "mirror/window_capture.h"
#include "platform/text_recognizer.h"

namespace quintalis {

struct RenderOptions {
    int maxDim = 1200;     // the longer side's limit; frames are never enlarged
    bool png = false;      // else JPEG at quality 80
    bool crop = true;      // to the phone's rectangle
    bool withOCR = false;  // add "ocr": the text lines of the crop at full resolution
};

struct RenderedFrame {
    // {"ok": true, "w", "h", "fw", "fh", "content", "window", "age_ms",
    // "still_ms", "frames", "mime"[, "ocr"]}, or {"ok": false, "error"}.
    JSON result;
    std::string data;  // the encoded image when "ok" is true
};

// The capture's newest frame, cropped, scaled down and encoded (the same
// picture asked for again comes from the capture's encodings). Errors come
// back in the result, never thrown. Safe to call from several threads on
// one capture at once.
RenderedFrame renderFrame(WindowCapture& capture, const RenderOptions& options, TextRecognizer& recognizer);

}  // namespace quintalis
