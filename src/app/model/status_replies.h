#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/model/app_values.h"
#include "base/json.h"

namespace quintalis {

// What the engine's GET /status reply says, each member taking its default
// when missing or of another type.
struct EngineStatus {
    // "app"; empty when the reply has none, which no engine sends: then a
    // program that is no engine answers on the engine's port.
    std::string owner;
    std::string bluetooth = "unknown";
    std::vector<AppValues::Phone> phones;  // "devices"
    std::vector<std::string> hosts;
    std::vector<std::string> unmatchedHosts;
    std::optional<bool> paused;
    int pairingSeconds = 0;  // "pairing": how long the phone may still pair
};

// What the AirPlay capture service's GET /status reply says.
struct AirPlayStatus {
    int candidates = 0;
    // The captured window's owner; "" when it names none, nothing without a window.
    std::optional<std::string> window;
    bool permission = false;
    // Why windows cannot be captured, when permission is false and the service says.
    std::string refusal;
};

EngineStatus readEngineStatus(const JSON& reply);
AirPlayStatus readAirPlayStatus(const JSON& reply);

}  // namespace quintalis
