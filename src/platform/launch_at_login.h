#pragma once

#include <optional>
#include <string>

namespace quintalis {

// Whether the desktop starts the app when the user logs in. Small file
// operations; any thread may call.
class LaunchAtLogin {
public:
    virtual ~LaunchAtLogin() = default;

    virtual bool isEnabled() = 0;
    // Nothing on success, else the reason it failed.
    virtual std::optional<std::string> setEnabled(bool enabled) = 0;
};

}  // namespace quintalis
