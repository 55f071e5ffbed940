#include "engine/browser_gate.h"

#include "base/log.h"
#include "base/text.h"

namespace quintalis {

bool isLoopbackName(const std::string& hostAndPort) {
    std::string name = asciiLowercase(hostAndPort);
    // Strip a port: after the bracket for IPv6, after the last colon otherwise.
    if (!name.empty() && name.front() == '[') {
        auto close = name.find(']');
        if (close == std::string::npos) return false;
        std::string rest = name.substr(close + 1);
        if (!rest.empty() && rest.front() != ':') return false;
        name = name.substr(0, close + 1);
    } else if (auto colon = name.find(':'); colon != std::string::npos) {
        name = name.substr(0, colon);
    }
    return name == "127.0.0.1" || name == "localhost" || name == "[::1]";
}

bool isBrowserRequest(const RequestSource& source) {
    if (source.origin || source.referer) return true;
    if (source.fetchSite && asciiLowercase(*source.fetchSite) != "none") return true;
    if (source.host && !isLoopbackName(*source.host)) return true;
    return source.targetAuthority && !isLoopbackName(*source.targetAuthority);
}

std::string describeSource(const RequestSource& source) {
    constexpr size_t kLongest = 120;
    std::string text;
    auto add = [&text](const char* name, const std::optional<std::string>& value) {
        if (!value) return;
        if (!text.empty()) text += "; ";
        text += std::string(name) + ": " + loggable(*value, kLongest);
    };
    add("Origin", source.origin);
    add("Host", source.host);
    add("Sec-Fetch-Site", source.fetchSite);
    add("Referer", source.referer);
    add("target", source.targetAuthority);
    return text;
}

}  // namespace quintalis
