#pragma once

#include <vector>

#include "imaging/pixel_buffer.h"

namespace quintalis {

// A part of a picture that text recognition reads on its own.
struct TextBand {
    int x = 0, y = 0, width = 0, height = 0;
    bool operator==(const TextBand&) const = default;
};

// Where the text of a picture can be: runs of rows that are not flat, cut
// only where a run of flat rows lies between them, so no line of text is
// ever split. A flat row is one whose neighbouring pixels all differ by
// little (a plain background, a gentle gradient). Each band keeps a margin
// of its flat surroundings (readers want a border around the text) and
// leaves out flat columns on its left and right. Bands never overlap.
// Runs too short to hold a letter are left out. Top to bottom.
//
// A pure function of the pixels: the same rows always give the same bands,
// which is what lets a reader reuse the text of rows it has read before.
std::vector<TextBand> textBands(const PixelBuffer& picture);

}  // namespace quintalis
