#include "mcp/stdio_session.h"

#include <memory>

#include "base/concurrent_queue.h"
#include "mcp/line_channel.h"

namespace quintalis::mcp {
namespace {

// Enough for a model's parallel calls; more only queue.
constexpr int kCallsAtOnce = 8;

}  // namespace

void serveLines(ToolBox& tools, const MCPServer::Identity& identity, int input, int output) {
    // Ended by hand after the loop: its end waits for the calls still running,
    // which use the channel and the server.
    auto calls = std::make_unique<ConcurrentQueue>("quintalis.mcp.calls", kCallsAtOnce);
    LineChannel channel(input, output);
    MCPServer server(
        tools, identity, [&channel](const std::string& line) { channel.write(line); },
        [&calls](std::function<void()> call) { calls->async(std::move(call)); });
    std::string line;
    while (true) {
        auto read = channel.next(line);
        if (read == LineChannel::Read::end) break;
        if (read == LineChannel::Read::oversized) {
            server.refuseOversizedLine();
        } else {
            server.receive(line);
        }
    }
    // The client has gone: nobody waits for what its calls would answer,
    // and the phone should not go on typing for nobody.
    server.cancelAll();
    calls.reset();
}

}  // namespace quintalis::mcp
