#pragma once

#include <string>

namespace quintalis {

// Who serves the engine port, as the last Engine::start found.
struct EngineMode {
    enum class Kind { external, failed, stopped, own };

    Kind kind = Kind::stopped;
    std::string text;  // external: the other engine's name; failed: the reason

    static EngineMode external(std::string name) { return {Kind::external, std::move(name)}; }
    static EngineMode failed(std::string message) { return {Kind::failed, std::move(message)}; }
    static EngineMode stopped() { return {Kind::stopped, {}}; }
    static EngineMode own() { return {Kind::own, {}}; }

    bool operator==(const EngineMode&) const = default;
};

}  // namespace quintalis
