#include "mirror/content_rect.h"

#include <cmath>
#include <cstdlib>
#include <sstream>
#include <vector>

namespace quintalis {
namespace {

bool columnHasLight(const Pixels& pixels, int x, int y0, int y1) {
    for (int y = y0; y < y1; ++y) {
        if (pixels.brightness(x, y) > kBlack) return true;
    }
    return false;
}

bool rowHasLight(const Pixels& pixels, int y, int x0, int x1) {
    for (int x = x0; x < x1; ++x) {
        if (pixels.brightness(x, y) > kBlack) return true;
    }
    return false;
}

// The share of a line's pixels that are light: a column (x fixed) or a row.
double lightShare(const Pixels& pixels, bool column, int at) {
    const int length = column ? pixels.height : pixels.width;
    int light = 0;
    for (int i = 0; i < length; ++i) {
        if ((column ? pixels.brightness(at, i) : pixels.brightness(i, at)) > kBlack) ++light;
    }
    return static_cast<double>(light) / length;
}

// The width of a thin bright frame (at most 3 pixels) drawn round a black
// letterbox, as some windows draw round their contents; 0 when there is none.
// Without this the frame alone would make the light box the whole picture.
int thinFrame(const Pixels& pixels) {
    constexpr int kThickest = 3;
    if (std::min(pixels.width, pixels.height) <= 4 * kThickest) return 0;
    const int right = pixels.width - 1, bottom = pixels.height - 1;
    for (int k = 1; k <= kThickest; ++k) {
        const int i = k - 1;  // the frame's line that this step adds
        const bool light = lightShare(pixels, true, i) >= 0.98 && lightShare(pixels, true, right - i) >= 0.98 &&
                           lightShare(pixels, false, i) >= 0.98 && lightShare(pixels, false, bottom - i) >= 0.98;
        if (!light) return 0;
        // A letterbox on the left and right, or above and below (a title band may fill the top).
        const bool sidesDark = lightShare(pixels, true, k) <= 0.2 && lightShare(pixels, true, right - k) <= 0.2;
        const bool endsDark = lightShare(pixels, false, k) <= 0.2 && lightShare(pixels, false, bottom - k) <= 0.2;
        if (sidesDark || endsDark) return k;
    }
    return 0;
}

std::string orientationOf(const Rect2D& r) { return r.height < r.width ? "landscape" : "portrait"; }

double area(const Rect2D& r) { return r.width * r.height; }

bool contains(const Rect2D& outer, const Rect2D& inner) {
    return inner.x >= outer.x && inner.y >= outer.y && inner.x + inner.width <= outer.x + outer.width &&
           inner.y + inner.height <= outer.y + outer.height;
}

}  // namespace

Pixels pixelsOf(const PixelBuffer& buffer) {
    return Pixels{buffer.width(), buffer.height(), buffer.bytesPerRow(), buffer.data()};
}

JSON ContentRect::json() const {
    return JSON{{"x", static_cast<long long>(rect.x)},      {"y", static_cast<long long>(rect.y)},
                {"w", static_cast<long long>(rect.width)},  {"h", static_cast<long long>(rect.height)},
                {"orientation", orientation},               {"method", method}};
}

std::optional<double> parseAspect(const std::optional<std::string>& text) {
    if (!text || text->empty()) return std::nullopt;
    std::vector<double> numbers;
    std::stringstream pieces(*text);
    std::string piece;
    while (std::getline(pieces, piece, '/')) {
        if (piece.empty()) continue;
        char* end = nullptr;
        double value = std::strtod(piece.c_str(), &end);
        if (end == piece.c_str() + piece.size() && std::isfinite(value)) numbers.push_back(value);
    }
    std::optional<double> ratio;
    if (numbers.size() == 1 && numbers[0] > 0) ratio = std::min(numbers[0], 1 / numbers[0]);
    if (numbers.size() == 2 && numbers[1] > 0) {
        ratio = std::min(numbers[0], numbers[1]) / std::max(numbers[0], numbers[1]);
    }
    // A first number of zero or less would make a shape with no width: no hint.
    if (ratio && !(*ratio > 0)) return std::nullopt;
    return ratio;
}

std::optional<Rect2D> nonBlackBox(const Pixels& pixels, const Rect2D& in) {
    const int x0 = static_cast<int>(in.x), x1 = static_cast<int>(in.x + in.width);
    const int y0 = static_cast<int>(in.y), y1 = static_cast<int>(in.y + in.height);
    if (y0 >= y1 || x0 >= x1) return std::nullopt;
    const int shorter = std::min(x1 - x0, y1 - y0);
    const int step = shorter < 400 ? 1 : shorter / 400;
    int minX = x1, maxX = -1, minY = y1, maxY = -1;
    for (int y = y0; y < y1; y += step) {
        for (int x = x0; x < x1; x += step) {
            if (pixels.brightness(x, y) <= kBlack) continue;
            minX = std::min(minX, x);
            maxX = std::max(maxX, x);
            minY = std::min(minY, y);
            maxY = std::max(maxY, y);
        }
    }
    if (maxX < 0) return std::nullopt;
    // The samples can miss the true edges by up to a step; walk each edge out
    // while the next line still holds light.
    while (minX > x0 && columnHasLight(pixels, minX - 1, y0, y1)) --minX;
    while (maxX < x1 - 1 && columnHasLight(pixels, maxX + 1, y0, y1)) ++maxX;
    while (minY > y0 && rowHasLight(pixels, minY - 1, x0, x1)) --minY;
    while (maxY < y1 - 1 && rowHasLight(pixels, maxY + 1, x0, x1)) ++maxY;
    return Rect2D{static_cast<double>(minX), static_cast<double>(minY), static_cast<double>(maxX - minX + 1),
                  static_cast<double>(maxY - minY + 1)};
}

int chromeTop(const Pixels& pixels) {
    if (pixels.height <= 12) return 0;
    const int step = pixels.width < 200 ? 1 : pixels.width / 200;
    const int rows = pixels.height * 8 / 100;
    for (int y = 0; y < rows; ++y) {
        int samples = 0, light = 0;
        double sum = 0, squares = 0;
        for (int x = 0; x < pixels.width; x += step) {
            ++samples;
            if (pixels.brightness(x, y) > kBlack) ++light;
            double luma = pixels.luma(x, y);
            sum += luma;
            squares += luma * luma;
        }
        double mean = sum / samples;
        double variance = squares / samples - mean * mean;
        if (static_cast<double>(light) / samples < 0.98 || variance > 40) return y;
    }
    return 0;
}

Rect2D fit(double aspect, bool landscape, const Rect2D& in) {
    double target = landscape ? 1 / aspect : aspect;
    double width, height;
    if (target < in.width / in.height) {
        height = in.height;
        width = target * in.height;
    } else {
        width = in.width;
        height = in.width / target;
    }
    return Rect2D{std::round(in.x + (in.width - width) * 0.5), std::round(in.y + (in.height - height) * 0.5),
                  std::round(width), std::round(height)};
}

ContentRect detectContent(const Pixels& pixels, std::optional<double> aspectHint, const std::optional<std::string>& prefer) {
    std::vector<double> ratios;
    if (aspectHint) ratios.push_back(*aspectHint);
    ratios.insert(ratios.end(), kPhoneAspects.begin(), kPhoneAspects.end());

    std::vector<Rect2D> regions{{0, 0, static_cast<double>(pixels.width), static_cast<double>(pixels.height)}};
    if (int top = chromeTop(pixels); top >= 1) {
        regions.push_back({0, static_cast<double>(top), static_cast<double>(pixels.width), static_cast<double>(pixels.height - top)});
    }
    if (int frame = thinFrame(pixels); frame > 0) {
        // Each region again without the frame, looked at last so that its box is the one kept when no shape fits.
        const double inset = frame, bottom = pixels.height - inset;
        for (size_t i = 0, count = regions.size(); i < count; ++i) {
            const Rect2D& region = regions[i];
            const double top = std::max(region.y, inset);
            regions.push_back({inset, top, pixels.width - 2 * inset, bottom - top});
        }
    }
    std::vector<std::pair<Rect2D, Rect2D>> found;  // (region, box)
    for (const auto& region : regions) {
        if (auto box = nonBlackBox(pixels, region)) found.emplace_back(region, *box);
    }

    // Edges: a box that already has a phone's shape.
    const std::pair<Rect2D, Rect2D>* best = nullptr;
    double bestError = 0;
    for (const auto& pair : found) {
        const Rect2D& box = pair.second;
        if (box.width < 60 || box.height < 60) continue;
        double shape = std::min(box.width, box.height) / std::max(box.width, box.height);
        double error = INFINITY;
        for (double ratio : ratios) error = std::min(error, std::abs(shape - ratio) / ratio);
        if (error <= 0.012 && (!best || error < bestError)) {
            best = &pair;
            bestError = error;
        }
    }
    if (best) return ContentRect{best->second, orientationOf(best->second), "edges"};

    if (found.empty()) {
        bool landscape = prefer == "landscape";
        return ContentRect{fit(ratios.front(), landscape, regions.back()), landscape ? "landscape" : "portrait", "blank"};
    }

    // Fit: a partly dark screen whose light part lies inside a phone shape.
    std::vector<double> fitRatios = aspectHint ? std::vector<double>{*aspectHint}
                                               : std::vector<double>{kPhoneAspects[0], kPhoneAspects[1]};
    for (auto pair = found.rbegin(); pair != found.rend(); ++pair) {
        const auto& [region, box] = *pair;
        std::optional<ContentRect> chosen;
        for (double ratio : fitRatios) {
            for (bool landscape : {false, true}) {
                Rect2D fitted = fit(ratio, landscape, region);
                double grow = std::max(2.0, 0.015 * std::max(fitted.width, fitted.height));
                Rect2D grown{fitted.x - grow, fitted.y - grow, fitted.width + 2 * grow, fitted.height + 2 * grow};
                if (!contains(grown, box)) continue;
                std::string orientation = landscape ? "landscape" : "portrait";
                if (!chosen) {
                    chosen = ContentRect{fitted, orientation, "fit"};
                } else if (area(fitted) < 0.98 * area(chosen->rect) ||
                           (std::abs(area(fitted) - area(chosen->rect)) <= 0.02 * area(chosen->rect) && prefer == orientation)) {
                    chosen = ContentRect{fitted, orientation, "fit"};
                }
            }
        }
        if (chosen) return *chosen;
    }
    const Rect2D& box = found.back().second;
    return ContentRect{box, orientationOf(box), "bbox"};
}

}  // namespace quintalis
