#pragma once

#include <filesystem>
#include <stdexcept>

#include "base/user_error.h"
#include "imaging/pixel_buffer.h"

namespace quintalis {

// Why a picture file could not be loaded; the text is meant for the person
// who named the file.
class ImageFileError : public UserError {
public:
    enum class Kind { unreadable, tooLarge };
    ImageFileError(Kind kind, const std::string& message) : UserError(message), kind_(kind) {}
    Kind kind() const { return kind_; }

private:
    Kind kind_;
};

// Pictures larger than this are refused before they are decoded.
inline constexpr int64_t kMaxImagePixels = 100'000'000;

// The first image of a picture file, as it looks: alpha premultiplied (so
// a transparent background reads as black, not as whatever colour hides in
// it) and in sRGB. PNG and JPEG go through libpng and TurboJPEG; every other
// kind the desktop's image loader (gdk-pixbuf) reads, CMYK JPEGs among them.
// Throws ImageFileError: unreadable ("cannot read <path>") for a path that
// is not a regular file or holds no picture; tooLarge ("image too large:
// <w>×<h>") beyond kMaxImagePixels.
PixelBuffer loadImage(const std::filesystem::path& path);

}  // namespace quintalis
