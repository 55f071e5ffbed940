#pragma once

#include <cstdlib>

#include "imaging/pixel_buffer.h"

namespace quintalis::testing {

// The mean difference per colour channel of two pictures of one size, each
// read in its own channel order.
inline double meanDifference(const PixelBuffer& a, const PixelBuffer& b) {
    auto channel = [](const PixelBuffer& p, int rgbIndex) {
        return p.format() == PixelFormat::rgba ? rgbIndex : 2 - rgbIndex;
    };
    long long sum = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            for (int c = 0; c < 3; ++c) sum += std::abs(a.row(y)[x * 4 + channel(a, c)] - b.row(y)[x * 4 + channel(b, c)]);
        }
    }
    return static_cast<double>(sum) / (3.0 * a.width() * a.height());
}

}  // namespace quintalis::testing
