#pragma once

#include <string>
#include <string_view>

namespace quintalis {

// ASCII-only letter case: names, headers, ids and UUIDs compare this way,
// whatever the locale.
std::string asciiLowercase(std::string_view text);
bool equalsIgnoringCase(std::string_view a, std::string_view b);

// The value of a hexadecimal digit in either case; -1 for anything else.
int hexDigitValue(char c);

}  // namespace quintalis
