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

// How deeply arrays and objects may nest in JSON read from outside: far
// beyond any real document, and shallow enough that everything walking a
// parsed value recursively (copies, comparisons, printing) stays well within
// a thread's stack.
inline constexpr int kMaxJSONDepth = 64;
inline constexpr const char* kJSONTooDeep = "JSON nested too deeply";

// A whole JSON text read: its value, or nothing, saying whether that was
// because it nests deeper than kMaxJSONDepth. Reading stops at the first
// level too deep, so a hostile document costs neither stack nor memory.
struct JSONReading {
    std::optional<JSON> value;
    bool tooDeep = false;
};
JSONReading readJSON(std::string_view text);
// The value alone: nothing when the text is not valid JSON or nests too deeply.
std::optional<JSON> parseJSON(std::string_view text);

// True only when the object has the member and it is the Boolean true
// (request flags such as "force" and "fraction": 1 or "yes" do not count).
bool isTrue(const JSON& object, const std::string& name);

}  // namespace quintalis
