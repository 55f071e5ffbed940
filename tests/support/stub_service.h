#pragma once

#include <condition_variable>
#include <mutex>
#include <vector>

#include "engine/engine.h"
#include "engine/http_server.h"
#include "support/fake_platform.h"
#include "support/raw_http.h"

namespace quintalis::testing {

// A loopback HTTP service whose answers the test sets: the stand-in for
// the engine or the AirPlay capture service. Records the requested paths
// and queries.
class StubService {
public:
    StubService() : server_(0, [this](const HTTPRequest& request) { return answer(request); }) { server_.start(); }

    uint16_t port() const { return server_.boundPort(); }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port()); }

    // Every path answers this from now on.
    void answerWith(HTTPResponse response) {
        std::lock_guard lock(mutex_);
        response_ = std::move(response);
    }
    void answerJSON(const std::string& body, int status = 200) {
        HTTPResponse response;
        response.status = status;
        response.body = body;
        answerWith(response);
    }
    // Requests wait, unanswered, until released.
    void holdAnswers() {
        std::lock_guard lock(mutex_);
        held_ = true;
    }
    void releaseAnswers() {
        std::lock_guard lock(mutex_);
        held_ = false;
        released_.notify_all();
    }
    std::vector<HTTPRequest> requests() const {
        std::lock_guard lock(mutex_);
        return requests_;
    }

private:
    HTTPResponse answer(const HTTPRequest& request) {
        std::unique_lock lock(mutex_);
        requests_.push_back(request);
        released_.wait(lock, [this] { return !held_; });
        return response_;
    }

    mutable std::mutex mutex_;
    std::condition_variable released_;
    bool held_ = false;
    HTTPResponse response_ = HTTPResponse::error("not found", 404);
    std::vector<HTTPRequest> requests_;
    HTTPServer server_;  // last: stopped before the answers go
};

// The engine and the AirPlay capture service as their clients in this
// process see them: an engine that is never started, whose URLs lead to
// stub services of the test's own.
struct StubbedServices {
    StubService engineService;
    StubService airplayService;
    FakeHostEnvironment host;
    FakeBundleInfo bundle;
    MemoryDefaults defaults;
    AppInfo info{bundle, host};
    Engine engine{host, defaults, info, nullptr};

    StubbedServices() {
        host.variables["QUINTALIS_ENGINE_URL"] = engineService.url();
        host.variables["QUINTALIS_AIRPLAY_URL"] = airplayService.url();
    }
    // Leads the URL variable to a port nobody listens on.
    void takeDown(const char* variable) { host.variables[variable] = "http://127.0.0.1:" + std::to_string(freePort()); }
};

}  // namespace quintalis::testing
