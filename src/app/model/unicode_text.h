#pragma once

#include <string>
#include <string_view>

namespace quintalis {

// The UTF-8 text with every invalid sequence replaced by U+FFFD, as text
// from other programs is shown.
std::string repairUTF8(std::string_view bytes);

// How many of the text's characters are letters, in any script (Unicode
// general categories L*).
int letterCount(std::string_view text);

}  // namespace quintalis
