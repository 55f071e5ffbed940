#pragma once

#include "platform/usb_bus.h"

namespace quintalis {

// The phone's name and model from its lockdown service, through usbmuxd
// (libimobiledevice). Answers only while usbmuxd runs and the phone trusts
// this computer. Safe to call from any thread; each call connects afresh.
class LockdownFacts final : public PhoneLockdown {
public:
    std::optional<PhoneFacts> facts(const std::string& udid) override;
    // Whether usbmuxd listens on its socket.
    bool usbmuxdRunning() override;
    // Whether usbmuxd lists the phone among its USB devices.
    bool usbmuxdHas(const std::string& udid) override;
};

}  // namespace quintalis
