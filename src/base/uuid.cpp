#include "base/uuid.h"
#include "base/text.h"

namespace quintalis {
namespace {

bool isDashPosition(size_t i) { return i == 8 || i == 13 || i == 18 || i == 23; }

UUID withVersion(std::array<uint8_t, 16> bytes, uint8_t version) {
    bytes[6] = static_cast<uint8_t>((bytes[6] & 0x0F) | (version << 4));
    bytes[8] = static_cast<uint8_t>((bytes[8] & 0x3F) | 0x80);
    return UUID(bytes);
}

}  // namespace

std::optional<UUID> UUID::parse(std::string_view text) {
    if (text.size() != 36) return std::nullopt;
    std::array<uint8_t, 16> bytes{};
    size_t byte = 0;
    for (size_t i = 0; i < text.size();) {
        if (isDashPosition(i)) {
            if (text[i] != '-') return std::nullopt;
            ++i;
            continue;
        }
        int high = hexDigitValue(text[i]);
        int low = hexDigitValue(text[i + 1]);
        if (high < 0 || low < 0 || isDashPosition(i + 1)) return std::nullopt;
        bytes[byte++] = static_cast<uint8_t>(high * 16 + low);
        i += 2;
    }
    return UUID(bytes);
}

UUID UUID::fromName(std::string_view name) {
    // Two independent FNV-1a passes fill the 128 bits; stability across runs
    // is what matters here, not cryptographic strength.
    std::array<uint8_t, 16> bytes{};
    for (size_t half = 0; half < 2; ++half) {
        uint64_t hash = 1469598103934665603ULL ^ (half * 0x9E3779B97F4A7C15ULL);
        for (unsigned char c : name) {
            hash ^= c;
            hash *= 1099511628211ULL;
        }
        for (size_t j = 0; j < 8; ++j) bytes[half * 8 + j] = static_cast<uint8_t>(hash >> (8 * j));
    }
    return withVersion(bytes, 8);  // version 8: a layout of our own, not a SHA-1 name UUID
}

std::string UUID::string() const {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(36);
    for (size_t i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) text += '-';
        text += digits[bytes_[i] >> 4];
        text += digits[bytes_[i] & 0x0F];
    }
    return text;
}

}  // namespace quintalis
