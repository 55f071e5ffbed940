#include "app/model/http_get.h"

#include <curl/curl.h>

#include <mutex>

namespace quintalis {
namespace {

constexpr size_t kMaxBody = 64 << 20;

size_t appendBody(char* data, size_t size, size_t count, void* target) {
    auto* body = static_cast<std::string*>(target);
    if (body->size() + size * count > kMaxBody) return 0;  // ends the transfer with an error
    body->append(data, size * count);
    return size * count;
}

}  // namespace

std::optional<HTTPAnswer> httpGet(const std::string& url, Duration timeout) {
    static std::once_flag curlReady;
    std::call_once(curlReady, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    CURL* curl = curl_easy_init();
    if (!curl) return std::nullopt;
    HTTPAnswer answer;
    long milliseconds = std::max<long>(1, std::chrono::duration_cast<std::chrono::milliseconds>(timeout).count());
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, milliseconds);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, appendBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &answer.body);
    CURLcode result = curl_easy_perform(curl);
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &answer.status);
    curl_easy_cleanup(curl);
    if (result != CURLE_OK || answer.status == 0) return std::nullopt;
    return answer;
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
