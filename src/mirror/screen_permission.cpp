#include "mirror/screen_permission.h"

#include <condition_variable>
#include <thread>

namespace quintalis {

std::string screenAppName(const BundleInfo& bundle) {
    for (const char* key : {"CFBundleDisplayName", "CFBundleName"}) {
        if (auto name = bundle.stringValue(key)) return *name;
    }
    return "quintalis-mirror";
}

std::string screenPermissionHelp(const std::string& appName, const EnvironmentReader& environment) {
    const auto set = [&](const std::string& name) { return !environment(name).value_or("").empty(); };
    if (set("WAYLAND_DISPLAY") && !set("DISPLAY")) {
        return "Screen capture isn't available to " + appName +
               ": this Wayland session has no X display, and capturing a window needs XWayland (install it, "
               "for example with sudo apt install xwayland, then log in again)";
    }
    return "Screen capture isn't available to " + appName +
           ": no X display (run it inside an X11 or XWayland session, or set DISPLAY)";
}

std::optional<std::string> screenCaptureRefusal(CaptureBackends& backends) {
    if (backends.windows.unavailableReason()) return backends.permissionHelp;
    if (auto reason = backends.streams.unavailableReason()) return "Screen capture isn't available: " + *reason;
    return std::nullopt;
}

bool screenPermission(CaptureBackends& backends) { return !screenCaptureRefusal(backends); }

std::vector<WindowDescription> syncShareable(CaptureBackends& backends, Duration limit) {
    struct Answer {
        std::mutex mutex;
        std::condition_variable ready;
        bool done = false;
        std::optional<std::string> unavailable;
        std::vector<WindowDescription> windows;
    };
    auto answer = std::make_shared<Answer>();
    // A server that never answers must not hold the caller past the limit,
    // so the listing runs on a thread of its own that may outlive this call.
    std::thread([answer, &server = backends.windows] {
        auto unavailable = server.unavailableReason();
        std::vector<WindowDescription> windows;
        if (!unavailable) windows = server.windows();
        std::lock_guard lock(answer->mutex);
        answer->unavailable = std::move(unavailable);
        answer->windows = std::move(windows);
        answer->done = true;
        answer->ready.notify_all();
    }).detach();
    std::unique_lock lock(answer->mutex);
    if (!answer->ready.wait_for(lock, limit, [&] { return answer->done; })) {
        throw CaptureError("the X server didn't answer (is DISPLAY right?)");
    }
    if (answer->unavailable) throw CaptureError(*answer->unavailable + " — " + backends.permissionHelp);
    return std::move(answer->windows);
}

}  // namespace quintalis
