#include "mirror/frame_change.h"

#include <algorithm>
#include <cstdlib>

namespace quintalis {

std::vector<uint8_t> changeThumbnail(const Pixels& frame) {
    std::vector<uint8_t> thumb(static_cast<size_t>(kThumbColumns) * kThumbRows);
    if (frame.width <= 0 || frame.height <= 0) return thumb;
    int xs[kThumbColumns];
    for (int j = 0; j < kThumbColumns; ++j) xs[j] = std::min(j * frame.width / kThumbColumns + frame.width / 192, frame.width - 1);
    uint8_t* out = thumb.data();
    for (int i = 0; i < kThumbRows; ++i) {
        const int y = std::min(i * frame.height / kThumbRows + frame.height / 384, frame.height - 1);
        for (int j = 0; j < kThumbColumns; ++j) *out++ = static_cast<uint8_t>(frame.luma(xs[j], y));
    }
    return thumb;
}

bool visiblyChanged(const std::vector<uint8_t>& previous, const std::vector<uint8_t>& current) {
    if (previous.size() != current.size()) return true;
    int differing = 0;
    for (size_t i = 0; i < current.size(); ++i) {
        if (std::abs(previous[i] - current[i]) > 18 && ++differing >= 2) return true;
    }
    return false;
}

}  // namespace quintalis
