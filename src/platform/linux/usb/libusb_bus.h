#pragma once

#include <atomic>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "platform/usb_bus.h"

struct libusb_context;

namespace quintalis {

// The USB bus through libusb-1.0. Listings and handles each use a context of
// their own, made afresh, so a phone that re-enumerated with a new
// configuration is seen as it is now. Arrivals and departures of Apple
// devices are reported from libusb's hot-plug events where the system
// delivers them (udev), and from a look at the bus every two seconds where
// it does not. Observers run on the "quintalis.usb-events" thread. Safe to
// call from any thread.
class LibusbBus final : public UsbBus {
public:
    LibusbBus();
    ~LibusbBus() override;

    std::vector<UsbDeviceInfo> devices() override;
    UsbStatus open(const std::string& address, std::unique_ptr<UsbDeviceHandle>& handle) override;
    void addHotplugObserver(std::function<void()> observer) override;
    void stop() override;

    // Tells the observers that the bus changed; libusb's hot-plug callback calls it.
    void notify();

private:
    void watch();

    libusb_context* events_ = nullptr;  // the hot-plug context, used only by the events thread
    std::atomic<bool> stopping_{false};
    std::mutex mutex_;  // guards observers_
    std::vector<std::function<void()>> observers_;
    std::set<std::string> seen_;  // Apple devices at the last look; owned by the events thread
    std::mutex stopMutex_;  // guards thread_ once running
    std::thread thread_;
};

// libusb's error code as the seam's status.
UsbStatus usbStatusOfLibusb(int code);

}  // namespace quintalis
