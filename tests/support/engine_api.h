#pragma once

#include "engine/engine.h"
#include "engine/routes.h"
#include "support/fake_platform.h"
#include "support/log_capture.h"
#include "support/phone_rig.h"
#include "support/raw_http.h"

namespace quintalis::testing {

// An engine on a loopback port, serving the real routes over a rig of fake
// phones; the owner's pause reaches running actions as it does in the program.
class API {
public:
    explicit API(std::vector<TestPhone> phones, size_t maxWaitingActions = RouteOptions().maxWaitingActions)
        : rig(std::move(phones)),
          routes(rig.peripheral, rig.devices, rig.clock, RouteOptions{[this] { return pauseReason(defaults); }, maxWaitingActions}) {
        host.variables["QUINTALIS_ENGINE_PORT"] = std::to_string(freePort());
        engine = std::make_unique<Engine>(
            host, defaults, info, [this](const HTTPRequest& request, Responder reply) { routes.handle(request, reply); });
        engine->start();
    }

    static std::string request(const std::string& method, const std::string& target, const std::string& body) {
        return method + " " + target + " HTTP/1.1\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    }
    ParsedReply get(const std::string& target) {
        return parseReply(roundTrip(engine->port(), "GET " + target + " HTTP/1.1\r\n\r\n"));
    }
    ParsedReply post(const std::string& path, const std::string& body = "{}") {
        return parseReply(roundTrip(engine->port(), request("POST", path, body)));
    }
    JSON json(const ParsedReply& reply) { return parseJSON(reply.body).value_or(JSON()); }

    std::vector<Bytes> sent(const UUID& host, uint8_t reportID) { return rig.sent(host, reportID); }

    LogCapture logs;
    FakeHostEnvironment host;
    FakeBundleInfo bundle;
    MemoryDefaults defaults;
    AppInfo info{bundle, host};
    PhoneRig rig;
    Routes routes;
    std::unique_ptr<Engine> engine;
};

inline Bytes pointerAt(double x, double y, uint8_t buttons = 0) {
    return absolutePointerReport(buttons, pointerCoordinate(x), pointerCoordinate(y));
}

inline std::string error(const ParsedReply& reply) { return parseJSON(reply.body).value_or(JSON())["error"]; }

}  // namespace quintalis::testing
