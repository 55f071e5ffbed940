#include "imaging/pixel_buffer.h"

#include <stdexcept>

namespace quintalis {

PixelBuffer::PixelBuffer(int width, int height, PixelFormat format)
    : PixelBuffer(width, height, width * 4,
                  std::vector<uint8_t>(static_cast<size_t>(width > 0 ? width : 0) * 4 * (height > 0 ? height : 0)),
                  format) {}

PixelBuffer::PixelBuffer(int width, int height, int bytesPerRow, std::vector<uint8_t> bytes, PixelFormat format)
    : width_(width), height_(height), bytesPerRow_(bytesPerRow), format_(format), bytes_(std::move(bytes)) {
    if (width < 0 || height < 0 || bytesPerRow < width * 4 ||
        bytes_.size() < static_cast<size_t>(bytesPerRow) * static_cast<size_t>(height)) {
        throw std::invalid_argument("pixel buffer geometry does not fit its bytes");
    }
}

}  // namespace quintalis
