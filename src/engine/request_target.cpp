#include "engine/request_target.h"

#include <cstring>

#include "base/text.h"

namespace quintalis {
namespace {

// Characters a URL reference may hold literally: unreserved, reserved and "%".
bool allowedInReference(unsigned char c) {
    if (c >= 'a' && c <= 'z') return true;
    if (c >= 'A' && c <= 'Z') return true;
    if (c >= '0' && c <= '9') return true;
    return c != '\0' && std::strchr("-._~:/?#[]@!$&'()*+,;=%", c) != nullptr;
}

}  // namespace

std::optional<std::string> percentDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        int high = i + 1 < text.size() ? hexDigitValue(text[i + 1]) : -1;
        int low = i + 2 < text.size() ? hexDigitValue(text[i + 2]) : -1;
        if (high < 0 || low < 0) return std::nullopt;
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return out;
}

std::optional<std::string_view> targetAuthority(std::string_view target) {
    target = target.substr(0, target.find('#'));
    auto scheme = target.find("://");
    if (scheme == std::string_view::npos || target.find_first_of("/?") < scheme) return std::nullopt;
    std::string_view rest = target.substr(scheme + 3);
    return rest.substr(0, rest.find_first_of("/?"));
}

std::optional<RequestTarget> parseRequestTarget(std::string_view target) {
    for (unsigned char c : target) {
        if (!allowedInReference(c)) return std::nullopt;
    }
    if (!percentDecode(target)) return std::nullopt;

    std::string_view rest = target.substr(0, target.find('#'));
    // An absolute target names its path after the authority.
    if (auto authority = targetAuthority(rest)) {
        rest = rest.substr(authority->data() + authority->size() - rest.data());
    }

    RequestTarget result;
    auto question = rest.find('?');
    result.path = *percentDecode(rest.substr(0, question));
    if (question == std::string_view::npos) return result;

    std::string_view query = rest.substr(question + 1);
    while (!query.empty()) {
        auto amp = query.find('&');
        std::string_view item = query.substr(0, amp);
        auto equals = item.find('=');
        std::string name = *percentDecode(item.substr(0, equals));
        std::string value = equals == std::string_view::npos ? "" : *percentDecode(item.substr(equals + 1));
        if (!item.empty()) result.query[name] = value;
        if (amp == std::string_view::npos) break;
        query.remove_prefix(amp + 1);
    }
    return result;
}

}  // namespace quintalis
