#pragma once

#include <optional>
#include <utility>

#include "imaging/pixel_buffer.h"

namespace quintalis::testing {

// Where something of one colour (0xRRGGBB) sits in an RGBA picture: the
// centre of its pixels, when there are enough of them to be an icon.
inline std::optional<std::pair<int, int>> findColour(const PixelBuffer& picture, uint32_t rgb) {
    long long sumX = 0, sumY = 0, count = 0;
    for (int y = 0; y < picture.height(); ++y) {
        const uint8_t* row = picture.row(y);
        for (int x = 0; x < picture.width(); ++x) {
            int dr = row[x * 4] - static_cast<int>((rgb >> 16) & 0xFF);
            int dg = row[x * 4 + 1] - static_cast<int>((rgb >> 8) & 0xFF);
            int db = row[x * 4 + 2] - static_cast<int>(rgb & 0xFF);
            if (dr * dr + dg * dg + db * db < 12 * 12) {
                sumX += x;
                sumY += y;
                ++count;
            }
        }
    }
    if (count < 50) return std::nullopt;
    return std::pair<int, int>(static_cast<int>(sumX / count), static_cast<int>(sumY / count));
}

}  // namespace quintalis::testing
