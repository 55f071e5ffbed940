#pragma once

#include <cstddef>
#include <mutex>
#include <vector>

#include "base/json.h"
#include "imaging/pixel_buffer.h"
#include "screen/text_bands.h"
#include "platform/text_recognizer.h"

namespace quintalis {

// Pictures wider than this are halved before recognition: phone screens at
// 2× or 3× draw text far taller than recognisers read best, and half the
// size is a quarter of the work. Boxes are scaled back to the picture.
inline constexpr int kHalveWiderThan = 1000;

// The text lines of a picture in reading order (by "y", then "x"), each
// {"text", "conf" (0 to 1), "x", "y", "w", "h"} in the picture's pixels,
// top-left origin, the numbers whole-valued. Each of the picture's text
// bands (see textBands) is read on its own.
JSON recognize(TextRecognizer& recognizer, const PixelBuffer& picture);

// Reads the successive pictures of one screen. The bands of a picture that
// already were in the last one (at any height: scrolling moves them) keep
// the text read from them; only the others are read. The answer always
// equals recognize() of the picture.
//
// Thread rule: any thread; reads run one at a time under a mutex. A read
// that has several bands to read spreads them over a few worker threads
// that all readers share ("quintalis.text-bands") and returns when all are
// done.
class ScreenReader {
public:
    explicit ScreenReader(TextRecognizer& recognizer);

    JSON read(const PixelBuffer& picture);

    // Of the last read's bands, how many were read and how many reused.
    struct Work {
        size_t read = 0;
        size_t reused = 0;
    };
    Work lastWork() const;

    // A band of a picture, with its lines in the band's own pixels.
    struct Band {
        TextBand band;
        size_t hash = 0;
        std::vector<TextLine> lines;
    };

private:

    TextRecognizer& recognizer_;
    mutable std::mutex mutex_;
    PixelBuffer last_{0, 0};  // the last picture as read (halved when wide)
    std::vector<Band> bands_;  // the last picture's
    Work work_;
};

}  // namespace quintalis
