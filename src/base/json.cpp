#include "base/json.h"

#include <cmath>
#include <nlohmann/detail/input/json_sax.hpp>

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

// Builds the value as nlohmann's own reader does, but gives up at the first
// array or object past the depth limit. Events are handed on one by one, so
// nothing here recurses either.
class BoundedReader {
public:
    explicit BoundedReader(JSON& result) : builder_(result, false) {}
    bool tooDeep() const { return tooDeep_; }

    bool null() { return builder_.null(); }
    bool boolean(bool value) { return builder_.boolean(value); }
    bool number_integer(JSON::number_integer_t value) { return builder_.number_integer(value); }
    bool number_unsigned(JSON::number_unsigned_t value) { return builder_.number_unsigned(value); }
    bool number_float(JSON::number_float_t value, const std::string& text) { return builder_.number_float(value, text); }
    bool string(std::string& value) { return builder_.string(value); }
    bool binary(JSON::binary_t& value) { return builder_.binary(value); }
    bool key(std::string& value) { return builder_.key(value); }
    bool start_object(std::size_t size) { return deeper() && builder_.start_object(size); }
    bool end_object() { return shallower() && builder_.end_object(); }
    bool start_array(std::size_t size) { return deeper() && builder_.start_array(size); }
    bool end_array() { return shallower() && builder_.end_array(); }
    bool parse_error(std::size_t position, const std::string& token, const nlohmann::detail::exception& error) {
        return builder_.parse_error(position, token, error);
    }

private:
    bool deeper() {
        tooDeep_ = ++depth_ > kMaxJSONDepth;
        return !tooDeep_;
    }
    bool shallower() {
        --depth_;
        return true;
    }

    nlohmann::detail::json_sax_dom_parser<JSON> builder_;
    int depth_ = 0;
    bool tooDeep_ = false;
};

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

JSONReading readJSON(std::string_view text) {
    JSON value;
    BoundedReader reader(value);
    bool whole = JSON::sax_parse(text.begin(), text.end(), &reader);
    if (!whole) return {std::nullopt, reader.tooDeep()};
    return {std::move(value), false};
}

std::optional<JSON> parseJSON(std::string_view text) { return readJSON(text).value; }

bool isTrue(const JSON& object, const std::string& name) {
    if (!object.is_object()) return false;
    auto found = object.find(name);
    return found != object.end() && found->is_boolean() && found->get<bool>();
}

}  // namespace quintalis
