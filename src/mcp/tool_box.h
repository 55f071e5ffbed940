#pragma once

#include <functional>
#include <optional>
#include <stdexcept>
#include <string>

#include "base/cancellation.h"
#include "base/json.h"

namespace quintalis::mcp {

// A tools/call for a name the server does not offer.
class UnknownTool : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// What a running call has beside its arguments: whether its client has
// cancelled it, and a way to say how far along it is.
struct CallContext {
    const Cancellation& stop;
    // Sends a progress notification when the client asked for them, and
    // does nothing otherwise. `total` may be unknown.
    std::function<void(double done, std::optional<double> total, const std::string& message)> progress;
    // Whether the client asked for progress, so a long call keeps it waiting.
    bool progressAsked = false;
};

// The tools an MCP server offers. Calls may come from several threads at once.
class ToolBox {
public:
    virtual ~ToolBox() = default;
    // The tools/list entries: {"name", "title", "description", "inputSchema"}.
    virtual JSON definitions() const = 0;
    // A CallToolResult. A failure the model can act on is a result with
    // "isError" true, not an exception; throws UnknownTool for a name not
    // in definitions(), and Cancelled once the call's stop is cancelled.
    virtual JSON call(const std::string& name, const JSON& arguments, CallContext& context) = 0;
};

}  // namespace quintalis::mcp
