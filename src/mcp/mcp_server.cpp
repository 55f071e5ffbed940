#include "mcp/mcp_server.h"

#include <algorithm>

#include "base/log.h"

namespace quintalis::mcp {
namespace {

const char* const kVersionKey = "io.modelcontextprotocol/protocolVersion";

// A request the protocol refuses; becomes a JSON-RPC error.
struct ProtocolError {
    int code;
    std::string message;
    std::optional<JSON> data;
};

std::vector<std::string> allVersions() {
    auto versions = MCPServer::handshakeVersions();
    versions.push_back(MCPServer::kStatelessVersion);
    return versions;
}

bool isBlank(std::string_view line) {
    return std::all_of(line.begin(), line.end(), [](char c) { return c == ' ' || c == '\t' || c == '\r'; });
}

std::string describeClient(const JSON& info) {
    std::string name;
    if (info.is_object() && info.contains("name") && info["name"].is_string()) name = info["name"];
    if (name.empty()) return "an unnamed client";
    if (info.contains("version") && info["version"].is_string()) name += " " + info["version"].get<std::string>();
    return name;
}

}  // namespace

MCPServer::MCPServer(ToolBox& tools, Identity identity, Send send, RunCall runCall)
    : tools_(tools), identity_(std::move(identity)), send_(std::move(send)), runCall_(std::move(runCall)) {}

const std::vector<std::string>& MCPServer::handshakeVersions() {
    static const std::vector<std::string> versions{"2025-03-26", "2025-06-18", "2025-11-25"};
    return versions;
}

void MCPServer::receive(std::string_view line) {
    if (isBlank(line)) return;
    auto parsed = parseJSON(line);
    if (!parsed) {
        send_(jsonrpc::line(jsonrpc::error(nullptr, jsonrpc::kParseError, "Parse error: the line is not JSON")));
        return;
    }
    if (parsed->is_array()) {
        if (parsed->empty()) {
            send_(jsonrpc::line(jsonrpc::error(nullptr, jsonrpc::kInvalidRequest, "Invalid Request: empty batch")));
            return;
        }
        // A batch is answered as a whole, so its tool calls run here, one after another.
        JSON replies = JSON::array();
        for (const auto& element : *parsed) {
            JSON reply = answer(jsonrpc::classify(element));
            if (!reply.is_null()) replies.push_back(std::move(reply));
        }
        if (!replies.empty()) send_(jsonrpc::line(replies));
        return;
    }
    auto message = jsonrpc::classify(*parsed);
    if (message.kind == jsonrpc::Message::Kind::request && message.method == "tools/call") {
        runCall_([this, message] { send_(jsonrpc::line(answer(message))); });
        return;
    }
    JSON reply = answer(message);
    if (!reply.is_null()) send_(jsonrpc::line(reply));
}

void MCPServer::refuseOversizedLine() {
    send_(jsonrpc::line(
        jsonrpc::error(nullptr, jsonrpc::kInvalidRequest, "Invalid Request: the line is too long to be one message")));
}

JSON MCPServer::answer(const jsonrpc::Message& message) {
    using Kind = jsonrpc::Message::Kind;
    if (message.kind == Kind::invalid) return jsonrpc::error(message.id, jsonrpc::kInvalidRequest, "Invalid Request");
    if (message.kind != Kind::request) return nullptr;  // notifications and responses are never answered
    try {
        bool stateless = false;
        const JSON* meta = nullptr;
        if (message.params.is_object()) {
            auto found = message.params.find("_meta");
            if (found != message.params.end() && found->is_object()) meta = &*found;
        }
        if (meta && meta->contains(kVersionKey)) {
            const JSON& version = (*meta)[kVersionKey];
            auto supported = allVersions();
            if (!version.is_string() || std::find(supported.begin(), supported.end(), version) == supported.end()) {
                throw ProtocolError{jsonrpc::kInvalidParams, "Unsupported protocol version",
                                    JSON{{"supported", supported}, {"requested", version}}};
            }
            stateless = version == kStatelessVersion;
        }
        JSON result = dispatch(message);
        if (stateless || message.method == "server/discover") result["resultType"] = "complete";
        return jsonrpc::result(message.id, std::move(result));
    } catch (const ProtocolError& error) {
        return jsonrpc::error(message.id, error.code, error.message, error.data);
    }
}

JSON MCPServer::dispatch(const jsonrpc::Message& message) {
    const std::string& method = message.method;
    if (method == "initialize") return initialize(message.params);
    if (method == "ping") return JSON::object();
    if (method == "tools/list") return JSON{{"tools", tools_.definitions()}};
    if (method == "tools/call") return callTool(message.params);
    if (method == "server/discover") return discover();
    throw ProtocolError{jsonrpc::kMethodNotFound, "Method not found: " + method, std::nullopt};
}

JSON MCPServer::initialize(const JSON& params) const {
    if (!params.is_object() || !params.contains("protocolVersion") || !params["protocolVersion"].is_string()) {
        throw ProtocolError{jsonrpc::kInvalidParams, "initialize needs params.protocolVersion", std::nullopt};
    }
    const auto& versions = handshakeVersions();
    std::string asked = params["protocolVersion"];
    std::string agreed = std::find(versions.begin(), versions.end(), asked) != versions.end() ? asked : versions.back();
    log("mcp: " + describeClient(params.value("clientInfo", JSON())) + " asks for protocol " + asked + ", answering " +
        agreed);
    return JSON{{"protocolVersion", agreed},
                {"capabilities", JSON{{"tools", JSON{{"listChanged", false}}}}},
                {"serverInfo", serverInfo()},
                {"instructions", identity_.instructions}};
}

JSON MCPServer::discover() const {
    return JSON{{"supportedVersions", allVersions()},
                {"capabilities", JSON{{"tools", JSON{{"listChanged", false}}}}},
                {"serverInfo", serverInfo()},
                {"instructions", identity_.instructions}};
}

JSON MCPServer::serverInfo() const {
    return JSON{{"name", identity_.name}, {"title", identity_.title}, {"version", identity_.version}};
}

JSON MCPServer::callTool(const JSON& params) {
    if (!params.is_object() || !params.contains("name") || !params["name"].is_string()) {
        throw ProtocolError{jsonrpc::kInvalidParams, "tools/call needs params.name, the name of a tool", std::nullopt};
    }
    std::string name = params["name"];
    JSON arguments = params.value("arguments", JSON::object());
    if (arguments.is_null()) arguments = JSON::object();
    if (!arguments.is_object()) {
        throw ProtocolError{jsonrpc::kInvalidParams, "tools/call arguments must be an object", std::nullopt};
    }
    try {
        return tools_.call(name, arguments);
    } catch (const UnknownTool&) {
        throw ProtocolError{jsonrpc::kInvalidParams, "Unknown tool: " + name, std::nullopt};
    } catch (const std::exception& error) {
        // Still the model's to read: a tool that broke is a failed call, not a broken protocol.
        return JSON{{"content", JSON::array({JSON{{"type", "text"}, {"text", std::string("Quintalis failed: ") + error.what()}}})},
                    {"isError", true}};
    }
}

}  // namespace quintalis::mcp
