#include "imaging/codecs.h"

#include <png.h>
#include <turbojpeg.h>

#include <climits>
#include <cstring>
#include <memory>
#include <vector>

namespace quintalis {
namespace {

struct TurboJPEG {
    tjhandle handle;
    explicit TurboJPEG(tjhandle h) : handle(h) {}
    ~TurboJPEG() {
        if (handle) tjDestroy(handle);
    }
};

// Each thread keeps its own compressor: creating one costs more than a small encode.
tjhandle compressor() {
    thread_local TurboJPEG instance(tjInitCompress());
    return instance.handle;
}

void appendToString(png_structp png, png_bytep data, png_size_t length) {
    static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<char*>(data), length);
}

bool isPNG(const std::string& bytes) { return bytes.size() >= 8 && png_sig_cmp(reinterpret_cast<png_const_bytep>(bytes.data()), 0, 8) == 0; }

bool isJPEG(const std::string& bytes) {
    return bytes.size() >= 3 && static_cast<uint8_t>(bytes[0]) == 0xFF && static_cast<uint8_t>(bytes[1]) == 0xD8;
}

constexpr png_uint_32 kLongestSide = 30000;

struct PNGReader {
    const std::string& bytes;
    size_t offset = 8;  // the signature is checked before
};

void readFromString(png_structp png, png_bytep data, png_size_t length) {
    auto* reader = static_cast<PNGReader*>(png_get_io_ptr(png));
    if (length > reader->bytes.size() - reader->offset) png_error(png, "truncated");
    std::memcpy(data, reader->bytes.data() + reader->offset, length);
    reader->offset += length;
}

// A 16-bit PNG that says nothing of its colours. libpng's simplified reader
// takes such a file as linear light, which lifts its dark tones; image
// viewers, and the pictures people make, mean sRGB, as in 8-bit files.
// Read it with the samples taken as they are stored. Nothing also when the
// file turns out to carry colour information, for the simplified reader.
std::optional<PixelBuffer> decode16BitAsSRGB(const std::string& bytes) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!png) return std::nullopt;
    png_infop info = png_create_info_struct(png);
    PNGReader reader{bytes};
    std::optional<PixelBuffer> out;
    std::vector<png_bytep> rows;
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return std::nullopt;
    }
    png_set_read_fn(png, &reader, readFromString);
    png_set_sig_bytes(png, 8);
    png_read_info(png, info);
    const png_uint_32 colourChunks = PNG_INFO_gAMA | PNG_INFO_sRGB | PNG_INFO_iCCP | PNG_INFO_cHRM;
    png_uint_32 width = png_get_image_width(png, info);
    png_uint_32 height = png_get_image_height(png, info);
    if (png_get_bit_depth(png, info) != 16 || png_get_valid(png, info, colourChunks) != 0 || width > kLongestSide ||
        height > kLongestSide) {
        png_destroy_read_struct(&png, &info, nullptr);
        return std::nullopt;
    }
    png_set_expand(png);
    png_set_scale_16(png);
    png_set_gray_to_rgb(png);
    png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    out.emplace(static_cast<int>(width), static_cast<int>(height), PixelFormat::rgba);
    for (png_uint_32 y = 0; y < height; ++y) rows.push_back(out->mutableRow(static_cast<int>(y)));
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return out;
}

std::optional<PixelBuffer> decodePNG(const std::string& bytes) {
    if (auto plain = decode16BitAsSRGB(bytes)) return plain;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size())) return std::nullopt;
    image.format = PNG_FORMAT_RGBA;
    if (image.width > kLongestSide || image.height > kLongestSide) {
        png_image_free(&image);
        return std::nullopt;
    }
    PixelBuffer out(static_cast<int>(image.width), static_cast<int>(image.height), PixelFormat::rgba);
    if (!png_image_finish_read(&image, nullptr, out.mutableData(), out.bytesPerRow(), nullptr)) {
        png_image_free(&image);
        return std::nullopt;
    }
    return out;
}

std::optional<PixelBuffer> decodeJPEG(const std::string& bytes) {
    tjhandle handle = tjInitDecompress();
    if (!handle) return std::nullopt;
    TurboJPEG owner(handle);
    int width = 0, height = 0, subsampling = 0, colorspace = 0;
    auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    auto size = static_cast<unsigned long>(bytes.size());
    if (tjDecompressHeader3(handle, data, size, &width, &height, &subsampling, &colorspace) != 0) return std::nullopt;
    if (width <= 0 || height <= 0 || width > static_cast<int>(kLongestSide) || height > static_cast<int>(kLongestSide)) {
        return std::nullopt;
    }
    PixelBuffer out(width, height, PixelFormat::rgba);
    if (tjDecompress2(handle, data, size, out.mutableData(), width, out.bytesPerRow(), height, TJPF_RGBA, 0) != 0) {
        return std::nullopt;
    }
    return out;
}

}  // namespace

std::optional<std::string> encodePicture(const PixelBuffer& picture, bool png) {
    return png ? encodePNG(picture) : encodeJPEG(picture, 80);
}

const char* pictureMime(bool png) { return png ? "image/png" : "image/jpeg"; }

std::optional<std::string> encodeJPEG(const PixelBuffer& picture, int quality) {
    tjhandle handle = compressor();
    if (!handle || picture.width() == 0 || picture.height() == 0) return std::nullopt;
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    int format = picture.format() == PixelFormat::bgra ? TJPF_BGRA : TJPF_RGBA;
    if (tjCompress2(handle, picture.data(), picture.width(), picture.bytesPerRow(), picture.height(), format, &jpeg,
                    &size, TJSAMP_420, quality, TJFLAG_FASTDCT) != 0) {
        tjFree(jpeg);
        return std::nullopt;
    }
    std::string out(reinterpret_cast<char*>(jpeg), size);
    tjFree(jpeg);
    return out;
}

std::optional<std::string> encodePNG(const PixelBuffer& picture) {
    if (picture.width() == 0 || picture.height() == 0) return std::nullopt;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!png) return std::nullopt;
    png_infop info = png_create_info_struct(png);
    std::string out;
    std::vector<uint8_t> rgb(static_cast<size_t>(picture.width()) * 3);
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return std::nullopt;
    }
    png_set_write_fn(png, &out, appendToString, nullptr);
    png_set_IHDR(png, info, static_cast<png_uint_32>(picture.width()), static_cast<png_uint_32>(picture.height()), 8,
                 PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    // Screens compress well even at a fast level; the default level costs
    // several times the time for a few percent of size.
    png_set_compression_level(png, 2);
    png_set_filter(png, 0, PNG_FILTER_SUB);
    png_write_info(png, info);
    const bool bgra = picture.format() == PixelFormat::bgra;
    for (int y = 0; y < picture.height(); ++y) {
        const uint8_t* row = picture.row(y);
        for (int x = 0; x < picture.width(); ++x) {
            rgb[x * 3] = row[x * 4 + (bgra ? 2 : 0)];
            rgb[x * 3 + 1] = row[x * 4 + 1];
            rgb[x * 3 + 2] = row[x * 4 + (bgra ? 0 : 2)];
        }
        png_write_row(png, rgb.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

std::optional<PixelBuffer> decodeImage(const std::string& bytes) {
    if (isPNG(bytes)) return decodePNG(bytes);
    if (isJPEG(bytes)) return decodeJPEG(bytes);
    return std::nullopt;
}

std::optional<ImageSize> encodedImageSize(const std::string& bytes) {
    if (isPNG(bytes)) {
        png_image image{};
        image.version = PNG_IMAGE_VERSION;
        if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size())) return std::nullopt;
        ImageSize size{static_cast<int>(std::min<png_uint_32>(image.width, INT_MAX)),
                       static_cast<int>(std::min<png_uint_32>(image.height, INT_MAX))};
        png_image_free(&image);
        return size;
    }
    if (isJPEG(bytes)) {
        tjhandle handle = tjInitDecompress();
        if (!handle) return std::nullopt;
        TurboJPEG owner(handle);
        int width = 0, height = 0, subsampling = 0, colorspace = 0;
        if (tjDecompressHeader3(handle, reinterpret_cast<const unsigned char*>(bytes.data()),
                                static_cast<unsigned long>(bytes.size()), &width, &height, &subsampling,
                                &colorspace) != 0) {
            return std::nullopt;
        }
        return ImageSize{width, height};
    }
    return std::nullopt;
}

}  // namespace quintalis
