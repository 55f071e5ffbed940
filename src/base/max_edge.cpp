#include "base/max_edge.h"

#include <climits>
#include <cmath>

#include "base/text.h"

namespace quintalis {

const char* const kMaxEdgeRule = "maxEdge must be a whole number of pixels, 1 or more";

std::optional<int> maxEdgeFrom(double value) {
    if (!std::isfinite(value) || value < 1 || value != std::trunc(value)) return std::nullopt;
    return value >= static_cast<double>(INT_MAX) ? INT_MAX : static_cast<int>(value);
}

std::optional<int> maxEdgeFromText(std::string_view text) {
    auto value = parseNumber(text);
    return value ? maxEdgeFrom(*value) : std::nullopt;
}

std::optional<int> maxEdgeFromJSON(const JSON& value) {
    // "1000" or true are not sizes: a body says a number as a number.
    if (!value.is_number()) return std::nullopt;
    return maxEdgeFrom(value.get<double>());
}

}  // namespace quintalis
