#include "base/http_client.h"

#include <curl/curl.h>

#include <algorithm>
#include <memory>
#include <mutex>

#include "base/text.h"

namespace quintalis {
namespace {

size_t appendBody(char* data, size_t size, size_t count, void* reply) {
    auto& body = static_cast<HTTPReply*>(reply)->body;
    if (body.size() + size * count > kMaxHTTPBody) return 0;  // ends the transfer with an error
    body.append(data, size * count);
    return size * count;
}

long timeoutMilliseconds(Duration timeout) {
    return std::max<long>(1, static_cast<long>(std::chrono::ceil<std::chrono::milliseconds>(timeout).count()));
}

size_t addHeader(char* data, size_t size, size_t count, void* reply) {
    std::string_view line(data, size * count);
    auto colon = line.find(':');
    if (colon != std::string_view::npos) {
        std::string_view value = line.substr(colon + 1);
        while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
        while (!value.empty() && (value.back() == '\r' || value.back() == '\n' || value.back() == ' ')) {
            value.remove_suffix(1);
        }
        static_cast<HTTPReply*>(reply)->headers[asciiLowercase(line.substr(0, colon))] = std::string(value);
    }
    return size * count;
}

// Runs the transfer on a multi handle of its own, whose poll a cancel wakes.
CURLcode performCancellable(CURL* handle, const Cancellation& stop) {
    std::unique_ptr<CURLM, CURLMcode (*)(CURLM*)> multi(curl_multi_init(), curl_multi_cleanup);
    if (!multi) throw Unreachable("cannot start an HTTP request");
    curl_multi_add_handle(multi.get(), handle);
    struct Detach {
        CURLM* multi;
        CURL* handle;
        ~Detach() { curl_multi_remove_handle(multi, handle); }
    } detach{multi.get(), handle};
    auto waking = stop.onCancel([multi = multi.get()] { curl_multi_wakeup(multi); });
    int running = 1;
    while (true) {
        if (curl_multi_perform(multi.get(), &running) != CURLM_OK) return CURLE_FAILED_INIT;
        if (running == 0) break;
        stop.check();
        curl_multi_poll(multi.get(), nullptr, 0, 1000, nullptr);
        stop.check();
    }
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(multi.get(), &left)) {
        if (message->msg == CURLMSG_DONE && message->easy_handle == handle) return message->data.result;
    }
    return CURLE_FAILED_INIT;
}

HTTPReply perform(const std::string& url, const std::string* json, Duration timeout, const Cancellation& stop) {
    std::unique_ptr<CURL, void (*)(CURL*)> curl(curl_easy_init(), curl_easy_cleanup);
    if (!curl) throw Unreachable("cannot start an HTTP request");
    HTTPReply reply;
    char problem[CURL_ERROR_SIZE] = "";
    curl_slist* headers = nullptr;
    if (json) headers = curl_slist_append(headers, "Content-Type: application/json");
    std::unique_ptr<curl_slist, void (*)(curl_slist*)> headerList(headers, curl_slist_free_all);
    CURL* handle = curl.get();
    curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, timeoutMilliseconds(timeout));
    curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, problem);
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, appendBody);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &reply);
    curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, addHeader);
    curl_easy_setopt(handle, CURLOPT_HEADERDATA, &reply);
    if (json) {
        curl_easy_setopt(handle, CURLOPT_POSTFIELDS, json->data());
        curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(json->size()));
        curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers);
    }
    stop.check();
    CURLcode result = performCancellable(handle, stop);
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &reply.status);
    if (result != CURLE_OK || reply.status == 0) {
        throw Unreachable(problem[0] ? problem : curl_easy_strerror(result));
    }
    return reply;
}

}  // namespace

HTTPClient::HTTPClient() {
    // Not thread-safe itself; once for the process, before any request.
    static std::once_flag ready;
    std::call_once(ready, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

HTTPReply HTTPClient::get(const std::string& url, Duration timeout, const Cancellation& stop) {
    return perform(url, nullptr, timeout, stop);
}

HTTPReply HTTPClient::post(const std::string& url, const std::string& json, Duration timeout, const Cancellation& stop) {
    return perform(url, &json, timeout, stop);
}

std::string loopbackURL(uint16_t port) { return "http://127.0.0.1:" + std::to_string(port); }

std::string percentEncoded(std::string_view text) {
    static const char* const kHex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                     c == '.' || c == '_' || c == '~';
        if (plain) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

}  // namespace quintalis
