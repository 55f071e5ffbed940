#pragma once

#include <string>
#include <vector>

#include "imaging/pixel_buffer.h"

namespace quintalis {

// One line of text found in a picture; the box in the picture's pixels,
// top-left origin.
struct TextLine {
    std::string text;
    double confidence = 0;  // 0 to 1
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// Reads the text in a picture. Safe to call from several threads at once.
class TextRecognizer {
public:
    virtual ~TextRecognizer() = default;
    // Lines in the recogniser's own order; empty when recognition fails.
    virtual std::vector<TextLine> recognize(const PixelBuffer& picture) = 0;
};

}  // namespace quintalis
