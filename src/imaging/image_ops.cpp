#include "imaging/image_ops.h"

#include <libyuv/convert_from_argb.h>
#include <libyuv/scale_argb.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace quintalis {

ImageSize imageSize(double width, double height, std::optional<int> maxWidth, std::optional<int> maxEdge) {
    double scale = 1;
    if (maxWidth) scale = std::min(*maxWidth / width, 1.0);
    if (maxEdge) {
        double edge = *maxEdge / std::max(width, height);
        if (edge < scale) scale = edge;
    }
    // A thin picture scaled hard would round a side to nothing; keep one pixel.
    auto side = [scale](double length) {
        return length > 0 ? std::max(1, static_cast<int>(std::round(length * scale))) : 0;
    };
    return {side(width), side(height)};
}

PixelBuffer scaled(const PixelBuffer& source, int width, int height) {
    PixelBuffer out(width, height, source.format());
    if (width == source.width() && height == source.height()) {
        for (int y = 0; y < height; ++y) std::memcpy(out.mutableRow(y), source.row(y), static_cast<size_t>(width) * 4);
        return out;
    }
    // libyuv's "ARGB" is the byte order B, G, R, A; scaling treats the four
    // channels alike, so RGBA pictures scale just as well.
    libyuv::ARGBScale(source.data(), source.bytesPerRow(), source.width(), source.height(), out.mutableData(),
                      out.bytesPerRow(), width, height, libyuv::kFilterBox);
    return out;
}

PixelBuffer scaledPart(const PixelBuffer& source, int x, int y, int width, int height, int outWidth, int outHeight) {
    PixelBuffer out(outWidth, outHeight, source.format());
    libyuv::ARGBScale(source.row(y) + static_cast<size_t>(x) * 4, source.bytesPerRow(), width, height, out.mutableData(),
                      out.bytesPerRow(), outWidth, outHeight, libyuv::kFilterBox);
    return out;
}

std::vector<uint8_t> greyThumbnail(const PixelBuffer& source, int width, int height) {
    PixelBuffer small = scaled(source, width, height);
    if (small.format() == PixelFormat::rgba) {
        // Swap red and blue so the luminance weights land on the right channels.
        for (int y = 0; y < height; ++y) {
            uint8_t* row = small.mutableRow(y);
            for (int x = 0; x < width; ++x) std::swap(row[x * 4], row[x * 4 + 2]);
        }
    }
    std::vector<uint8_t> grey(static_cast<size_t>(width) * height);
    libyuv::ARGBToJ400(small.data(), small.bytesPerRow(), grey.data(), width, width, height);
    return grey;
}

void premultiplyAlpha(PixelBuffer& picture) {
    for (int y = 0; y < picture.height(); ++y) {
        uint8_t* row = picture.mutableRow(y);
        for (int x = 0; x < picture.width(); ++x) {
            uint8_t* pixel = row + x * 4;
            const unsigned alpha = pixel[3];
            if (alpha == 255) continue;
            for (int c = 0; c < 3; ++c) pixel[c] = static_cast<uint8_t>((pixel[c] * alpha + 127) / 255);
        }
    }
}

PixelBuffer cropped(const PixelBuffer& source, int x, int y, int width, int height) {
    int left = std::clamp(x, 0, source.width());
    int top = std::clamp(y, 0, source.height());
    int right = std::clamp(x + std::max(width, 0), left, source.width());
    int bottom = std::clamp(y + std::max(height, 0), top, source.height());
    PixelBuffer out(right - left, bottom - top, source.format());
    for (int row = 0; row < out.height(); ++row) {
        std::memcpy(out.mutableRow(row), source.row(top + row) + static_cast<size_t>(left) * 4,
                    static_cast<size_t>(out.width()) * 4);
    }
    return out;
}

bool samePixels(const PixelBuffer& a, const PixelBuffer& b) {
    if (a.width() != b.width() || a.height() != b.height() || a.format() != b.format()) return false;
    const size_t rowBytes = static_cast<size_t>(a.width()) * 4;
    for (int row = 0; row < a.height(); ++row) {
        if (std::memcmp(a.row(row), b.row(row), rowBytes) != 0) return false;
    }
    return true;
}

}  // namespace quintalis
