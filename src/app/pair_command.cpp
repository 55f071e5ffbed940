#include "app/pair_command.h"

#include <iostream>

#include "base/text.h"
#include "engine/engine.h"
#include "base/http_client.h"
#include "commands/command_line.h"

namespace quintalis {

PairingAnswer requestPairingWindow(const HostEnvironment& host, std::optional<double> seconds) {
    JSON body = JSON::object();
    if (seconds) body["seconds"] = *seconds;
    std::string url = serviceURL(host.variable("QUINTALIS_ENGINE_URL"),
                                 parsePort(host.variable("QUINTALIS_ENGINE_PORT"), kDefaultEnginePort));
    HTTPReply reply;
    try {
        reply = HTTPClient().post(url + "/pairing", serializeJSON(body), std::chrono::seconds(5));
    } catch (const Unreachable&) {
        return {std::nullopt, "Quintalis is not running (nothing answers at " + url + "); start it, then pair"};
    }
    auto answer = parseJSON(reply.body);
    bool object = answer && answer->is_object();
    if (reply.status == 200 && object) return {answer, ""};
    if (object && answer->contains("error") && (*answer)["error"].is_string()) {
        return {std::nullopt, (*answer)["error"].get<std::string>()};
    }
    return {std::nullopt, "the engine at " + url + " answered " + std::to_string(reply.status)};
}

void pairCommand(const std::vector<std::string>& arguments, const HostEnvironment& host) {
    std::optional<double> seconds;
    if (!arguments.empty()) {
        seconds = parseNumber(arguments[0]);
        if (arguments.size() > 1 || !seconds) fail("usage: quintalis pair [seconds]");
    }
    auto result = requestPairingWindow(host, seconds);
    if (!result.answer) fail(result.error);
    const JSON& answer = *result.answer;
    out(answer);
    int left = answer.value("pairing", 0);
    if (left == 0) {
        std::cerr << "No phone may pair now." << std::endl;
        return;
    }
    std::cerr << "For the next " << left << " s a phone may pair: on the iPhone, open Settings > Bluetooth and tap "
              << answer.value("name", std::string("Skiffline")) << "."
              << (answer.contains("shownAs") ? " Once paired, it lists this computer as " +
                                                   answer.value("shownAs", std::string()) + "."
                                             : std::string())
              << std::endl;
}

}  // namespace quintalis
