#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "mcp/json_rpc.h"
#include "mcp/tool_box.h"

namespace quintalis::mcp {

// The MCP protocol over lines of JSON-RPC: the handshake clients of the 2025
// revisions use (initialize, ping, tools/list, tools/call), and the
// stateless revision, where any request may come first and says its version
// in "_meta". Holds no session state: every request is answered on its own.
//
// Threads: receive() is called by one reader at a time; it answers every
// request at once through `send`, except a single tools/call, which goes to
// `runCall` so a slow tool holds up neither the reader nor a ping. `send`
// may thus be called from several threads and must write whole lines.
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

    // The versions an initialize may settle on, oldest first.
    static const std::vector<std::string>& handshakeVersions();
    static constexpr const char* kStatelessVersion = "2026-07-28";

private:
    // The reply to one message; null for notifications and responses.
    JSON answer(const jsonrpc::Message& message);
    JSON dispatch(const jsonrpc::Message& message);
    JSON initialize(const JSON& params) const;
    JSON discover() const;
    JSON callTool(const JSON& params);
    JSON serverInfo() const;

    ToolBox& tools_;
    const Identity identity_;
    const Send send_;
    const RunCall runCall_;
};

}  // namespace quintalis::mcp
