#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace quintalis {

enum class PixelFormat { bgra, rgba };

// A picture of 32-bit pixels, rows top to bottom. Immutable once shared
// (frames are handed around as PixelBufferRef), so any thread may read a
// delivered frame while the next one is being captured.
class PixelBuffer {
public:
    PixelBuffer(int width, int height, PixelFormat format = PixelFormat::bgra);
    PixelBuffer(int width, int height, int bytesPerRow, std::vector<uint8_t> bytes,
                PixelFormat format = PixelFormat::bgra);

    int width() const { return width_; }
    int height() const { return height_; }
    int bytesPerRow() const { return bytesPerRow_; }
    PixelFormat format() const { return format_; }
    const uint8_t* data() const { return bytes_.data(); }
    uint8_t* mutableData() { return bytes_.data(); }
    const uint8_t* row(int y) const { return bytes_.data() + static_cast<size_t>(y) * bytesPerRow_; }
    uint8_t* mutableRow(int y) { return bytes_.data() + static_cast<size_t>(y) * bytesPerRow_; }

private:
    int width_;
    int height_;
    int bytesPerRow_;
    PixelFormat format_;
    std::vector<uint8_t> bytes_;
};

using PixelBufferRef = std::shared_ptr<const PixelBuffer>;

}  // namespace quintalis
