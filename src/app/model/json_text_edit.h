#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quintalis {

// Sets `object[outer][inner]` to `value` (JSON text) by editing the text of
// a JSON document in place, so that everything else in it stays exactly as
// the user wrote it: numbers too big or too precise for a double, key order,
// spacing. An `outer` member that is not an object is replaced by one that
// holds only `inner`. The document must be a JSON object; nothing comes back
// for anything else. Of members given twice, the last counts, as it does
// for the parsers that read the file.
std::optional<std::string> setNestedMember(std::string_view document, std::string_view outer, std::string_view inner,
                                           std::string_view value);

}  // namespace quintalis
