#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "imaging/pixel_buffer.h"

namespace quintalis {

// JPEG at the given quality (1-100), straight from the 32-bit pixels.
std::optional<std::string> encodeJPEG(const PixelBuffer& picture, int quality);
// PNG, 8-bit RGB (the pictures are opaque screens).
std::optional<std::string> encodePNG(const PixelBuffer& picture);

// The first image of PNG or JPEG bytes as RGBA; nothing when they are neither
// or are damaged.
std::optional<PixelBuffer> decodeImage(const std::string& bytes);
std::optional<PixelBuffer> decodeImageFile(const std::filesystem::path& file);

}  // namespace quintalis
