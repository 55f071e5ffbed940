#pragma once

#include <stdexcept>
#include <string>

#include "base/json.h"

namespace quintalis::mcp {

// A tools/call for a name the server does not offer.
class UnknownTool : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The tools an MCP server offers. Calls may come from several threads at once.
class ToolBox {
public:
    virtual ~ToolBox() = default;
    // The tools/list entries: {"name", "title", "description", "inputSchema"}.
    virtual JSON definitions() const = 0;
    // A CallToolResult. A failure the model can act on is a result with
    // "isError" true, not an exception; throws UnknownTool for a name not
    // in definitions().
    virtual JSON call(const std::string& name, const JSON& arguments) = 0;
};

}  // namespace quintalis::mcp
