#include "imaging/image_file.h"

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <cstring>
#include <memory>

#include "base/read_file.h"
#include "imaging/codecs.h"
#include "imaging/image_ops.h"

namespace quintalis {
namespace {

struct GObjectRelease {
    void operator()(gpointer object) const { g_object_unref(object); }
};

// The size gdk-pixbuf's loader for the file's kind announces, without decoding it.
std::optional<ImageSize> pixbufImageSize(const std::filesystem::path& path) {
    int width = 0, height = 0;
    if (!gdk_pixbuf_get_file_info(path.c_str(), &width, &height)) return std::nullopt;
    return ImageSize{width, height};
}

std::optional<PixelBuffer> pixbufDecode(const std::filesystem::path& path) {
    GError* error = nullptr;
    std::unique_ptr<GdkPixbuf, GObjectRelease> pixbuf(gdk_pixbuf_new_from_file(path.c_str(), &error));
    if (error) g_error_free(error);
    if (!pixbuf || gdk_pixbuf_get_bits_per_sample(pixbuf.get()) != 8) return std::nullopt;
    const int width = gdk_pixbuf_get_width(pixbuf.get());
    const int height = gdk_pixbuf_get_height(pixbuf.get());
    const int channels = gdk_pixbuf_get_n_channels(pixbuf.get());
    const int stride = gdk_pixbuf_get_rowstride(pixbuf.get());
    if (width <= 0 || height <= 0 || (channels != 3 && channels != 4)) return std::nullopt;
    const guint8* pixels = gdk_pixbuf_read_pixels(pixbuf.get());
    PixelBuffer out(width, height, PixelFormat::rgba);
    for (int y = 0; y < height; ++y) {
        const guint8* from = pixels + static_cast<size_t>(y) * stride;
        uint8_t* to = out.mutableRow(y);
        for (int x = 0; x < width; ++x) {
            std::memcpy(to + x * 4, from + x * channels, 3);
            to[x * 4 + 3] = channels == 4 ? from[x * 4 + 3] : 255;
        }
    }
    return out;
}

}  // namespace

PixelBuffer loadImage(const std::filesystem::path& path) {
    const ImageFileError unreadable(ImageFileError::Kind::unreadable, "cannot read " + path.string());
    // A device or a pipe would be read for ever, a folder not at all.
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) throw unreadable;
    auto bytes = readFile(path);
    if (!bytes) throw unreadable;
    auto size = encodedImageSize(*bytes);
    if (!size) size = pixbufImageSize(path);
    if (!size || size->width <= 0 || size->height <= 0) throw unreadable;
    if (static_cast<int64_t>(size->width) * size->height > kMaxImagePixels) {
        throw ImageFileError(ImageFileError::Kind::tooLarge, "image too large: " + std::to_string(size->width) +
                                                                 "\u00D7" + std::to_string(size->height));
    }
    auto picture = decodeImage(*bytes);
    if (!picture) picture = pixbufDecode(path);
    if (!picture) throw unreadable;
    premultiplyAlpha(*picture);
    return std::move(*picture);
}

}  // namespace quintalis
