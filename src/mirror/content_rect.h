#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "base/json.h"
#include "imaging/pixel_buffer.h"

namespace quintalis {

// A borrowed view of 32-bit pixels: the first three bytes of each pixel are
// colour channels in either order, the fourth is never read.
struct Pixels {
    int width = 0;
    int height = 0;
    int bytesPerRow = 0;
    const uint8_t* base = nullptr;

    const uint8_t* at(int x, int y) const {
        return base + static_cast<size_t>(y) * bytesPerRow + static_cast<size_t>(x) * 4;
    }
    // The brightest channel.
    int brightness(int x, int y) const {
        const uint8_t* pixel = at(x, y);
        return std::max({pixel[0], pixel[1], pixel[2]});
    }
    int luma(int x, int y) const {
        const uint8_t* pixel = at(x, y);
        return (pixel[0] + 2 * pixel[1] + pixel[2]) / 4;
    }
};

Pixels pixelsOf(const PixelBuffer& buffer);

// A pixel is dark at this brightness or below.
inline constexpr int kBlack = 28;
// Short side over long side of iPhone screens, tried in this order.
inline constexpr std::array<double, 3> kPhoneAspects{
    1206.0 / 2622,  // iPhone 16 Pro
    1179.0 / 2556,  // iPhone 15 Pro
    750.0 / 1334,   // iPhone SE
};

struct Rect2D {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
    bool operator==(const Rect2D&) const = default;
};

// Where the phone's screen sits in a captured frame, and how it was found:
// "edges", "fit", "bbox" or "blank".
struct ContentRect {
    Rect2D rect;
    std::string orientation;  // "portrait" or "landscape"
    std::string method;

    JSON json() const;
};

// "W/H" or one number, as short side over long side. Nothing for anything
// else, and for a ratio that is not positive.
std::optional<double> parseAspect(const std::optional<std::string>& text);

// The bounding box of non-black pixels inside the rectangle.
std::optional<Rect2D> nonBlackBox(const Pixels& pixels, const Rect2D& in);

// The height of a flat, non-black band at the top (a title bar); 0 if none.
int chromeTop(const Pixels& pixels);

// The largest rectangle of the shape centred in the region.
Rect2D fit(double aspect, bool landscape, const Rect2D& in);

// The phone's screen in the frame. `aspectHint` is tried before the known
// iPhone shapes; `prefer` ("portrait" or "landscape") breaks near-ties.
ContentRect detectContent(const Pixels& pixels, std::optional<double> aspectHint, const std::optional<std::string>& prefer);

}  // namespace quintalis
