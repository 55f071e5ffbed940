#pragma once

#include <string>
#include <string_view>

namespace quintalis {

// Standard Base64 (RFC 4648, with "+", "/" and "=" padding), as JSON carries
// pictures.
std::string base64Encoded(std::string_view bytes);

}  // namespace quintalis
