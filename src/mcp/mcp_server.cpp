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

const JSON* metaOf(const JSON& params) {
    if (!params.is_object()) return nullptr;
    auto found = params.find("_meta");
    return found != params.end() && found->is_object() ? &*found : nullptr;
}

// Whether a request is of the stateless revision, by the version its
// "_meta" names; one of the handshake's revisions, or none, is not.
bool isStateless(const JSON& params) {
    const JSON* meta = metaOf(params);
    if (!meta || !meta->contains(kVersionKey)) return false;
    const JSON& version = (*meta)[kVersionKey];
    auto supported = allVersions();
    if (!version.is_string() || std::find(supported.begin(), supported.end(), version) == supported.end()) {
        throw ProtocolError{MCPServer::kUnsupportedVersion, "Unsupported protocol version",
                            JSON{{"supported", supported}, {"requested", version}}};
    }
    return version == MCPServer::kStatelessVersion;
}

bool isCall(const jsonrpc::Message& message) {
    return message.kind == jsonrpc::Message::Kind::request && message.method == "tools/call";
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
    auto read = readJSON(line);
    auto& parsed = read.value;
    if (!parsed) {
        std::string why = read.tooDeep ? kJSONTooDeep : "the line is not JSON";
        send_(jsonrpc::line(jsonrpc::error(nullptr, jsonrpc::kParseError, "Parse error: " + why)));
        return;
    }
    if (parsed->is_array()) {
        if (parsed->empty()) {
            send_(jsonrpc::line(jsonrpc::error(nullptr, jsonrpc::kInvalidRequest, "Invalid Request: empty batch")));
            return;
        }
        struct Part {
            jsonrpc::Message message;
            std::shared_ptr<Cancellation> stop;
        };
        std::vector<Part> parts;
        bool calls = false;
        for (const auto& element : *parsed) {
            auto message = jsonrpc::classify(element);
            calls = calls || isCall(message);
            // A cancel in the same batch must find the calls before it.
            auto stop = isCall(message) ? startCall(message.id) : nullptr;
            parts.push_back(Part{std::move(message), std::move(stop)});
        }
        // A batch is answered as a whole; one with tool calls is answered
        // off the reader, so it holds up no other message.
        auto answerAll = [this, parts = std::move(parts)] {
            JSON replies = JSON::array();
            for (const auto& part : parts) {
                if (auto reply = answer(part.message, part.stop)) replies.push_back(std::move(*reply));
            }
            if (!replies.empty()) send_(jsonrpc::line(replies));
        };
        if (calls) {
            runCall_(std::move(answerAll));
        } else {
            answerAll();
        }
        return;
    }
    auto message = jsonrpc::classify(*parsed);
    if (isCall(message)) {
        auto stop = startCall(message.id);
        runCall_([this, message, stop] {
            if (auto reply = answer(message, stop)) send_(jsonrpc::line(*reply));
        });
        return;
    }
    if (auto reply = answer(message, nullptr)) send_(jsonrpc::line(*reply));
}

void MCPServer::refuseOversizedLine() {
    send_(jsonrpc::line(
        jsonrpc::error(nullptr, jsonrpc::kInvalidRequest, "Invalid Request: the line is too long to be one message")));
}

std::shared_ptr<Cancellation> MCPServer::startCall(const JSON& id) {
    auto stop = std::make_shared<Cancellation>();
    std::lock_guard lock(mutex_);
    if (ended_) stop->cancel();
    running_.emplace(id.dump(), stop);
    return stop;
}

void MCPServer::endCall(const JSON& id, const std::shared_ptr<Cancellation>& stop) {
    std::lock_guard lock(mutex_);
    auto [first, last] = running_.equal_range(id.dump());
    for (auto it = first; it != last; ++it) {
        if (it->second == stop) {
            running_.erase(it);
            return;
        }
    }
}

void MCPServer::noticeCancel(const JSON& params) {
    if (!params.is_object() || !params.contains("requestId")) return;
    std::vector<std::shared_ptr<Cancellation>> stops;
    {
        std::lock_guard lock(mutex_);
        auto [first, last] = running_.equal_range(params["requestId"].dump());
        for (auto it = first; it != last; ++it) stops.push_back(it->second);
    }
    std::string reason = params.contains("reason") && params["reason"].is_string() ? params["reason"] : "no reason given";
    if (!stops.empty()) log("mcp: the client cancelled request " + params["requestId"].dump() + ": " + reason);
    for (const auto& stop : stops) stop->cancel();
}

void MCPServer::cancelAll() {
    std::vector<std::shared_ptr<Cancellation>> stops;
    {
        std::lock_guard lock(mutex_);
        ended_ = true;
        for (const auto& [id, stop] : running_) stops.push_back(stop);
    }
    for (const auto& stop : stops) stop->cancel();
}

std::optional<JSON> MCPServer::answer(const jsonrpc::Message& message, const std::shared_ptr<Cancellation>& stop) {
    using Kind = jsonrpc::Message::Kind;
    if (message.kind == Kind::invalid) return jsonrpc::error(message.id, jsonrpc::kInvalidRequest, "Invalid Request");
    if (message.kind == Kind::notification && message.method == "notifications/cancelled") noticeCancel(message.params);
    if (message.kind != Kind::request) return std::nullopt;  // notifications and responses are never answered
    try {
        JSON result = dispatch(message, stop);
        if (stop && stop->cancelled()) return std::nullopt;
        return jsonrpc::result(message.id, std::move(result));
    } catch (const Cancelled&) {
        return std::nullopt;
    } catch (const ProtocolError& error) {
        return jsonrpc::error(message.id, error.code, error.message, error.data);
    }
}

JSON MCPServer::dispatch(const jsonrpc::Message& message, const std::shared_ptr<Cancellation>& stop) {
    struct EndCall {
        MCPServer* server;
        const JSON& id;
        const std::shared_ptr<Cancellation>& stop;
        ~EndCall() {
            if (stop) server->endCall(id, stop);
        }
    } endCall{this, message.id, stop};
    const std::string& method = message.method;
    const bool stateless = isStateless(message.params);
    JSON result;
    if (method == "initialize") {
        result = initialize(message.params);
    } else if (method == "ping") {
        result = JSON::object();
    } else if (method == "tools/list") {
        result = JSON{{"tools", tools_.definitions()}};
        if (stateless) result.update(JSON{{"ttlMs", kCacheMillis}, {"cacheScope", "public"}});
    } else if (method == "tools/call" && stop) {
        result = callTool(message, *stop);
    } else if (method == "server/discover") {
        result = discover();
    } else {
        throw ProtocolError{jsonrpc::kMethodNotFound, "Method not found: " + method, std::nullopt};
    }
    if (stateless || method == "server/discover") result["resultType"] = "complete";
    return result;
}

JSON MCPServer::initialize(const JSON& params) const {
    if (!params.is_object() || !params.contains("protocolVersion") || !params["protocolVersion"].is_string()) {
        throw ProtocolError{jsonrpc::kInvalidParams, "initialize needs params.protocolVersion", std::nullopt};
    }
    const auto& versions = handshakeVersions();
    std::string asked = params["protocolVersion"];
    std::string agreed = std::find(versions.begin(), versions.end(), asked) != versions.end() ? asked : versions.back();
    log("mcp: " + loggable(describeClient(params.value("clientInfo", JSON()))) + " asks for protocol " +
        loggable(asked) + ", answering " + agreed);
    return JSON{{"protocolVersion", agreed},
                {"capabilities", JSON{{"tools", JSON{{"listChanged", false}}}}},
                {"serverInfo", serverInfo()},
                {"instructions", identity_.instructions}};
}

JSON MCPServer::discover() const {
    return JSON{{"supportedVersions", allVersions()},
                {"capabilities", JSON{{"tools", JSON{{"listChanged", false}}}}},
                {"serverInfo", serverInfo()},
                {"instructions", identity_.instructions},
                {"ttlMs", kCacheMillis},
                {"cacheScope", "public"}};
}

JSON MCPServer::serverInfo() const {
    return JSON{{"name", identity_.name}, {"title", identity_.title}, {"version", identity_.version}};
}

JSON MCPServer::callTool(const jsonrpc::Message& message, Cancellation& stop) {
    const JSON& params = message.params;
    if (!params.is_object() || !params.contains("name") || !params["name"].is_string()) {
        throw ProtocolError{jsonrpc::kInvalidParams, "tools/call needs params.name, the name of a tool", std::nullopt};
    }
    std::string name = params["name"];
    JSON arguments = params.value("arguments", JSON::object());
    if (arguments.is_null()) arguments = JSON::object();
    if (!arguments.is_object()) {
        throw ProtocolError{jsonrpc::kInvalidParams, "tools/call arguments must be an object", std::nullopt};
    }
    JSON token;
    if (const JSON* meta = metaOf(params); meta && meta->contains("progressToken")) token = (*meta)["progressToken"];
    bool reports = token.is_string() || token.is_number_integer();
    CallContext context{stop, [this, token, reports, &stop](double done, std::optional<double> total,
                                                             const std::string& text) {
                            if (!reports || stop.cancelled()) return;
                            JSON progress{{"progressToken", token}, {"progress", done}, {"message", text}};
                            if (total) progress["total"] = *total;
                            send_(jsonrpc::line(JSON{{"jsonrpc", "2.0"},
                                                     {"method", "notifications/progress"},
                                                     {"params", std::move(progress)}}));
                        },
                        reports};
    try {
        return tools_.call(name, arguments, context);
    } catch (const UnknownTool&) {
        throw ProtocolError{jsonrpc::kInvalidParams, "Unknown tool: " + name, std::nullopt};
    } catch (const Cancelled&) {
        throw;
    } catch (const std::exception& error) {
        // Still the model's to read: a tool that broke is a failed call, not a broken protocol.
        return JSON{{"content", JSON::array({JSON{{"type", "text"}, {"text", std::string("Quintalis failed: ") + error.what()}}})},
                    {"isError", true}};
    }
}

}  // namespace quintalis::mcp
