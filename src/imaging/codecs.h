#pragma once

#include <optional>
#include <string>

#include "imaging/image_ops.h"
#include "imaging/pixel_buffer.h"

namespace quintalis {

// JPEG at the given quality (1-100), straight from the 32-bit pixels.
std::optional<std::string> encodeJPEG(const PixelBuffer& picture, int quality);
// PNG, 8-bit RGB (the pictures are opaque screens).
std::optional<std::string> encodePNG(const PixelBuffer& picture);

// A picture as the services hand one out: PNG when the caller asks for it,
// else JPEG at quality 80, small enough to send a phone's screen every
// moment and still sharp enough to read its text. pictureMime names it.
std::optional<std::string> encodePicture(const PixelBuffer& picture, bool png);
const char* pictureMime(bool png);

// The first image of PNG or JPEG bytes as RGBA (not premultiplied, sRGB);
// nothing when they are neither, are damaged, or are a kind these readers
// do not handle (a CMYK JPEG).
std::optional<PixelBuffer> decodeImage(const std::string& bytes);
// The size PNG or JPEG bytes announce, read from their header alone.
std::optional<ImageSize> encodedImageSize(const std::string& bytes);

}  // namespace quintalis
