#include "platform/linux/tesseract_recognizer.h"

#include <omp.h>
#include <tesseract/baseapi.h>

#include <cmath>

#include "imaging/image_ops.h"

namespace quintalis {
namespace {

// Phone screens at 2× or 3× draw text far taller than the engine reads best;
// pictures wider than this are halved first, which also quarters the work.
constexpr int kHalveAbove = 1000;

}  // namespace

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
    double factor = picture.width() > kHalveAbove ? 2 : 1;
    std::optional<PixelBuffer> smaller;
    if (factor > 1) {
        smaller = scaled(picture, static_cast<int>(std::lround(picture.width() / factor)),
                         static_cast<int>(std::lround(picture.height() / factor)));
    }
    const PixelBuffer& input = smaller ? *smaller : picture;
    // Tesseract reads the first three bytes as R, G, B; for text the order of the colours does not matter.
    engine->SetImage(input.data(), input.width(), input.height(), 4, input.bytesPerRow());
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
                lines.push_back(TextLine{line, it->Confidence(tesseract::RIL_TEXTLINE) / 100.0,
                                         static_cast<int>(std::lround(left * factor)),
                                         static_cast<int>(std::lround(top * factor)),
                                         static_cast<int>(std::lround((right - left) * factor)),
                                         static_cast<int>(std::lround((bottom - top) * factor))});
            } while (it->Next(tesseract::RIL_TEXTLINE));
        }
    }
    giveBack(std::move(engine));
    return lines;
}

}  // namespace quintalis
