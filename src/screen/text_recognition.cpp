#include "screen/text_recognition.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <exception>
#include <string_view>
#include <thread>

#include "base/concurrent_queue.h"
#include "base/semaphore.h"
#include "imaging/image_ops.h"

namespace quintalis {
namespace {

// The picture as the recogniser gets it, and the factor back to the original.
struct Prepared {
    PixelBuffer picture;
    double factor = 1;
};

Prepared prepared(const PixelBuffer& picture) {
    if (picture.width() <= kHalveWiderThan) return {picture, 1};
    const double factor = 2;
    return {scaled(picture, static_cast<int>(std::lround(picture.width() / factor)),
                   static_cast<int>(std::lround(picture.height() / factor))),
            factor};
}

std::string_view bandRow(const PixelBuffer& picture, const TextBand& band, int row) {
    return {reinterpret_cast<const char*>(picture.row(band.y + row) + static_cast<size_t>(band.x) * 4),
            static_cast<size_t>(band.width) * 4};
}

size_t bandHash(const PixelBuffer& picture, const TextBand& band) {
    size_t hash = std::hash<int>()(band.width) ^ (std::hash<int>()(band.height) << 1);
    for (int row = 0; row < band.height; ++row) {
        hash = hash * 1099511628211u ^ std::hash<std::string_view>()(bandRow(picture, band, row));
    }
    return hash;
}

bool sameBand(const PixelBuffer& a, const TextBand& inA, const PixelBuffer& b, const TextBand& inB) {
    if (inA.width != inB.width || inA.height != inB.height) return false;
    for (int row = 0; row < inA.height; ++row) {
        if (bandRow(a, inA, row) != bandRow(b, inB, row)) return false;
    }
    return true;
}

int scaledBack(int value, double factor) { return static_cast<int>(std::lround(value * factor)); }

// A screen's bands are independent: reading them on several cores at once
// cuts a full read's time nearly by their number. Each thread holds an
// engine of its own, so their number stays small, and the threads are kept
// between reads, shared by every reader, so a read starts no thread and
// the engines they hold are made once.
constexpr Duration kReaderIdle = std::chrono::seconds(30);

size_t readerThreads() { return std::clamp<size_t>(std::thread::hardware_concurrency(), 1, 4); }

ConcurrentQueue& helpers() {
    // Never destroyed: a read may still be under way while the process ends.
    static ConcurrentQueue& queue =
        *new ConcurrentQueue("quintalis.text-bands", std::max(1, static_cast<int>(readerThreads()) - 1), kReaderIdle);
    return queue;
}

// Fills in the lines of each band, the calling thread reading along. Helpers
// that start after the bands are all taken find nothing to do; the call
// still waits for each, since they use its locals.
void readAll(TextRecognizer& recognizer, const PixelBuffer& picture, const std::vector<ScreenReader::Band*>& bands) {
    std::atomic<size_t> next{0};
    std::exception_ptr failure;
    std::mutex failureMutex;
    auto work = [&] {
        try {
            for (size_t i = next++; i < bands.size(); i = next++) {
                const TextBand& band = bands[i]->band;
                bands[i]->lines = recognizer.recognize(cropped(picture, band.x, band.y, band.width, band.height));
            }
        } catch (...) {
            std::lock_guard lock(failureMutex);
            failure = std::current_exception();
        }
    };
    Semaphore helped;
    const size_t helping = bands.empty() ? 0 : std::min(bands.size(), readerThreads()) - 1;
    for (size_t i = 0; i < helping; ++i) {
        helpers().async([&work, &helped] {
            work();
            helped.signal();
        });
    }
    work();
    for (size_t i = 0; i < helping; ++i) helped.wait();
    if (failure) std::rethrow_exception(failure);
}

}  // namespace

ScreenReader::ScreenReader(TextRecognizer& recognizer) : recognizer_(recognizer) {}

JSON ScreenReader::read(const PixelBuffer& picture) {
    if (picture.width() <= 0 || picture.height() <= 0) return JSON::array();
    std::lock_guard lock(mutex_);
    Prepared input = prepared(picture);
    PixelBuffer& now = input.picture;
    const double factor = input.factor;
    std::vector<Band> bands;
    for (const TextBand& band : textBands(now)) bands.push_back({band, bandHash(now, band), {}});
    std::vector<Band*> unread;
    for (Band& current : bands) {
        auto before = std::find_if(bands_.begin(), bands_.end(), [&](const Band& old) {
            return old.hash == current.hash && sameBand(last_, old.band, now, current.band);
        });
        if (before != bands_.end()) {
            current.lines = before->lines;
        } else {
            unread.push_back(&current);
        }
    }
    readAll(recognizer_, now, unread);
    work_ = {unread.size(), bands.size() - unread.size()};

    std::vector<TextLine> lines;
    for (const auto& read : bands) {
        for (TextLine line : read.lines) {
            if (line.text.empty()) continue;
            line.x = scaledBack(read.band.x + line.x, factor);
            line.y = scaledBack(read.band.y + line.y, factor);
            line.width = scaledBack(line.width, factor);
            line.height = scaledBack(line.height, factor);
            lines.push_back(std::move(line));
        }
    }
    last_ = std::move(now);
    bands_ = std::move(bands);

    std::stable_sort(lines.begin(), lines.end(), [](const TextLine& a, const TextLine& b) {
        return a.y != b.y ? a.y < b.y : a.x < b.x;
    });
    JSON found = JSON::array();
    for (const auto& line : lines) {
        found.push_back(JSON{{"text", line.text},
                             {"conf", line.confidence},
                             {"x", static_cast<double>(line.x)},
                             {"y", static_cast<double>(line.y)},
                             {"w", static_cast<double>(line.width)},
                             {"h", static_cast<double>(line.height)}});
    }
    return found;
}

ScreenReader::Work ScreenReader::lastWork() const {
    std::lock_guard lock(mutex_);
    return work_;
}

JSON recognize(TextRecognizer& recognizer, const PixelBuffer& picture) { return ScreenReader(recognizer).read(picture); }

}  // namespace quintalis
