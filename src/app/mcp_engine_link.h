#pragma once

#include <mutex>
#include <optional>
#include <string>

#include "base/clock.h"
#include "base/main_thread.h"
#include "engine/engine.h"
#include "mcp/engine_link.h"
#include "base/http_client.h"

namespace quintalis {

// The engine an MCP server uses: the one that answers on the engine port,
// or, when none does, the one this process starts. A server never stays
// without one: when the engine it used goes away, it starts its own, or
// uses the engine that took the port meanwhile. With port 0 the addresses
// are the ports this process's services really bound.
//
// Threads: any; reviving runs one at a time, and the engine starts on
// `mainThread`, which must be running.
class MCPEngineLink final : public mcp::EngineLink {
public:
    MCPEngineLink(Engine& engine, HTTPClient& http, HostEnvironment& host, Clock& clock, MainThread& mainThread);

    // At start: uses the engine that answers, else starts this process's own.
    void connect();

    std::string engineURL() const override;
    std::string airplayURL() const override;
    std::optional<std::string> revive() override;
    bool starting() const override;

    // How long after this process starts its engine a phone may still be
    // on its way: its first frame and first connection.
    static constexpr Duration kStartingFor = std::chrono::seconds(8);

private:
    bool answers(const std::string& url);
    void startOwn();

    Engine& engine_;
    HTTPClient& http_;
    Clock& clock_;
    MainThread& mainThread_;
    const std::optional<std::string> engineVariable_;
    const std::optional<std::string> airplayVariable_;
    const std::string configuredEngineURL_;
    const std::string configuredAirPlayURL_;
    std::mutex reviving_;
    mutable std::mutex mutex_;
    std::optional<MonotonicTime> startedAt_;  // when this process started its own engine
};

}  // namespace quintalis
