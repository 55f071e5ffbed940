#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/json.h"
#include "platform/window_server.h"

namespace quintalis {

// One window with its AirPlay likelihood (0 until scored).
struct WinInfo {
    WindowDescription window;
    int score = 0;

    // {"id", "owner", "bundle", "pid", "title", "layer", "onScreen", "x", "y", "w", "h", "score"}
    JSON json() const;
};

// Reads an environment variable; nothing when it is not set.
using EnvironmentReader = std::function<std::optional<std::string>(const std::string&)>;

// How likely the window is the AirPlay receiver's mirroring window, from its
// owner, bundle, title, size, layer and visibility; 0 is not a candidate.
// QUINTALIS_AIRPLAY_OWNER and QUINTALIS_AIRPLAY_TITLE are read on every call.
int airplayScore(const WindowDescription& window, const EnvironmentReader& environment);

// The windows with a positive score, best first: higher score, then larger
// area, then the window server's front-to-back order.
std::vector<WinInfo> airplayCandidates(const std::vector<WindowDescription>& windows,
                                       const EnvironmentReader& environment);

// The process's own environment.
std::optional<std::string> processEnvironment(const std::string& name);

}  // namespace quintalis
