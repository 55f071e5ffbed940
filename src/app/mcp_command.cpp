#include "app/mcp_command.h"

#include <unistd.h>

#include <thread>

#include "app/mcp_engine_link.h"
#include "app/services.h"
#include "base/log.h"
#include "base/thread_name.h"
#include "engine/app_info.h"
#include "engine/engine.h"
#include "mcp/phone_tools.h"
#include "mcp/service_phone_access.h"
#include "mcp/stdio_session.h"

namespace quintalis {
namespace {

using namespace std::chrono_literals;

const char* const kInstructions =
    "These tools see and operate the user's iPhone. Call look to see the screen: it returns a picture and the text "
    "on it with positions. Then tap (on x/y pixels of that picture, or on visible text), swipe, type, key or home. "
    "Each action waits until the screen has settled, so look again to see what it did. phones lists the phones "
    "when there is more than one.";

}  // namespace

void mcpCommand(const std::vector<std::string>&, Services& services) {
    // Standard output carries the protocol alone; anything else that prints
    // there (a library's warning) goes to standard error instead.
    int protocol = dup(STDOUT_FILENO);
    dup2(STDERR_FILENO, STDOUT_FILENO);

    HTTPClient http;
    MCPEngineLink link(services.engine(), http, services.platform().host, Clock::real(), services.mainLoop());
    // The engine starts on the main thread, which serves its run loop from here on.
    std::thread session([&] {
        nameCurrentThread("quintalis.mcp.stdin");
        link.connect();
        mcp::ServicePhoneAccess phones(http, link);
        mcp::PhoneTools tools(phones, services.text(), Clock::real());
        mcp::MCPServer::Identity identity{"quintalis", "Quintalis", services.appInfo().version(), kInstructions};
        mcp::serveLines(tools, identity, STDIN_FILENO, protocol);
        log("mcp: the client closed standard input");
        services.mainLoop().stop();
    });
    services.mainLoop().run();
    session.join();
}

}  // namespace quintalis
