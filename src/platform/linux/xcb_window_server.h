#pragma once

#include "platform/linux/x_connection.h"
#include "platform/window_server.h"

namespace quintalis {

// The window list of an X server. Windows are the clients' own top-level
// windows (under a reparenting window manager, the descendant of each frame
// that carries WM_STATE), front to back in stacking order. The owner comes
// from the X-Resource extension's client ids (else _NET_WM_PID) and
// /proc/<pid>/comm, made whole from the program's file name where the kernel
// cut it; the bundle is the class half of WM_CLASS. Titles are UTF-8 whatever
// type WM_NAME came in. X11 has no points: one point is one pixel. Safe from
// any thread.
class XcbWindowServer final : public WindowServer {
public:
    explicit XcbWindowServer(XDisplayLink& display) : display_(display) {}

    std::optional<std::string> unavailableReason() override;
    std::vector<WindowDescription> windows() override;
    std::vector<WindowDescription> onScreenWindows() override;

private:
    XDisplayLink& display_;
};

}  // namespace quintalis
