#pragma once

#include <optional>
#include <string>

#include "mirror/content_rect.h"

namespace quintalis {

// Keeps the phone's rectangle steady from frame to frame. An exact edge
// detection always wins; a blank (all-dark) frame never replaces a known
// rectangle; weaker results that lie inside the known rectangle (grown by 3
// pixels) keep it, so it does not jitter; a frame of another size takes the
// fresh result. Not thread-safe: its owner guards it.
class StickyContent {
public:
    // The orientation to prefer when detection cannot tell.
    const std::optional<std::string>& lastOrientation() const { return lastOrientation_; }

    // What to report for a frame of width × height whose fresh detection is `fresh`.
    ContentRect accept(const ContentRect& fresh, int width, int height);

private:
    struct Cached {
        int width;
        int height;
        ContentRect content;
    };
    std::optional<Cached> cached_;
    std::optional<std::string> lastOrientation_;
};

}  // namespace quintalis
