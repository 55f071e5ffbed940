#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

namespace quintalis {

// nlohmann's default object keeps its keys sorted, which the engine's
// replies promise their clients.
using JSON = nlohmann::json;

// Compact JSON with sorted keys, a forward slash inside strings written as
// "\/" as the engine's clients have always received it, whole numbers
// without a fraction (44, not 44.0) however they were computed, and invalid
// UTF-8 replaced rather than thrown.
std::string serializeJSON(const JSON& value);

// Parses a whole JSON text; nothing when it is not valid JSON.
std::optional<JSON> parseJSON(std::string_view text);

// True only when the object has the member and it is the Boolean true
// (request flags such as "force" and "fraction": 1 or "yes" do not count).
bool isTrue(const JSON& object, const std::string& name);

}  // namespace quintalis
