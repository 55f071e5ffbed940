#include "phones/screen_capture.h"

#include <algorithm>
#include <set>

#include "base/log.h"

namespace quintalis {

ScreenCapture::ScreenCapture(CaptureDevices& devices, Clock& clock, StartOn startOn)
    : devices_(devices),
      clock_(clock),
      starts_(startOn == StartOn::ownQueue ? std::make_unique<SerialQueue>("quintalis.screen-start") : nullptr) {}

ScreenCapture::~ScreenCapture() {
    alive_.end();
    starts_.reset();
}

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

void ScreenCapture::stop() {
    {
        std::lock_guard lock(mutex_);
        stopped_ = true;
    }
    // The starts first, as each lists a screen.
    if (starts_) starts_->stop();
    std::vector<ScreenRef> screens;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [id, screen] : screens_) screens.push_back(screen);
    }
    for (const auto& screen : screens) screen->stop();
}

void ScreenCapture::refresh() {
    {
        std::lock_guard lock(mutex_);
        if (stopped_) return;
    }
    std::vector<CaptureDeviceInfo> phones;
    std::set<std::string> ids;
    for (const auto& device : devices_.discover()) {
        if (device.modelID.find("iOS") == std::string::npos || !device.connected) continue;
        phones.push_back(device);
        ids.insert(device.uniqueID);
    }

    bool changed = false;
    std::function<void()> callback;
    std::vector<CaptureDeviceInfo> toStart;
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
        for (auto& [id, listed] : starting_) listed = ids.count(id) > 0;
        for (const auto& device : phones) {
            if (screens_.count(device.uniqueID) || starting_.count(device.uniqueID)) continue;
            starting_[device.uniqueID] = true;
            toStart.push_back(device);
        }
        if (screens_.empty() && toStart.empty()) logNoScreenYet();
        callback = onScreensChanged_;
    }
    if (changed && callback) callback();
    for (const auto& device : toStart) {
        if (!starts_) {
            startScreen(device);
            continue;
        }
        auto watch = alive_.watch();
        starts_->async([this, watch, device] {
            if (watch.alive()) startScreen(device);
        });
    }
}

void ScreenCapture::logNoScreenYet() { log("no iPhone screen yet (plug in over USB and trust this computer)"); }

void ScreenCapture::startScreen(const CaptureDeviceInfo& device) {
    ScreenRef screen;
    try {
        screen = std::make_shared<Screen>(device, devices_, clock_);
    } catch (const std::exception& error) {
        log("capture failed for " + device.localizedName + ": " + error.what());
    }
    std::function<void()> callback;
    bool listed = false;
    {
        std::lock_guard lock(mutex_);
        listed = starting_[device.uniqueID];
        starting_.erase(device.uniqueID);
        if (screen && listed) {
            screens_[device.uniqueID] = screen;
            log("capturing " + device.localizedName + " (" + device.uniqueID + ")");
            callback = onScreensChanged_;
        } else if (screens_.empty() && starting_.empty()) {
            logNoScreenYet();
        }
    }
    // Unplugged while it started: the phone's device goes back at once.
    if (screen && !listed) screen->stop();
    if (callback) callback();
}

}  // namespace quintalis
