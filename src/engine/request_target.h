#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace quintalis {

struct RequestTarget {
    std::string path;
    std::map<std::string, std::string> query;
};

// Splits a request target ("/screenshot?format=png") into its percent-decoded
// path and query items. Nothing when the target is not a valid URL reference
// (a space, a raw non-ASCII byte, a stray "%"...).
std::optional<RequestTarget> parseRequestTarget(std::string_view target);

// The authority ("127.0.0.1:7390") of an absolute-form target
// ("http://127.0.0.1:7390/status"); nothing for a target that is a path.
std::optional<std::string_view> targetAuthority(std::string_view target);

// Decodes %XX escapes; "+" stays "+". Nothing when an escape is malformed.
std::optional<std::string> percentDecode(std::string_view text);

}  // namespace quintalis
