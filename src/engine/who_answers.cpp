#include "engine/who_answers.h"

#include <memory>
#include <mutex>
#include <thread>

#include "base/http_client.h"
#include "base/json.h"
#include "base/semaphore.h"

namespace quintalis {
namespace {

constexpr auto kRequestTimeout = std::chrono::milliseconds(800);
constexpr auto kOverallWait = std::chrono::milliseconds(1200);

// Shared between the waiting caller and the request, which may outlive the
// wait; a late answer lands here and is ignored.
struct Box {
    std::mutex mutex;
    std::optional<std::string> name;
    bool closed = false;  // the caller stopped waiting
    Semaphore answered;
};

void request(uint16_t port, const std::shared_ptr<Box>& box) {
    // Any HTTP answer counts, whatever its status; no answer at all names
    // nobody, and is reported at once so a free port costs no waiting.
    try {
        auto reply = HTTPClient().get(loopbackURL(port) + "/status", kRequestTimeout);
        std::lock_guard lock(box->mutex);
        if (!box->closed) box->name = nameOfStatusReply(reply.body);
    } catch (const Unreachable&) {
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
