#pragma once

#include <zlib.h>

#include <cstdint>
#include <string>

namespace quintalis::testing {

// A PNG head announcing a picture of the given size, followed by a scrap of
// pixel data: enough for a reader to learn the size, not to decode it.
inline std::string pngHead(uint32_t width, uint32_t height) {
    auto bigEndian = [](uint32_t v) { return std::string{char(v >> 24), char(v >> 16), char(v >> 8), char(v)}; };
    auto chunk = [&](const std::string& type, const std::string& data) {
        std::string body = type + data;
        auto crc = crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size()));
        return bigEndian(static_cast<uint32_t>(data.size())) + body + bigEndian(static_cast<uint32_t>(crc));
    };
    std::string header = bigEndian(width) + bigEndian(height) + std::string{8, 2, 0, 0, 0};
    return "\x89PNG\r\n\x1a\n" + chunk("IHDR", header) + chunk("IDAT", std::string(16, '\0'));
}

}  // namespace quintalis::testing
