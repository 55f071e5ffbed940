#pragma once

#include <map>
#include <mutex>
#include <vector>

#include "platform/usb_bus.h"
#include "simulator/simulated_usb_device.h"

namespace quintalis::simulator {

// The virtual iPhones' USB bus, and what their lockdown service would say
// about them. Safe to call from any thread; hot-plug observers are called on
// the re-enumerating device's queue.
class SimulatedUsbBus final : public UsbBus, public PhoneLockdown {
public:
    // Plugs a device in; it must outlive the bus.
    void add(SimulatedUsbDevice& device, PhoneFacts facts);

    std::vector<UsbDeviceInfo> devices() override;
    UsbStatus open(const std::string& address, std::unique_ptr<UsbDeviceHandle>& handle) override;
    void addHotplugObserver(std::function<void()> observer) override;
    void stop() override;

    std::optional<PhoneFacts> facts(const std::string& udid) override;
    bool usbmuxdRunning() override { return false; }

private:
    void notify();

    std::mutex mutex_;  // guards everything below
    std::vector<SimulatedUsbDevice*> devices_;
    std::map<std::string, PhoneFacts> facts_;  // by serial
    std::vector<std::function<void()>> observers_;
};

}  // namespace quintalis::simulator
