#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "base/liveness.h"
#include "base/serial_queue.h"
#include "phones/screen.h"
#include "platform/capture_devices.h"

namespace quintalis {

// Follows iPhones plugged in over USB and keeps one running Screen for each.
// `mutex_` guards the set; refreshes run on whatever thread delivered the
// notification. Starting a capture can take seconds (a USB phone leaves the
// bus and comes back), so it runs outside the lock: the screen list answers
// meanwhile, and a screen is listed once its capture has started. A phone
// that is being started is not started twice, and one unplugged meanwhile
// has its capture stopped as soon as it starts. The change callback runs
// after the lock is released.
class ScreenCapture {
public:
    // Where captures start: on the thread of the refresh that found the
    // phone, so a screen is listed when the refresh returns; or on a queue of
    // this object's own, so no refresh (nor the thread that called start())
    // waits for a slow device.
    enum class StartOn { caller, ownQueue };
    // `clock` stamps each screen's change times.
    ScreenCapture(CaptureDevices& devices, Clock& clock, StartOn startOn = StartOn::caller);
    // Waits for a capture that is starting.
    ~ScreenCapture();

    void start();
    // The live screens, by name.
    std::vector<ScreenRef> all();
    void setOnScreensChanged(std::function<void()> callback);

    // Looks now for plugged and unplugged phones, and for captures that
    // ended on their own, whose phones it captures anew.
    void refresh();
    // For the ordered stop, once the devices have been given back: refreshes
    // do nothing from now on, captures starting finish, and every screen's
    // capture and thread end. The screens stay listed.
    void stop();

private:
    void startScreen(const CaptureDeviceInfo& device);
    static void logNoScreenYet();

    CaptureDevices& devices_;
    Clock& clock_;
    std::mutex mutex_;
    std::map<std::string, ScreenRef> screens_;
    // Phones whose capture is starting, by id: whether the phone was still
    // listed at the last refresh.
    std::map<std::string, bool> starting_;
    std::function<void()> onScreensChanged_;
    bool stopped_ = false;
    Liveness alive_;
    std::unique_ptr<SerialQueue> starts_;  // null: captures start on the caller's thread
};

}  // namespace quintalis
