#include "base/characters.h"

#include <utf8proc.h>

#include <cstdio>

namespace quintalis {
namespace {

void appendUTF8(std::string& out, utf8proc_int32_t point) {
    utf8proc_uint8_t buffer[4];
    auto length = utf8proc_encode_char(point, buffer);
    out.append(reinterpret_cast<char*>(buffer), static_cast<size_t>(length));
}

}  // namespace

std::optional<std::string> typedTextTooLong(std::string_view text) {
    // Counted as userPerceivedCharacters splits, but only up to one past the
    // limit and without keeping the pieces: the text may be megabytes.
    auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
    const auto size = static_cast<utf8proc_ssize_t>(text.size());
    utf8proc_int32_t state = 0;
    utf8proc_int32_t previous = -1;
    size_t count = 0;
    for (utf8proc_ssize_t at = 0; at < size && count <= kMaxTypedCharacters;) {
        utf8proc_int32_t point = 0;
        utf8proc_ssize_t used = utf8proc_iterate(bytes + at, size - at, &point);
        if (used <= 0) {
            point = 0xFFFD;
            used = 1;
        }
        if (previous < 0 || utf8proc_grapheme_break_stateful(previous, point, &state)) ++count;
        previous = point;
        at += used;
    }
    if (count <= kMaxTypedCharacters) return std::nullopt;
    return "text is too long (at most " + std::to_string(kMaxTypedCharacters) + " characters)";
}

std::u32string codePoints(std::string_view text) {
    std::u32string points;
    auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
    utf8proc_ssize_t at = 0;
    auto size = static_cast<utf8proc_ssize_t>(text.size());
    while (at < size) {
        utf8proc_int32_t point = 0;
        utf8proc_ssize_t used = utf8proc_iterate(bytes + at, size - at, &point);
        if (used <= 0) {
            points.push_back(0xFFFD);
            at += 1;
        } else {
            points.push_back(static_cast<char32_t>(point));
            at += used;
        }
    }
    return points;
}

std::vector<std::string> userPerceivedCharacters(std::string_view text) {
    std::vector<std::string> characters;
    utf8proc_int32_t state = 0;
    utf8proc_int32_t previous = -1;
    for (char32_t scalar : codePoints(text)) {
        auto point = static_cast<utf8proc_int32_t>(scalar);
        if (previous < 0 || utf8proc_grapheme_break_stateful(previous, point, &state)) characters.emplace_back();
        appendUTF8(characters.back(), point);
        previous = point;
    }
    return characters;
}

std::string debugRepresentation(std::string_view character) {
    std::string out = "\"";
    for (char32_t scalar : codePoints(character)) {
        auto point = static_cast<utf8proc_int32_t>(scalar);
        switch (point) {
            case 0: out += "\\0"; continue;
            case '\t': out += "\\t"; continue;
            case '\n': out += "\\n"; continue;
            case '\r': out += "\\r"; continue;
            case '"': out += "\\\""; continue;
            case '\'': out += "\\'"; continue;
            case '\\': out += "\\\\"; continue;
            default: break;
        }
        if (utf8proc_category(point) == UTF8PROC_CATEGORY_CC) {
            char escaped[16];
            std::snprintf(escaped, sizeof escaped, "\\u{%X}", static_cast<unsigned>(point));
            out += escaped;
        } else {
            appendUTF8(out, point);
        }
    }
    return out + "\"";
}

}  // namespace quintalis
