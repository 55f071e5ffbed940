#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/cancellation.h"
#include "mcp/json_rpc.h"
#include "mcp/tool_box.h"

namespace quintalis::mcp {

// The MCP protocol over lines of JSON-RPC: the handshake clients of the 2025
// revisions use (initialize, ping, tools/list, tools/call), and the
// stateless revision, where any request may come first and says its version
// in "_meta". Holds no session state: every request is answered on its own.
// A call runs until it ends or its client cancels it (notifications/cancelled,
// or the client going); a cancelled call gets no answer.
//
// Threads: receive() is called by one reader at a time; it answers every
// request at once through `send`, except tool calls (alone or in a batch),
// which go to `runCall` so a slow tool holds up neither the reader nor a
// ping. `send` may thus be called from several threads and must write whole
// lines. The calls under way are kept under `mutex_`.
class MCPServer {
public:
    struct Identity {
        std::string name;
        std::string title;
        std::string version;
        std::string instructions;  // for the model: how the tools fit together
    };
    using Send = std::function<void(const std::string& line)>;
    using RunCall = std::function<void(std::function<void()> call)>;

    MCPServer(ToolBox& tools, Identity identity, Send send, RunCall runCall);

    // Handles one line from the client: a message or a batch of them.
    void receive(std::string_view line);
    // Answers a line that was too long to read whole.
    void refuseOversizedLine();
    // Cancels every call under way, for a client that has gone.
    void cancelAll();

    // The versions an initialize may settle on, oldest first.
    static const std::vector<std::string>& handshakeVersions();
    static constexpr const char* kStatelessVersion = "2026-07-28";
    // The stateless revision's error for a version the server does not speak.
    static constexpr int kUnsupportedVersion = -32022;
    // How long a client may keep the tool list and the discovery answer: they
    // change only with the program, ms.
    static constexpr int64_t kCacheMillis = 3'600'000;

private:
    // The reply to one message; nothing for notifications, responses and cancelled calls.
    // `stop` is the call's own, for a tools/call; null for anything else.
    std::optional<JSON> answer(const jsonrpc::Message& message, const std::shared_ptr<Cancellation>& stop);
    JSON dispatch(const jsonrpc::Message& message, const std::shared_ptr<Cancellation>& stop);
    JSON initialize(const JSON& params) const;
    JSON discover() const;
    JSON callTool(const jsonrpc::Message& message, Cancellation& stop);
    JSON serverInfo() const;
    void noticeCancel(const JSON& params);
    // A tool call's stop, kept while it runs under its id.
    std::shared_ptr<Cancellation> startCall(const JSON& id);
    void endCall(const JSON& id, const std::shared_ptr<Cancellation>& stop);

    ToolBox& tools_;
    const Identity identity_;
    const Send send_;
    const RunCall runCall_;
    std::mutex mutex_;
    std::multimap<std::string, std::shared_ptr<Cancellation>> running_;  // by the id's JSON text
    bool ended_ = false;  // the client has gone: calls that start now start cancelled
};

}  // namespace quintalis::mcp
