#pragma once

#include <optional>
#include <vector>

#include "imaging/pixel_buffer.h"

namespace quintalis {

struct ImageSize {
    int width = 0;
    int height = 0;
    bool operator==(const ImageSize&) const = default;
};

// The size a picture is scaled to for the limits: never enlarged, and the
// tighter of maxWidth and maxEdge wins; each side rounded half away from
// zero, and at least one pixel. Limits must be positive.
ImageSize imageSize(double width, double height, std::optional<int> maxWidth, std::optional<int> maxEdge);

// The picture resized to exactly width × height (box filter when shrinking).
PixelBuffer scaled(const PixelBuffer& source, int width, int height);

// The part of the picture at (x, y) of width × height, which must lie inside
// it, resized to exactly outWidth × outHeight without copying the part first.
PixelBuffer scaledPart(const PixelBuffer& source, int x, int y, int width, int height, int outWidth, int outHeight);

// The whole picture stretched to exactly width × height as 8-bit luminance,
// one byte per pixel, row 0 at the top.
std::vector<uint8_t> greyThumbnail(const PixelBuffer& source, int width, int height);

// Multiplies each pixel's colour by its alpha, as drawing the picture onto
// a cleared canvas does: what is transparent becomes black.
void premultiplyAlpha(PixelBuffer& picture);

// The part of the picture inside the rectangle, clipped to the picture.
PixelBuffer cropped(const PixelBuffer& source, int x, int y, int width, int height);

// Whether two pictures have the same size, format and pixels (row padding
// aside).
bool samePixels(const PixelBuffer& a, const PixelBuffer& b);

}  // namespace quintalis
