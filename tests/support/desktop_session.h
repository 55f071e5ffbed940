#pragma once

#include <cstdlib>

#include "support/private_bus.h"
#include "support/xvfb.h"

namespace quintalis::testing {

// Points this process, and every program it starts, at the binary's own X
// server and session bus, so a desktop test never touches the user's. The
// accessibility bridge stays off: it would look for a bus of its own.
inline void joinDesktopSession(const PrivateBus& bus) {
    setenv("DISPLAY", Xvfb::display().c_str(), 1);
    setenv("DBUS_SESSION_BUS_ADDRESS", bus.address().c_str(), 1);
    setenv("NO_AT_BRIDGE", "1", 1);
}

}  // namespace quintalis::testing
