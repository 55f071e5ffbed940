#pragma once

#include <optional>
#include <string>

namespace quintalis::mcp {

// Where the two services answer for this server, and the way to keep an
// engine answering when the one it used goes away. Any thread.
class EngineLink {
public:
    virtual ~EngineLink() = default;

    virtual std::string engineURL() const = 0;
    virtual std::string airplayURL() const = 0;
    // Called when nothing answers at engineURL(). Makes an engine answer
    // there again, this process's own or the one that took the port, and
    // says what happened in a sentence; nothing when no engine can be had.
    virtual std::optional<std::string> revive() = 0;
    // Whether an engine this process started is still coming up, so a
    // missing first frame or connection may be only a moment away.
    virtual bool starting() const = 0;
};

// Fixed addresses, nothing to revive: a server that uses someone else's services.
class FixedEngineLink final : public EngineLink {
public:
    FixedEngineLink(std::string engineURL, std::string airplayURL)
        : engineURL_(std::move(engineURL)), airplayURL_(std::move(airplayURL)) {}

    std::string engineURL() const override { return engineURL_; }
    std::string airplayURL() const override { return airplayURL_; }
    std::optional<std::string> revive() override { return std::nullopt; }
    bool starting() const override { return false; }

private:
    const std::string engineURL_;
    const std::string airplayURL_;
};

}  // namespace quintalis::mcp
