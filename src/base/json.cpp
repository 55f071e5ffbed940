#include "base/json.h"

#include <cmath>

namespace quintalis {
namespace {

// Every double in this range is exactly an int64_t; beyond it a whole value
// keeps its exponent form, which any reader takes as the same number.
constexpr double kLargestExactInteger = 9007199254740992.0;  // 2^53

bool isWholeFloat(const JSON& value) {
    if (!value.is_number_float()) return false;
    double number = value.get<double>();
    return std::isfinite(number) && number == std::trunc(number) && std::fabs(number) <= kLargestExactInteger;
}

bool hasWholeFloat(const JSON& value) {
    if (isWholeFloat(value)) return true;
    if (value.is_structured()) {
        for (const auto& item : value) {
            if (hasWholeFloat(item)) return true;
        }
    }
    return false;
}

// Clients read "x": 44.0 and "x": 44 alike, but people and the older
// replies write 44; turn whole doubles into integers before printing.
void wholeFloatsToIntegers(JSON& value) {
    if (isWholeFloat(value)) {
        value = static_cast<int64_t>(value.get<double>());
    } else if (value.is_structured()) {
        for (auto& item : value) wholeFloatsToIntegers(item);
    }
}

std::string compact(const JSON& value) { return value.dump(-1, ' ', false, JSON::error_handler_t::replace); }

}  // namespace

std::string serializeJSON(const JSON& value) {
    std::string text;
    if (hasWholeFloat(value)) {
        JSON copy = value;
        wholeFloatsToIntegers(copy);
        text = compact(copy);
    } else {
        text = compact(value);
    }
    // A slash can only occur inside a string in JSON text, so escaping every
    // one in the output escapes exactly the ones in strings.
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
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
