#include "engine/who_answers.h"

#include <curl/curl.h>

#include <memory>
#include <mutex>
#include <thread>

#include "base/json.h"
#include "base/semaphore.h"

namespace quintalis {
namespace {

constexpr long kRequestTimeoutMs = 800;
constexpr auto kOverallWait = std::chrono::milliseconds(1200);

// Shared between the waiting caller and the request, which may outlive the
// wait; a late answer lands here and is ignored.
struct Box {
    std::mutex mutex;
    std::optional<std::string> name;
    bool closed = false;  // the caller stopped waiting
    Semaphore answered;
};

size_t appendBody(char* data, size_t size, size_t count, void* target) {
    static_cast<std::string*>(target)->append(data, size * count);
    return size * count;
}

void request(uint16_t port, const std::shared_ptr<Box>& box) {
    static std::once_flag curlReady;
    std::call_once(curlReady, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    CURL* curl = curl_easy_init();
    if (!curl) {
        box->answered.signal();
        return;
    }
    std::string url = "http://127.0.0.1:" + std::to_string(port) + "/status";
    std::string body;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, kRequestTimeoutMs);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, appendBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
    CURLcode result = curl_easy_perform(curl);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_cleanup(curl);
    // Any HTTP answer counts, whatever its status; no answer at all names
    // nobody, and is reported at once so a free port costs no waiting.
    if (result == CURLE_OK && status != 0) {
        std::lock_guard lock(box->mutex);
        if (!box->closed) box->name = nameOfStatusReply(body);
    }
    box->answered.signal();
}

}  // namespace

std::string nameOfStatusReply(const std::string& body) {
    JSON reply = parseJSON(body).value_or(JSON::object());
    if (!reply.is_object()) reply = JSON::object();
    if (auto app = reply.find("app"); app != reply.end() && app->is_string()) {
        std::string name = app->get<std::string>();
        return name == "quintalis-mirror" ? "Quintalis Mirror" : name;
    }
    if (reply.contains("bluetooth")) return "Skiffline";
    return "another app";
}

std::optional<std::string> whoAnswers(uint16_t port) {
    auto box = std::make_shared<Box>();
    std::thread([port, box] { request(port, box); }).detach();
    box->answered.waitFor(kOverallWait);
    std::lock_guard lock(box->mutex);
    box->closed = true;
    return box->name;
}

}  // namespace quintalis
