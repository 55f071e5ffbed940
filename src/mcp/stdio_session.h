#pragma once

#include "mcp/mcp_server.h"

namespace quintalis::mcp {

// Serves MCP on two file descriptors (standard input and output, normally)
// until the input ends, then cancels the tool calls still running and waits
// for them to stop. Tool calls run on "quintalis.mcp.calls", a few at a
// time; everything else is answered on the calling thread, which blocks.
void serveLines(ToolBox& tools, const MCPServer::Identity& identity, int input, int output);

}  // namespace quintalis::mcp
