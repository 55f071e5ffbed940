#pragma once

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/liveness.h"
#include "base/serial_queue.h"
#include "platform/usb_bus.h"
#include "simulator/phone_screen_side.h"

namespace quintalis::simulator {

// An iPhone's USB side as a Mac's screen recording meets it: four
// configurations until the reveal request, then five, the fifth holding the
// capture interface, on which the phone's screen side (PhoneScreenSide)
// speaks. It stands in for libusb and the kernel: addresses that change at
// each re-enumeration, configurations, claims and halts, and the cable
// pulled out and put back.
//
// Thread rule: the host's calls (through a UsbDeviceHandle) may come from any
// thread and are serialised by `mutex_`; a bulk read blocks until the phone
// has something to say or the time-out passes.
class SimulatedUsbDevice {
public:
    using PictureFeed = PhoneScreenSide::PictureFeed;

    // What a test makes the phone do wrong.
    struct Faults : PhoneScreenFaults {
        bool failRevealStatus = false;           // the reveal request reports an error but works
        bool keepsCaptureConfiguration = false;  // ignores the hide request
    };

    static constexpr uint16_t kVendor = 0x05AC;
    static constexpr uint16_t kProduct = 0x12A8;
    static constexpr uint8_t kInEndpoint = 0x86, kOutEndpoint = 0x05;
    static constexpr uint8_t kCaptureConfiguration = 5, kUsbmuxConfiguration = 4;

    // `serial` as the phone's descriptor gives it: 24 characters, no dash.
    SimulatedUsbDevice(std::string serial, PictureFeed pictures);
    ~SimulatedUsbDevice();

    Faults faults;  // set before the host starts

    const std::string& serial() const { return serial_; }
    // Its descriptors now; nothing while unplugged.
    std::optional<UsbDeviceInfo> info();
    void setOnReenumerated(std::function<void()> callback);

    // The host's side, through a handle opened at `address`; a handle of an
    // address the device no longer has answers noDevice.
    UsbStatus activeConfiguration(const std::string& address, int& value);
    UsbStatus setConfiguration(const std::string& address, int value);
    UsbStatus claimInterface(const std::string& address, int number);
    UsbStatus releaseInterface(const std::string& address, int number);
    UsbStatus clearHalt(const std::string& address, uint8_t endpoint);
    UsbStatus controlOut(const std::string& address, uint8_t requestType, uint8_t request, uint16_t value, uint16_t index);
    UsbStatus bulkWrite(const std::string& address, uint8_t endpoint, const uint8_t* data, size_t size);
    UsbStatus bulkRead(const std::string& address, uint8_t endpoint, uint8_t* into, size_t capacity, size_t& got,
                       Duration timeout);

    // Test levers: raw bytes on the IN pipe (after what is queued), pulling
    // the cable (plug() puts it back, unrevealed), and what the phone saw.
    void sendRaw(usbscreen::Bytes bytes) { screen_.sendRaw(std::move(bytes)); }
    void unplug();
    void plug();
    // For the ordered stop: ends the thread that reports re-enumerations
    // (the bus stops it), and the screen side's (the simulator stops it, as
    // its own queue feeds that one). Either comes back should the phone be
    // used again.
    void stopReporting() { queue_.stop(); }
    void stopScreen() { screen_.stop(); }
    std::vector<std::string> violations() { return screen_.violations(); }
    std::vector<std::string> events();  // "reveal", "hide", "set configuration 5", "hpd0", ...
    int framesSent() { return screen_.framesSent(); }
    MonotonicTime lastFrameSentAt() { return screen_.lastFrameSentAt(); }

private:
    std::string addressLocked() const;
    bool staleLocked(const std::string& address) const;
    void reenumerateLocked(bool revealed);
    void noteEvent(const std::string& event);

    const std::string serial_;
    SerialQueue queue_;
    Liveness alive_;

    std::mutex mutex_;
    bool plugged_ = true;
    bool revealed_ = false;
    int generation_ = 1;
    int configuration_ = 0;
    bool claimed_ = false;
    std::function<void()> onReenumerated_;

    // Both halves note what they saw, so events have a lock of their own.
    std::mutex eventsMutex_;
    std::vector<std::string> events_;

    PhoneScreenSide screen_;  // last: its callbacks reach the members above
};

}  // namespace quintalis::simulator
