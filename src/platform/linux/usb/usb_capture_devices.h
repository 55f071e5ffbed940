#pragma once

#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <vector>

#include "base/clock.h"
#include "base/liveness.h"
#include "base/main_thread.h"
#include "base/retry_delay.h"
#include "base/serial_queue.h"
#include "platform/capture_devices.h"
#include "platform/linux/usb/cable_session.h"
#include "platform/usb_bus.h"

namespace quintalis {

// iPhones and iPads on USB as screen-capture devices: found on the bus by
// Apple's vendor id and a usbmux or capture interface, named by lockdown when
// the phone trusts this computer, captured through the hidden configuration.
// Hot-plug observers are called on "quintalis.usb-hotplug", never on the
// bus's own event thread, and also when a capture ends without being stopped.
// A phone newly on the bus is asked for its name on "quintalis.usb-discovery",
// as lockdown can take seconds (usbmuxd slow, the phone asking for trust):
// discover() only reads the bus and never waits for it, and lists the phone
// once lockdown has answered or failed, when the observers are called again.
// Until then the phone is not listed, so that nothing captures it under a
// name it is about to lose; a phone being captured that comes back at a new
// address at our own request keeps the name it had. requestAccess() answers
// from that queue too, once the phones on the bus have been opened.
// A phone whose capture fails to start or ends on its own is not captured
// again until a wait has passed (1 s, doubling up to a minute; back to 1 s
// after a capture that ran steadily), and the observers are called when it
// has: each try costs the phone a reveal and a re-enumeration. Safe to call
// from any thread; `mutex_` guards the sessions, the waits, the
// authorisation and what lockdown said.
class UsbCaptureDevices final : public CaptureDevices {
public:
    // The waits before a phone is tried again run on `timers`; by default on
    // a queue of this object's own, in real time.
    UsbCaptureDevices(UsbBus& bus, PhoneLockdown& lockdown, Clock& clock, CableTimeouts timeouts = {},
                      MainThread* timers = nullptr);
    ~UsbCaptureDevices() override;

    void allowScreenCaptureDevices() override {}
    std::vector<CaptureDeviceInfo> discover() override;
    void addConnectionObserver(std::function<void()> observer) override;
    // denied, with reason(), while the last phone this user tried to open
    // could not be opened for want of permission; a later open that works
    // (the udev rule installed, the phone plugged in again) clears it.
    CaptureAuthorization authorizationStatus() override;
    std::string authorizationReason() override;
    void requestAccess(std::function<void(bool)> answer) override;
    std::unique_ptr<CaptureSession> startCapture(const CaptureDeviceInfo& device, SerialQueue& queue,
                                                 std::function<void(CapturedFrame)> onFrame) override;

    // Restores each phone captured. A capture still starting gives up at its
    // next look for the re-enumerated phone, or is stopped as it opens; this
    // waits for it. Then stops the bus, the discovery queue (after a lockdown
    // query under way) and the hot-plug queue: observers hear of no change
    // after it.
    void stopAll() override;

private:
    class Handle;
    struct Found {
        UsbDeviceInfo info;
        std::string udid;
    };
    std::vector<Found> apple();
    // On discovery_: asks lockdown about phones newly on the bus and opens
    // each (which keeps the authorisation up to date), then lists them.
    void learn(const std::vector<Found>& phones);
    // Whether a capture of the phone is starting or running; under mutex_.
    bool capturingLocked(const std::string& udid) const;
    static CaptureStartError stoppingError(const std::string& name);
    bool stopped();
    std::unique_ptr<CableSession> open(const Found& phone, const std::string& name, SerialQueue& queue,
                                       std::function<void(CapturedFrame)> onFrame);
    static bool leftInCapture(UsbDeviceHandle& handle, const UsbDeviceInfo& info);
    // Asks the phone to show its capture configuration and waits for it to
    // come back on the bus with it; the new description. A stop meanwhile
    // hides the configuration again and throws.
    UsbDeviceInfo reveal(const std::string& udid, const std::string& name, uint8_t usbmuxValue,
                         std::unique_ptr<UsbDeviceHandle> handle);
    // What a session of the phone runs when it ends.
    std::function<void(const std::string&, bool)> onEnded(const std::string& udid, const std::string& name);
    // Opens the device at `address` and keeps the authorisation up to date.
    UsbStatus openNoting(const std::string& address, std::unique_ptr<UsbDeviceHandle>& handle);
    void forget(CableSession* session);
    // Notes that capturing the phone failed, and when to try it again;
    // returns the wait. `steady`: it had been capturing well until then.
    Duration failed(const std::string& udid, const std::string& reason, bool steady);
    // Throws while the phone is waiting to be tried again.
    void refuseWhileWaiting(const std::string& udid, const std::string& name);
    // Why the phone's configuration cannot be switched, as the user can act on it.
    std::string holderReason(const std::string& udid);
    // Once a capture ends: how to give usbmuxd back, if it was sent away and is still away.
    void remindOfUsbmuxd(const std::string& name);
    // Calls the connection observers on hotplug_.
    void notifyObservers();

    UsbBus& bus_;
    PhoneLockdown& lockdown_;
    Clock& clock_;
    const CableTimeouts timeouts_;
    SerialQueue hotplug_{"quintalis.usb-hotplug"};
    std::mutex mutex_;
    std::vector<std::function<void()>> observers_;
    std::map<CableSession*, std::string> sessions_;  // running captures, by the phone they capture
    std::map<std::string, CaptureDeviceInfo> switching_;  // phones re-enumerating at our request, by udid
    std::map<std::string, PhoneFacts> facts_;            // what lockdown said, by bus address
    std::map<std::string, PhoneFacts> lastFacts_;        // what lockdown said last, by udid
    std::set<std::string> asking_;                       // bus addresses whose facts discovery_ is asking
    std::string deniedReason_;
    bool usbmuxdSentAway_ = false;  // the user was told to keep usbmuxd away
    bool stopped_ = false;          // by stopAll: no capture starts any more
    int starting_ = 0;              // captures starting now
    std::condition_variable startEnded_;
    struct Retry {
        RetryDelay delay;
        std::string reason;     // of the last failure
        MonotonicTime until{};  // not tried again before
        bool waiting = false;
        uint64_t generation = 0;  // of the timer that ends the wait
    };
    std::map<std::string, Retry> retries_;  // by udid
    std::unique_ptr<MainThread> ownTimers_;
    MainThread& timers_;
    Liveness alive_;
    // Last, so that it is gone before what its tasks use.
    SerialQueue discovery_{"quintalis.usb-discovery"};
};

// "00008120-000A1B2C3D4E5F01" from the descriptor's serial: NULs dropped, a
// dash after the 8th of 24 characters; 40-character serials stay as they are.
std::string udidOfSerial(std::string serial);

}  // namespace quintalis
