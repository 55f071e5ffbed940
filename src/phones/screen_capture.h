#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "base/liveness.h"
#include "phones/screen.h"
#include "platform/capture_devices.h"

namespace quintalis {

// Follows iPhones plugged in over USB and keeps one running Screen for each.
// `lock_` guards the set; refreshes run on whatever thread delivered the
// notification, discovery outside the lock and screen creation inside it,
// so two refreshes never build the same screen twice. The change callback
// runs after the lock is released.
class ScreenCapture {
public:
    // `clock` stamps each screen's change times.
    ScreenCapture(CaptureDevices& devices, Clock& clock);
    ~ScreenCapture();

    void start();
    // The live screens, by name.
    std::vector<ScreenRef> all();
    void setOnScreensChanged(std::function<void()> callback);

    // Looks now for plugged and unplugged phones, and for captures that
    // ended on their own, whose phones it captures anew.
    void refresh();

private:
    CaptureDevices& devices_;
    Clock& clock_;
    std::mutex mutex_;
    std::map<std::string, ScreenRef> screens_;
    std::function<void()> onScreensChanged_;
    Liveness alive_;
};

}  // namespace quintalis
