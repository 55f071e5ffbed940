#include "base/text.h"

#include <utf8proc.h>

#include <charconv>
#include <cmath>
#include <cstdlib>

namespace quintalis {
namespace {

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

std::string asciiLowercase(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = lower(c);
    return out;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

std::string foldCase(std::string_view text) {
    utf8proc_uint8_t* folded = nullptr;
    auto length = utf8proc_map(reinterpret_cast<const utf8proc_uint8_t*>(text.data()),
                               static_cast<utf8proc_ssize_t>(text.size()), &folded,
                               static_cast<utf8proc_option_t>(UTF8PROC_CASEFOLD | UTF8PROC_COMPOSE | UTF8PROC_STABLE));
    if (length < 0) return asciiLowercase(text);
    std::string out(reinterpret_cast<char*>(folded), static_cast<size_t>(length));
    std::free(folded);
    return out;
}

int hexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

DecimalParse parseDecimal(std::string_view text, int64_t& value) {
    std::string_view digits = text;
    if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
    // from_chars takes a "-" itself; after a "+" only digits may follow.
    if (digits.empty() || (digits.size() < text.size() && !(digits.front() >= '0' && digits.front() <= '9'))) {
        return DecimalParse::notANumber;
    }
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (end != digits.data() + digits.size()) return DecimalParse::notANumber;
    if (error == std::errc::result_out_of_range) return DecimalParse::outOfRange;
    if (error != std::errc()) return DecimalParse::notANumber;
    return DecimalParse::ok;
}

std::string trimWhiteSpace(std::string_view text) {
    constexpr std::string_view blank = " \t\n\r\v\f";
    auto begin = text.find_first_not_of(blank);
    if (begin == std::string_view::npos) return "";
    return std::string(text.substr(begin, text.find_last_not_of(blank) - begin + 1));
}

std::optional<double> parseNumber(std::string_view text) {
    std::string_view number = text;
    if (!number.empty() && number.front() == '+') number.remove_prefix(1);
    if (number.empty() || (number.size() < text.size() && number.front() == '-')) return std::nullopt;
    double value = 0;
    auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (error != std::errc() || end != number.data() + number.size() || !std::isfinite(value)) return std::nullopt;
    return value;
}

}  // namespace quintalis
