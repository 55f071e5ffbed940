#include "base/json.h"

namespace quintalis {

std::string serializeJSON(const JSON& value) {
    std::string compact = value.dump(-1, ' ', false, JSON::error_handler_t::replace);
    // A slash can only occur inside a string in JSON text, so escaping every
    // one in the output escapes exactly the ones in strings.
    std::string out;
    out.reserve(compact.size());
    for (char c : compact) {
        if (c == '/') out += '\\';
        out += c;
    }
    return out;
}

std::optional<JSON> parseJSON(std::string_view text) {
    JSON value = JSON::parse(text.begin(), text.end(), nullptr, false);
    if (value.is_discarded()) return std::nullopt;
    return value;
}

bool isTrue(const JSON& object, const std::string& name) {
    if (!object.is_object()) return false;
    auto found = object.find(name);
    return found != object.end() && found->is_boolean() && found->get<bool>();
}

}  // namespace quintalis
