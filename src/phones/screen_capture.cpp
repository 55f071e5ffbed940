#include "phones/screen_capture.h"

#include <algorithm>
#include <set>

#include "base/log.h"

namespace quintalis {

ScreenCapture::ScreenCapture(CaptureDevices& devices, Clock& clock) : devices_(devices), clock_(clock) {}

ScreenCapture::~ScreenCapture() { alive_.end(); }

void ScreenCapture::start() {
    devices_.allowScreenCaptureDevices();
    auto watch = alive_.watch();
    devices_.addConnectionObserver([this, watch] {
        if (watch.alive()) refresh();
    });
    devices_.requestAccess([this, watch](bool granted) {
        if (!watch.alive()) return;
        log(granted ? "camera access granted" : "camera access denied");
        refresh();
    });
}

std::vector<ScreenRef> ScreenCapture::all() {
    std::vector<ScreenRef> screens;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [id, screen] : screens_) screens.push_back(screen);
    }
    std::stable_sort(screens.begin(), screens.end(), [](const ScreenRef& a, const ScreenRef& b) { return a->name() < b->name(); });
    return screens;
}

void ScreenCapture::setOnScreensChanged(std::function<void()> callback) {
    std::lock_guard lock(mutex_);
    onScreensChanged_ = std::move(callback);
}

void ScreenCapture::refresh() {
    std::vector<CaptureDeviceInfo> phones;
    std::set<std::string> ids;
    for (const auto& device : devices_.discover()) {
        if (device.modelID.find("iOS") == std::string::npos || !device.connected) continue;
        phones.push_back(device);
        ids.insert(device.uniqueID);
    }

    bool changed = false;
    std::function<void()> callback;
    {
        std::lock_guard lock(mutex_);
        for (auto it = screens_.begin(); it != screens_.end();) {
            // A capture that failed mid-stream is dropped too; the phone, if
            // still listed, is captured anew below.
            if (ids.count(it->first) && !it->second->ended()) {
                ++it;
                continue;
            }
            it->second->stop();
            log("screen gone: " + it->second->name());
            it = screens_.erase(it);
            changed = true;
        }
        for (const auto& device : phones) {
            if (screens_.count(device.uniqueID)) continue;
            try {
                screens_[device.uniqueID] = std::make_shared<Screen>(device, devices_, clock_);
                log("capturing " + device.localizedName + " (" + device.uniqueID + ")");
                changed = true;
            } catch (const std::exception& error) {
                log("capture failed for " + device.localizedName + ": " + error.what());
            }
        }
        if (screens_.empty()) log("no iPhone screen yet (plug in over USB and trust this computer)");
        callback = onScreensChanged_;
    }
    if (changed && callback) callback();
}

}  // namespace quintalis
