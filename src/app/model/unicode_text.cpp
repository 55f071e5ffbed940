#include "app/model/unicode_text.h"

#include <utf8proc.h>

namespace quintalis {
namespace {

// Calls `visit` with each code point, U+FFFD for each invalid sequence.
template <typename Visit>
void forEachCodePoint(std::string_view text, Visit visit) {
    auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
    auto size = static_cast<utf8proc_ssize_t>(text.size());
    utf8proc_ssize_t at = 0;
    while (at < size) {
        utf8proc_int32_t point = 0;
        utf8proc_ssize_t used = utf8proc_iterate(bytes + at, size - at, &point);
        if (used <= 0) {
            visit(0xFFFD);
            at += 1;
        } else {
            visit(point);
            at += used;
        }
    }
}

}  // namespace

std::string repairUTF8(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size());
    forEachCodePoint(bytes, [&text](utf8proc_int32_t point) {
        utf8proc_uint8_t encoded[4];
        auto length = utf8proc_encode_char(point, encoded);
        text.append(reinterpret_cast<const char*>(encoded), static_cast<size_t>(length));
    });
    return text;
}

std::string trimWhiteSpace(std::string_view text) {
    constexpr std::string_view blank = " \t\n\r\v\f";
    auto begin = text.find_first_not_of(blank);
    if (begin == std::string_view::npos) return "";
    return std::string(text.substr(begin, text.find_last_not_of(blank) - begin + 1));
}

int letterCount(std::string_view text) {
    int letters = 0;
    forEachCodePoint(text, [&letters](utf8proc_int32_t point) {
        switch (utf8proc_category(point)) {
            case UTF8PROC_CATEGORY_LU:
            case UTF8PROC_CATEGORY_LL:
            case UTF8PROC_CATEGORY_LT:
            case UTF8PROC_CATEGORY_LM:
            case UTF8PROC_CATEGORY_LO: ++letters; break;
            default: break;
        }
    });
    return letters;
}

}  // namespace quintalis
