#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "base/json.h"

namespace quintalis::mcp {

// JSON-RPC 2.0 as MCP carries it: what a message from the client is, and the
// bytes of each reply. Pure functions, no I/O.
namespace jsonrpc {

inline constexpr int kParseError = -32700;
inline constexpr int kInvalidRequest = -32600;
inline constexpr int kMethodNotFound = -32601;
inline constexpr int kInvalidParams = -32602;
inline constexpr int kInternalError = -32603;

struct Message {
    // A request expects an answer, a notification never gets one, a
    // response answers a request of ours, and anything else is invalid.
    enum class Kind { request, notification, response, invalid };
    Kind kind = Kind::invalid;
    JSON id;  // a request's string or number id; null otherwise
    std::string method;
    JSON params;  // an object, an array, or null when absent
};

// What one parsed JSON value is as a message.
Message classify(const JSON& value);

JSON result(const JSON& id, JSON result);
JSON error(const JSON& id, int code, const std::string& message, std::optional<JSON> data = std::nullopt);

// One message as one line: compact, UTF-8 (invalid bytes replaced, so a
// reply is always valid JSON), newlines only escaped, ending in "\n".
std::string line(const JSON& message);

}  // namespace jsonrpc
}  // namespace quintalis::mcp
