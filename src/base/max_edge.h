#pragma once

#include <optional>
#include <string_view>

#include "base/json.h"

namespace quintalis {

// The longest side a caller asks of a picture ("maxEdge"), read alike by
// every service that takes one, so a screenshot and the pixel tap that
// follows it scale the same way: a whole number of pixels, 1 or more.
// A limit beyond any int only means "no limit" and is kept in range. Any
// other value is refused (nothing is returned) rather than read as no
// limit, which would put later pixel taps in the wrong place.
extern const char* const kMaxEdgeRule;
std::optional<int> maxEdgeFrom(double value);
std::optional<int> maxEdgeFromText(std::string_view text);  // a query item
std::optional<int> maxEdgeFromJSON(const JSON& value);      // a member of a JSON body

}  // namespace quintalis
