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
    // Only the title speaks for it (a browser tab about iPhones looks the
    // same): listed, but captured only when chosen by number or title.
    bool titleOnly = false;

    // {"id", "owner", "bundle", "pid", "title", "layer", "onScreen", "x", "y", "w", "h", "score"}, plus "note"
    // for a title-only candidate.
    JSON json() const;
};

// What a capture of a window that is not on screen would wait for in vain.
inline constexpr const char* kAirPlayWindowHidden =
    "the AirPlay window is hidden (minimised or on another workspace): show it";

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

// The candidate to capture unasked: the best one with owner or override
// evidence, on screen before hidden; nothing when only titles speak for any.
std::optional<WinInfo> bestReceiver(const std::vector<WinInfo>& candidates);

// Every window the window server lists, front to back, unscored.
std::vector<WindowDescription> allWindows(WindowServer& server);

// The window with that number, unscored; nothing when it is gone.
std::optional<WinInfo> windowInfo(WindowServer& server, uint32_t number);

// The window a command should capture: the one whose number `wanted` names
// (nothing when it is gone), else bestReceiver of the AirPlay candidates.
std::optional<WinInfo> pickWindow(WindowServer& server, const std::optional<std::string>& wanted,
                                  const EnvironmentReader& environment);

// A running application, as its windows show it.
struct RunningApplication {
    int32_t pid = 0;
    std::string name;
    std::string bundle;
};

// The iPhone Mirroring app, found among the owners of the listed windows.
std::optional<RunningApplication> mirrorApp(WindowServer& server);

// The iPhone Mirroring app's main window on screen as {"id", "x", "y", "w", "h"}:
// its largest window at layer 0, the front-most among equals.
std::optional<JSON> findWindow(WindowServer& server);

// The process's own environment.
std::optional<std::string> processEnvironment(const std::string& name);

}  // namespace quintalis
