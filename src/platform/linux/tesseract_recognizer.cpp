#include "platform/linux/tesseract_recognizer.h"

#include <omp.h>
#include <tesseract/baseapi.h>

namespace quintalis {

TesseractRecognizer::TesseractRecognizer(int pageSegmentation) : pageSegmentation_(pageSegmentation) {
    // Tesseract's OpenMP teams spin on the few cores there are and make one
    // recognition several times slower; concurrent calls already run side by
    // side on their own engines. No parallel region may be active.
    omp_set_max_active_levels(0);
}

TesseractRecognizer::~TesseractRecognizer() {
    for (auto& engine : idle_) engine->End();
}

std::unique_ptr<tesseract::TessBaseAPI> TesseractRecognizer::borrow() {
    {
        std::lock_guard lock(mutex_);
        if (!idle_.empty()) {
            auto engine = std::move(idle_.back());
            idle_.pop_back();
            return engine;
        }
    }
    auto engine = std::make_unique<tesseract::TessBaseAPI>();
    if (engine->Init(nullptr, "eng", tesseract::OEM_LSTM_ONLY) != 0) return nullptr;
    engine->SetPageSegMode(static_cast<tesseract::PageSegMode>(pageSegmentation_));
    return engine;
}

void TesseractRecognizer::giveBack(std::unique_ptr<tesseract::TessBaseAPI> engine) {
    engine->Clear();
    std::lock_guard lock(mutex_);
    idle_.push_back(std::move(engine));
}

std::vector<TextLine> TesseractRecognizer::recognize(const PixelBuffer& picture) {
    if (picture.width() <= 0 || picture.height() <= 0) return {};
    auto engine = borrow();
    if (!engine) return {};
    // Tesseract reads the first three bytes as R, G, B; for text the order of the colours does not matter.
    engine->SetImage(picture.data(), picture.width(), picture.height(), 4, picture.bytesPerRow());
    // Screens carry no resolution; saying so spares a guess and its warning on standard error.
    engine->SetSourceResolution(144);
    std::vector<TextLine> lines;
    if (engine->Recognize(nullptr) == 0) {
        std::unique_ptr<tesseract::ResultIterator> it(engine->GetIterator());
        if (it) {
            do {
                std::unique_ptr<char[]> text(it->GetUTF8Text(tesseract::RIL_TEXTLINE));
                if (!text) continue;
                std::string line(text.get());
                while (!line.empty() && (line.back() == '\n' || line.back() == ' ')) line.pop_back();
                if (line.empty()) continue;
                int left = 0, top = 0, right = 0, bottom = 0;
                it->BoundingBox(tesseract::RIL_TEXTLINE, &left, &top, &right, &bottom);
                lines.push_back(TextLine{line, it->Confidence(tesseract::RIL_TEXTLINE) / 100.0, left, top,
                                         right - left, bottom - top});
            } while (it->Next(tesseract::RIL_TEXTLINE));
        }
    }
    giveBack(std::move(engine));
    return lines;
}

}  // namespace quintalis
