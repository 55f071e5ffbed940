#include "mirror/sticky_content.h"

namespace quintalis {
namespace {

bool containsGrown(const Rect2D& outer, double by, const Rect2D& inner) {
    return inner.x >= outer.x - by && inner.y >= outer.y - by && inner.x + inner.width <= outer.x + outer.width + by &&
           inner.y + inner.height <= outer.y + outer.height + by;
}

}  // namespace

ContentRect StickyContent::accept(const ContentRect& fresh, int width, int height) {
    if (cached_ && cached_->width == width && cached_->height == height && fresh.method != "edges" &&
        cached_->content.method != "blank" && fresh.orientation == cached_->content.orientation &&
        (fresh.method == "blank" || containsGrown(cached_->content.rect, 3, fresh.rect))) {
        return cached_->content;
    }
    if (fresh.method != "blank") {
        cached_ = Cached{width, height, fresh};
        lastOrientation_ = fresh.orientation;
    }
    return fresh;
}

}  // namespace quintalis
