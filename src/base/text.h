#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quintalis {

// ASCII-only letter case: names, headers, ids and UUIDs compare this way,
// whatever the locale.
std::string asciiLowercase(std::string_view text);
bool equalsIgnoringCase(std::string_view a, std::string_view b);

// The value of a hexadecimal digit in either case; -1 for anything else.
int hexDigitValue(char c);

// A whole decimal number: digits with at most one leading "+" or "-", and
// nothing else around them (ports, Content-Length, query numbers).
enum class DecimalParse { ok, notANumber, outOfRange };
DecimalParse parseDecimal(std::string_view text, int64_t& value);

}  // namespace quintalis
