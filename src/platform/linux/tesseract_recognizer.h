#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "platform/text_recognizer.h"

namespace tesseract {
class TessBaseAPI;
}

namespace quintalis {

// Text recognition with Tesseract's LSTM engine. Starting an engine takes
// far longer than reading a screen, so engines are kept warm in a pool and
// lent to one call at a time; concurrent calls each get their own.
class TesseractRecognizer final : public TextRecognizer {
public:
    // `pageSegmentation` is a tesseract::PageSegMode value.
    explicit TesseractRecognizer(int pageSegmentation = kDefaultPageSegmentation);
    ~TesseractRecognizer() override;

    // Sparse text: phone screens are scattered labels, rows and a status
    // bar rather than paragraphs (measured in bench/ocr_bench).
    static constexpr int kDefaultPageSegmentation = 11;

    std::vector<TextLine> recognize(const PixelBuffer& picture) override;

private:
    std::unique_ptr<tesseract::TessBaseAPI> borrow();
    void giveBack(std::unique_ptr<tesseract::TessBaseAPI> engine);

    int pageSegmentation_;
    std::mutex mutex_;
    std::vector<std::unique_ptr<tesseract::TessBaseAPI>> idle_;
};

}  // namespace quintalis
