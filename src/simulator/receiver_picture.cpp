#include "simulator/receiver_picture.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "imaging/image_ops.h"

namespace quintalis::simulator {
namespace {

constexpr uint8_t kBand[4] = {0x2E, 0x2C, 0x2C, 0xFF};  // BGRA, a dark grey well above black

}  // namespace

PixelBuffer receiverPicture(const PixelBuffer* phone, int width, int height) {
    PixelBuffer out(width, height);
    const int band = std::min(kReceiverTitleBand, height);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = out.mutableRow(y);
        if (y < band) {
            for (int x = 0; x < width; ++x) std::memcpy(row + x * 4, kBand, 4);
        } else {
            for (int x = 0; x < width; ++x) row[x * 4 + 3] = 0xFF;  // opaque black
        }
    }
    const int areaHeight = height - band;
    if (!phone || areaHeight <= 0 || width <= 0 || phone->width() <= 0 || phone->height() <= 0) return out;
    const double scale = std::min(static_cast<double>(width) / phone->width(),
                                  static_cast<double>(areaHeight) / phone->height());
    const int w = std::clamp(static_cast<int>(std::lround(phone->width() * scale)), 1, width);
    const int h = std::clamp(static_cast<int>(std::lround(phone->height() * scale)), 1, areaHeight);
    const PixelBuffer shown = scaled(*phone, w, h);
    const int left = (width - w) / 2, top = band + (areaHeight - h) / 2;
    for (int y = 0; y < h; ++y) {
        std::memcpy(out.mutableRow(top + y) + static_cast<size_t>(left) * 4, shown.row(y), static_cast<size_t>(w) * 4);
    }
    return out;
}

}  // namespace quintalis::simulator
