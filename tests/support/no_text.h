#pragma once

#include "platform/text_recognizer.h"

namespace quintalis::testing {

// A recogniser for renders that do not ask for text.
class NoText final : public TextRecognizer {
public:
    std::vector<TextLine> recognize(const PixelBuffer&) override { return {}; }
};

}  // namespace quintalis::testing
