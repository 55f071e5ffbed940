#pragma once

#include <optional>
#include <string>
#include <vector>

#include "base/json.h"
#include "platform/host_environment.h"

namespace quintalis {

// The engine's answer to opening its pairing window ({"name", "pairing",
// "shownAs"}), or why there is none.
struct PairingAnswer {
    std::optional<JSON> answer;
    std::string error;
};

// Asks the Quintalis that serves the engine port (as `host`'s variables
// name it) to let a phone pair for `seconds` (its default when none; 0
// closes the window). Blocks for up to a few seconds; any thread.
PairingAnswer requestPairingWindow(const HostEnvironment& host, std::optional<double> seconds);

// `quintalis pair [seconds]`: opens the pairing window, prints the engine's
// answer as one JSON line and a sentence for the user on standard error;
// fails (status 1) when no engine answers or it refuses.
void pairCommand(const std::vector<std::string>& arguments, const HostEnvironment& host);

}  // namespace quintalis
