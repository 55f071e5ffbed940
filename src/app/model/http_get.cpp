#include "app/model/http_get.h"

#include "base/http_client.h"

namespace quintalis {

std::optional<HTTPAnswer> httpGet(const std::string& url, Duration timeout) {
    try {
        auto reply = HTTPClient().get(url, timeout);
        return HTTPAnswer{reply.status, std::move(reply.body)};
    } catch (const Unreachable&) {
        return std::nullopt;
    }
}

std::optional<JSON> getJSON(const std::string& url, Duration timeout) {
    auto answer = httpGet(url, timeout);
    if (!answer) return std::nullopt;
    auto body = parseJSON(answer->body);
    if (!body || !body->is_object()) return std::nullopt;
    return body;
}

std::string joinURL(const std::string& base, const std::string& path) {
    std::string url = base;
    while (!url.empty() && url.back() == '/') url.pop_back();
    return url + "/" + path;
}

}  // namespace quintalis
