#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quintalis {

// Splits UTF-8 text into user-perceived characters (extended grapheme
// clusters): a CR LF pair, a letter with its combining accents and an emoji
// sequence are each one character. Invalid bytes become U+FFFD characters.
std::vector<std::string> userPerceivedCharacters(std::string_view text);

// The most characters (as a reader counts them) one request may type: the
// engine's /type, and the MCP server's type tool before it asks the engine.
inline constexpr size_t kMaxTypedCharacters = 4000;
// "text is too long (at most 4000 characters)" for longer text; else nothing.
std::optional<std::string> typedTextTooLong(std::string_view text);

// The Unicode scalar values of UTF-8 text; invalid bytes become U+FFFD.
std::u32string codePoints(std::string_view text);

// A character as a debugger shows it: between double quotes, with \0 \t \n
// \r \" \' \\ escaped and other control characters written as \u{HEX}.
std::string debugRepresentation(std::string_view character);

}  // namespace quintalis
