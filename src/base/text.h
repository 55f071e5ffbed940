#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quintalis {

// ASCII-only letter case: names, headers, ids and UUIDs compare this way,
// whatever the locale.
std::string asciiLowercase(std::string_view text);
bool equalsIgnoringCase(std::string_view a, std::string_view b);

// Letter case removed for all of Unicode (full case folding, so "Straße"
// and "STRASSE" agree), in composed form, for comparing names people type:
// phone names, window owners and titles. Text that is not UTF-8 is folded
// as ASCII.
std::string foldCase(std::string_view text);

// The text without leading and trailing white space and line breaks (ASCII
// blanks: a name or a file's line keeps any other character it ends in).
std::string trimWhiteSpace(std::string_view text);

// The value of a hexadecimal digit in either case; -1 for anything else.
int hexDigitValue(char c);

// A whole decimal number: digits with at most one leading "+" or "-", and
// nothing else around them (ports, Content-Length, query numbers).
enum class DecimalParse { ok, notANumber, outOfRange };
DecimalParse parseDecimal(std::string_view text, int64_t& value);

// A finite decimal number, with a fraction or an exponent if need be and at
// most one leading sign (seconds and milliseconds on command lines and in
// queries); nothing for anything else, "inf" and "nan" included.
std::optional<double> parseNumber(std::string_view text);

}  // namespace quintalis
