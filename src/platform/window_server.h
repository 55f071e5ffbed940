#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quintalis {

// One window as the window server lists it (front to back, hidden and
// off-screen ones included); positions in global display points, top-left
// origin.
struct WindowDescription {
    uint32_t number = 0;
    std::string owner;
    std::string bundle;  // the owning application's identifier, "" when unknown
    int32_t pid = 0;
    std::string title;
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
    int layer = 0;
    bool onScreen = false;
};

// The system's window list. Calls block until the window server answered
// and may come from any thread.
class WindowServer {
public:
    virtual ~WindowServer() = default;

    // Nothing when windows can be listed and captured; otherwise why not, in
    // one sentence (for example, no display to connect to).
    virtual std::optional<std::string> unavailableReason() = 0;
    // Every window, front to back, hidden ones included; empty when the
    // window server cannot be reached.
    virtual std::vector<WindowDescription> windows() = 0;
    // Only the windows that are on screen now, front to back.
    virtual std::vector<WindowDescription> onScreenWindows() = 0;
};

}  // namespace quintalis
