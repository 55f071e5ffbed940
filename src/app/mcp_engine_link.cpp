#include "app/mcp_engine_link.h"

#include <future>

#include "base/log.h"

namespace quintalis {

using namespace std::chrono_literals;

MCPEngineLink::MCPEngineLink(Engine& engine, HTTPClient& http, HostEnvironment& host, Clock& clock,
                             MainThread& mainThread)
    : engine_(engine),
      http_(http),
      clock_(clock),
      mainThread_(mainThread),
      engineVariable_(host.variable("QUINTALIS_ENGINE_URL")),
      airplayVariable_(host.variable("QUINTALIS_AIRPLAY_URL")),
      configuredEngineURL_(serviceURL(engineVariable_, engine.port())),
      configuredAirPlayURL_(serviceURL(airplayVariable_, engine.airplayPort())) {}

bool MCPEngineLink::answers(const std::string& url) {
    try {
        http_.get(url + "/status", 1500ms);
        return true;
    } catch (const Unreachable&) {
        return false;
    }
}

void MCPEngineLink::connect() {
    // Port 0 names no engine to find: it asks for a port of this process's own.
    if (engine_.port() != 0 && answers(configuredEngineURL_)) {
        log("mcp: using the engine at " + configuredEngineURL_);
        return;
    }
    log("mcp: no engine answers at " + configuredEngineURL_ + ", so this process starts one until its client goes");
    startOwn();
}

void MCPEngineLink::startOwn() {
    {
        std::lock_guard lock(mutex_);
        startedAt_ = clock_.now();
    }
    std::promise<void> started;
    mainThread_.post([this, &started] {
        engine_.start();
        started.set_value();
    });
    started.get_future().wait();
    auto mode = engine_.mode();
    if (mode.kind == Engine::Mode::Kind::failed) log("mcp: the engine did not start: " + mode.text);
}

std::string MCPEngineLink::engineURL() const {
    if (!engineVariable_) {
        if (auto bound = engine_.listeningPort()) return loopbackURL(*bound);
    }
    return configuredEngineURL_;
}

std::string MCPEngineLink::airplayURL() const {
    if (!airplayVariable_) {
        if (auto bound = engine_.airplayListeningPort()) return loopbackURL(*bound);
    }
    return configuredAirPlayURL_;
}

std::optional<std::string> MCPEngineLink::revive() {
    std::lock_guard lock(reviving_);
    // Another caller may have revived it while this one waited.
    if (answers(engineURL())) return "Quintalis answers at " + engineURL() + " again.";
    // Whatever an earlier revival found, another engine or a lost race for
    // the port, this loss is met the same way; only an engine of this
    // process's own that stopped answering leaves nothing to start.
    if (engine_.mode() == Engine::Mode::own()) return std::nullopt;
    log("mcp: the engine at " + engineURL() + " went away; starting this process's own");
    startOwn();
    if (engine_.mode() == Engine::Mode::own()) {
        return "This server has started its own Quintalis engine at " + engineURL() + ".";
    }
    if (answers(engineURL())) return "Another Quintalis engine took its place at " + engineURL() + ".";
    return std::nullopt;
}

bool MCPEngineLink::starting() const {
    std::lock_guard lock(mutex_);
    return startedAt_ && clock_.now() - *startedAt_ < kStartingFor;
}

}  // namespace quintalis
