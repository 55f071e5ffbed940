#include "app/model/unicode_text.h"

#include <utf8proc.h>

#include "base/characters.h"

namespace quintalis {

std::string repairUTF8(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size());
    for (char32_t point : codePoints(bytes)) {
        utf8proc_uint8_t encoded[4];
        auto length = utf8proc_encode_char(static_cast<utf8proc_int32_t>(point), encoded);
        text.append(reinterpret_cast<const char*>(encoded), static_cast<size_t>(length));
    }
    return text;
}

int letterCount(std::string_view text) {
    int letters = 0;
    for (char32_t point : codePoints(text)) {
        switch (utf8proc_category(static_cast<utf8proc_int32_t>(point))) {
            case UTF8PROC_CATEGORY_LU:
            case UTF8PROC_CATEGORY_LL:
            case UTF8PROC_CATEGORY_LT:
            case UTF8PROC_CATEGORY_LM:
            case UTF8PROC_CATEGORY_LO: ++letters; break;
            default: break;
        }
    }
    return letters;
}

}  // namespace quintalis
