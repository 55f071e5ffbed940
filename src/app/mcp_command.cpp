#include "app/mcp_command.h"

#include <unistd.h>

#include <thread>

#include "app/select_backends.h"
#include "base/log.h"
#include "base/main_run_loop.h"
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

bool answers(mcp::HTTPClient& http, const std::string& url) {
    try {
        http.get(url + "/status", 1500ms);
        return true;
    } catch (const mcp::Unreachable&) {
        return false;
    }
}

}  // namespace

void mcpCommand(const std::vector<std::string>&) {
    // Standard output carries the protocol alone; anything else that prints
    // there (a library's warning) goes to standard error instead.
    int protocol = dup(STDOUT_FILENO);
    dup2(STDERR_FILENO, STDOUT_FILENO);

    auto& host = PlatformBackends::selected().host;
    std::string engineURL = serviceURL(host.variable("QUINTALIS_ENGINE_URL"),
                                       parsePort(host.variable("QUINTALIS_ENGINE_PORT"), kDefaultEnginePort));
    std::string airplayURL = serviceURL(host.variable("QUINTALIS_AIRPLAY_URL"),
                                        parsePort(host.variable("QUINTALIS_AIRPLAY_PORT"), kDefaultAirPlayPort));
    mcp::HTTPClient http;
    if (answers(http, engineURL)) {
        log("mcp: using the engine at " + engineURL);
    } else {
        log("mcp: no engine answers at " + engineURL + ", so this process starts one until its client goes");
        Engine::shared().start();
        auto mode = Engine::shared().mode();
        if (mode.kind == Engine::Mode::Kind::failed) log("mcp: the engine did not start: " + mode.text);
    }

    mcp::ServicePhoneAccess phones(http, engineURL, airplayURL);
    mcp::PhoneTools tools(phones, selectedTextRecognizer(), Clock::real());
    mcp::MCPServer::Identity identity{"quintalis", "Quintalis", AppInfo::shared().version(), kInstructions};
    // The main thread keeps running the main run loop, as in the app, for
    // whatever the engine puts there; the client is served beside it.
    std::thread session([&] {
        nameCurrentThread("quintalis.mcp.stdin");
        mcp::serveLines(tools, identity, STDIN_FILENO, protocol);
        log("mcp: the client closed standard input");
        MainRunLoop::shared().stop();
    });
    MainRunLoop::shared().run();
    session.join();
}

}  // namespace quintalis
