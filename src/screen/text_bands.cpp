#include "screen/text_bands.h"

#include <algorithm>
#include <cstdlib>

namespace quintalis {
namespace {

// Neighbours that differ by more than this in a channel are an edge: the
// faintest anti-aliased rim of a letter still is, a gradient is not.
constexpr int kEdge = 24;
// Runs of ink closer than this are one band: the dot over an i, the two
// strokes of "=", the gap between the lines of a paragraph.
constexpr int kJoinGap = 6;
// Shorter runs hold no readable letter (a separator line, a shadow).
constexpr int kShortest = 5;
// The border of flat pixels a band keeps around its ink.
constexpr int kMargin = 8;

bool edgeBetween(const uint8_t* a, const uint8_t* b) {
    return std::abs(a[0] - b[0]) > kEdge || std::abs(a[1] - b[1]) > kEdge || std::abs(a[2] - b[2]) > kEdge;
}

bool flatRow(const PixelBuffer& picture, int y) {
    const uint8_t* row = picture.row(y);
    for (int x = 1; x < picture.width(); ++x) {
        if (edgeBetween(row + (x - 1) * 4, row + x * 4)) return false;
    }
    return true;
}

// The columns [left, right) of rows [top, bottom) that hold an edge.
std::pair<int, int> inkColumns(const PixelBuffer& picture, int top, int bottom) {
    int left = picture.width(), right = 0;
    for (int y = top; y < bottom; ++y) {
        const uint8_t* row = picture.row(y);
        for (int x = 1; x < picture.width(); ++x) {
            if (edgeBetween(row + (x - 1) * 4, row + x * 4)) {
                left = std::min(left, x - 1);
                right = std::max(right, x + 1);
            }
        }
    }
    return {left, right};
}

}  // namespace

std::vector<TextBand> textBands(const PixelBuffer& picture) {
    struct Run {
        int top, bottom;
    };
    std::vector<Run> runs;
    for (int y = 0; y < picture.height(); ++y) {
        if (flatRow(picture, y)) continue;
        if (!runs.empty() && y - runs.back().bottom < kJoinGap) {
            runs.back().bottom = y + 1;
        } else {
            runs.push_back({y, y + 1});
        }
    }
    std::vector<TextBand> bands;
    for (size_t i = 0; i < runs.size(); ++i) {
        const Run& run = runs[i];
        if (run.bottom - run.top < kShortest) continue;
        // Half of each gap at most, so neighbours never share a row.
        int above = i == 0 ? run.top : (run.top - runs[i - 1].bottom) / 2;
        int below = i + 1 == runs.size() ? picture.height() - run.bottom : (runs[i + 1].top - run.bottom) / 2;
        int top = run.top - std::min(kMargin, above);
        int bottom = run.bottom + std::min(kMargin, below);
        auto [left, right] = inkColumns(picture, run.top, run.bottom);
        left = std::max(0, left - kMargin);
        right = std::min(picture.width(), right + kMargin);
        bands.push_back({left, top, right - left, bottom - top});
    }
    return bands;
}

}  // namespace quintalis
