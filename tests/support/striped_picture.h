#pragma once

#include <algorithm>

#include "imaging/pixel_buffer.h"

namespace quintalis::testing {

// Black and white stripes `stripe` pixels wide from edge to edge: to text
// recognition, a picture with text everywhere, read as one piece.
inline PixelBuffer stripedPicture(int width, int height, int stripe = 4) {
    PixelBuffer picture(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            std::fill_n(picture.mutableRow(y) + x * 4, 4, static_cast<uint8_t>(x / stripe % 2 * 255));
        }
    }
    return picture;
}

}  // namespace quintalis::testing
