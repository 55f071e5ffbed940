#include <gtest/gtest.h>
#include <png.h>
#include <turbojpeg.h>

#include <fstream>

#include "imaging/codecs.h"
#include "imaging/image_file.h"
#include "support/png_head.h"
#include "support/temp_dir.h"

using namespace quintalis;
using namespace quintalis::testing;

namespace {

void appendBytes(png_structp png, png_bytep data, png_size_t length) {
    static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<char*>(data), length);
}

// A PNG of 16-bit samples, all the same; colour type 0 (grey) or 6 (RGBA).
std::string png16(int width, int height, int colourType, std::vector<uint16_t> sample, bool withGamma = false) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    std::string out;
    png_set_write_fn(png, &out, appendBytes, nullptr);
    png_set_IHDR(png, info, width, height, 16, colourType, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (withGamma) png_set_gAMA(png, info, 1.0);  // says: these samples are linear light
    png_write_info(png, info);
    std::vector<uint8_t> row;
    for (int x = 0; x < width; ++x) {
        for (uint16_t value : sample) {
            row.push_back(static_cast<uint8_t>(value >> 8));
            row.push_back(static_cast<uint8_t>(value & 0xFF));
        }
    }
    for (int y = 0; y < height; ++y) png_write_row(png, row.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

std::string cmykJPEG(int width, int height) {
    std::vector<uint8_t> cmyk(static_cast<size_t>(width) * height * 4, 0);  // no ink: white
    tjhandle handle = tjInitCompress();
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    tjCompress2(handle, cmyk.data(), width, width * 4, height, TJPF_CMYK, &jpeg, &size, TJSAMP_444, 90, 0);
    std::string out(reinterpret_cast<char*>(jpeg), size);
    tjFree(jpeg);
    tjDestroy(handle);
    return out;
}

void write(const std::filesystem::path& file, const std::string& bytes) { std::ofstream(file, std::ios::binary) << bytes; }

std::string failureOf(const std::filesystem::path& path) {
    try {
        loadImage(path);
    } catch (const ImageFileError& error) {
        return error.what();
    }
    return "(loaded)";
}

}  // namespace

TEST(LoadImage, ReadsWhatTheDesktopReads) {
    TempDir dir;
    write(dir.path() / "cmyk.jpg", cmykJPEG(24, 16));
    write(dir.path() / "jpeg.png", *encodeJPEG(PixelBuffer(30, 10), 90));  // named for what it is not
    auto cmyk = loadImage(dir.path() / "cmyk.jpg");  // TurboJPEG cannot turn it into RGB; gdk-pixbuf can
    EXPECT_EQ(cmyk.width(), 24);
    EXPECT_EQ(cmyk.height(), 16);
    EXPECT_EQ(loadImage(dir.path() / "jpeg.png").width(), 30);
}

TEST(LoadImage, DrawsTransparencyAsBlackAndSixteenBitsAsSRGB) {
    TempDir dir;
    // White with alpha 0: invisible, and must not read as a bright picture.
    write(dir.path() / "clear.png", png16(4, 4, PNG_COLOR_TYPE_RGB_ALPHA, {0xFFFF, 0xFFFF, 0xFFFF, 0}));
    write(dir.path() / "half.png", png16(4, 4, PNG_COLOR_TYPE_RGB_ALPHA, {0xFFFF, 0x8080, 0, 0x8080}));
    // A dark grey with no colour information is the sRGB grey 32, not linear light (which would read near 99).
    write(dir.path() / "dark.png", png16(4, 4, PNG_COLOR_TYPE_GRAY, {0x2020}));
    // Said to be linear, it is converted as before.
    write(dir.path() / "linear.png", png16(4, 4, PNG_COLOR_TYPE_GRAY, {0x2020}, true));
    auto pixel = [&](const char* name) {
        auto picture = loadImage(dir.path() / name);
        return std::vector<int>(picture.row(2) + 8, picture.row(2) + 12);
    };
    EXPECT_EQ(pixel("clear.png"), (std::vector<int>{0, 0, 0, 0}));
    EXPECT_EQ(pixel("half.png"), (std::vector<int>{128, 64, 0, 128}));
    EXPECT_EQ(pixel("dark.png"), (std::vector<int>{32, 32, 32, 255}));
    EXPECT_GT(pixel("linear.png")[0], 90);
}

TEST(LoadImage, RefusesWhatIsNoPictureOrTooLarge) {
    TempDir dir;
    write(dir.path() / "text.png", "not an image");
    write(dir.path() / "huge.png", pngHead(20000, 5001));
    for (std::filesystem::path path : {dir.path() / "missing.png", dir.path() / "text.png", dir.path(),
                                       std::filesystem::path("/dev/zero")}) {
        EXPECT_EQ(failureOf(path), "cannot read " + path.string());
    }
    EXPECT_EQ(failureOf(dir.path() / "huge.png"), "image too large: 20000\u00D75001");
}
