#pragma once

#include <sdbus-c++/sdbus-c++.h>

#include <functional>
#include <memory>

#include "platform/gatt.h"

namespace quintalis::bluez {

// What bluetoothd puts in the advertising packets: a connectable
// ("peripheral"), discoverable advertisement with the local name, the
// services and the appearance of a keyboard-and-pointer HID device.
struct AdvertisementData {
    std::string localName;
    std::vector<BluetoothUUID> services;
    uint16_t appearance = 0x03C0;  // generic HID
};

// One LEAdvertisement1 object, registered with one adapter. bluetoothd
// reads its properties once, at registration.
//
// Threads: built and destroyed on the owner's queue; onRelease runs on the
// D-Bus thread.
class Advertisement {
public:
    Advertisement(sdbus::IConnection& connection, std::string path, const AdvertisementData& data,
                  std::function<void()> onRelease);
    const std::string& path() const { return path_; }

private:
    std::string path_;
    std::unique_ptr<sdbus::IObject> object_;
};

}  // namespace quintalis::bluez
