#pragma once

#include <cstdint>
#include <vector>

#include "mirror/content_rect.h"

namespace quintalis {

// A small luminance picture of each frame is enough to tell whether what the
// window shows changed, at a fraction of comparing whole frames.
inline constexpr int kThumbColumns = 96;
inline constexpr int kThumbRows = 192;

// The frame's luminance sampled at the centres of a 96 × 192 grid, row by row.
std::vector<uint8_t> changeThumbnail(const Pixels& frame);

// A frame differs visibly from the previous one when the thumbnails differ
// in size (so the first frame always counts) or when at least two samples
// moved by more than 18: one noisy sample is not a change.
bool visiblyChanged(const std::vector<uint8_t>& previous, const std::vector<uint8_t>& current);

}  // namespace quintalis
