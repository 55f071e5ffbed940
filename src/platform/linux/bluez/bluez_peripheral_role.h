#pragma once

#include <functional>
#include <memory>

#include "platform/linux/bluez/bluez_settings.h"
#include "platform/peripheral_manager.h"

namespace sdbus {
class IConnection;
}

namespace quintalis {

// The peripheral role through bluetoothd (BlueZ) on the system bus. Each
// manager opens a connection of its own, so everything it registered with
// bluetoothd goes away with it.
class BluezPeripheralRole final : public BluetoothPeripheralRole {
public:
    using Connect = std::function<std::unique_ptr<sdbus::IConnection>()>;

    // `connect` opens the bus bluetoothd is on (the system bus, or a test's).
    explicit BluezPeripheralRole(Connect connect, bluez::BluezSettings settings = {});

    // Whether the system bus answers. bluetoothd need not be on it yet: the
    // manager waits for it and uses it when it appears.
    static bool available();
    // Opens the system bus ($DBUS_SYSTEM_BUS_ADDRESS when set).
    static Connect systemBus();

    // bluetoothd decides who may use it (its D-Bus policy); a refusal shows
    // as the manager's unauthorized state instead.
    BluetoothAuthorization authorization() const override { return BluetoothAuthorization::allowedAlways; }
    std::unique_ptr<PeripheralManager> makeManager(PeripheralManagerDelegate& delegate, SerialQueue& queue) override;

private:
    Connect connect_;
    bluez::BluezSettings settings_;
};

}  // namespace quintalis
