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
    int w = 0;
    int h = 0;
    int rowBytes = 0;
    const uint8_t* base = nullptr;

    const uint8_t* at(int x, int y) const { return base + static_cast<size_t>(y) * rowBytes + static_cast<size_t>(x) * 4; }
    // The brightest channel.
    int v(int x, int y) const {
        const uint8_t* p = at(x, y);
        return std::max({p[0], p[1], p[2]});
    }
    int luma(int x, int y) const {
        const uint8_t* p = at(x, y);
        return (p[0] + 2 * p[1] + p[2]) / 4;
    }
};

Pixels pixelsOf(const PixelBuffer& buffer);

// A pixel is dark at this brightest-channel value or below.
inline constexpr int BLACK = 28;
// Short side over long side of iPhone screens, tried in this order.
inline constexpr std::array<double, 3> IPHONE_ASPECTS{0.459954233409611, 0.4612676056338028, 0.5622188905547226};

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

    Json json() const;
};

// "W/H" or one number, as short side over long side. Nothing for anything
// else, and for a ratio that is not positive.
std::optional<double> parseAspect(const std::optional<std::string>& text);

// The bounding box of non-black pixels inside the rectangle.
std::optional<Rect2D> nonBlackBox(const Pixels& px, const Rect2D& in);

// The height of a flat, non-black band at the top (a title bar); 0 if none.
int chromeTop(const Pixels& px);

// The largest rectangle of the shape centred in the region.
Rect2D fit(double aspect, bool landscape, const Rect2D& in);

// The phone's screen in the frame. `aspectHint` is tried before the known
// iPhone shapes; `prefer` ("portrait" or "landscape") breaks near-ties.
ContentRect detectContent(const Pixels& px, std::optional<double> aspectHint, const std::optional<std::string>& prefer);

}  // namespace quintalis
