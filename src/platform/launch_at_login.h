#pragma once

#include <optional>
#include <string>

#include "base/outcome.h"

namespace quintalis {

// Whether the desktop starts the app when the user logs in. Small file
// operations; any thread may call.
class LaunchAtLogin {
public:
    virtual ~LaunchAtLogin() = default;

    virtual bool isEnabled() = 0;
    virtual Outcome setEnabled(bool enabled) = 0;
};

}  // namespace quintalis
