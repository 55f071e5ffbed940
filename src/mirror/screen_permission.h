#pragma once

#include <string>
#include <vector>

#include "mirror/window_capture.h"
#include "platform/bundle_info.h"

namespace quintalis {

// The name users know this program by: the package's display name, else its
// name, else "quintalis-mirror".
std::string screenAppName(const BundleInfo& bundle);

// What to tell a user when windows cannot be captured. A Wayland session
// with no X display gets its own advice: only XWayland makes its windows
// ones we can capture.
std::string screenPermissionHelp(const std::string& appName, const EnvironmentReader& environment);

// Why windows cannot be captured at all, or nothing when they can. Linux asks
// no permission for it; it takes a reachable X display (XWayland counts)
// that can stream windows.
std::optional<std::string> screenCaptureRefusal(CaptureBackends& backends);
bool screenPermission(CaptureBackends& backends);

// The window list through the window server, within `limit`. Throws
// CaptureError when the server cannot be reached or does not answer. The
// listing may go on in the background after a time-out: the window server
// must outlive it.
std::vector<WindowDescription> syncShareable(CaptureBackends& backends, Duration limit = std::chrono::seconds(10));

}  // namespace quintalis
