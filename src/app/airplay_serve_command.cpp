#include "app/airplay_serve_command.h"

#include <iostream>

#include "app/services.h"
#include "base/text.h"
#include "engine/airplay_service.h"
#include "engine/engine.h"
#include "mirror/airplay_warm_up.h"
#include "commands/command_line.h"
#include "mirror/screen_permission.h"

namespace quintalis {
namespace {

// A whole number from an option within [0, limit]; nothing when absent or not one.
std::optional<int64_t> numberOption(const std::vector<std::string>& args, const std::string& name, int64_t limit) {
    auto text = option(args, name);
    int64_t value = 0;
    if (!text || parseDecimal(*text, value) != DecimalParse::ok || value < 0 || value > limit) return std::nullopt;
    return value;
}

}  // namespace

int airplayServeCommand(const std::vector<std::string>& args, Services& services) {
    // Serving on a port other than the one asked for would leave its clients
    // knocking at the wrong door.
    uint16_t port = kDefaultAirPlayPort;
    if (option(args, "--port")) {
        auto wanted = numberOption(args, "--port", UINT16_MAX);
        if (!wanted) fail("usage: airplay-serve [--port N] [--window ID]");
        port = static_cast<uint16_t>(*wanted);
    }
    CaptureBackends& backends = services.capture();
    const bool permission = screenPermission(backends);
    std::optional<uint32_t> window;
    if (auto number = numberOption(args, "--window", UINT32_MAX)) window = static_cast<uint32_t>(*number);

    // The reply to "/quit" goes out before the loop ends; the listener's
    // stop then waits for that handler anyway.
    auto& loop = services.mainLoop();
    auto& server = *new AirPlayServer(backends, services.devices().text, window, [&loop] {
        loop.postAfter(std::chrono::milliseconds(200), [&loop] { loop.stop(); });
    });
    std::unique_ptr<HTTPServer> listener;
    try {
        listener = serveHTTP(port, [&server](const std::string& path, const AirPlayQuery& query,
                                             const AirPlayResponder& responder) { server.handle(path, query, responder); });
    } catch (const std::system_error& error) {
        fail("cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + error.code().message());
    }
    std::cerr << "quintalis-mirror airplay-serve on 127.0.0.1:" << listener->boundPort()
              << " (screen recording: " << (permission ? "true" : "false") << ")\n"
              << std::flush;
    AirPlayWarmUp warmUp(server, loop, std::chrono::seconds(1));
    warmUp.start();
    loop.run();
    listener->stop();
    server.resetCapture();
    return 0;
}

}  // namespace quintalis
