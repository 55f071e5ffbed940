#include "platform/linux/bluez/bluez_peripheral_role.h"

#include <sdbus-c++/sdbus-c++.h>

#include <algorithm>

#include "base/log.h"
#include "platform/linux/bluez/bluez_peripheral_manager.h"
#include "platform/linux/unsupported_peripheral_role.h"

namespace quintalis {

BluezPeripheralRole::BluezPeripheralRole(Connect connect, bluez::BluezSettings settings)
    : connect_(std::move(connect)), settings_(std::move(settings)) {}

bool BluezPeripheralRole::available() {
    try {
        auto connection = systemBus()();
        auto daemon = sdbus::createProxy(*connection, "org.freedesktop.DBus", "/org/freedesktop/DBus");
        std::string id;
        daemon->callMethod("GetId").onInterface("org.freedesktop.DBus").storeResultsTo(id);
        return true;
    } catch (const sdbus::Error&) {
        return false;
    }
}

BluezPeripheralRole::Connect BluezPeripheralRole::systemBus() {
    return [] { return sdbus::createSystemBusConnection(); };
}

std::unique_ptr<PeripheralManager> BluezPeripheralRole::makeManager(PeripheralManagerDelegate& delegate, SerialQueue& queue) {
    try {
        return std::make_unique<bluez::BluezPeripheralManager>(connect_(), delegate, queue, settings_);
    } catch (const sdbus::Error& error) {
        log("cannot reach the system bus: " + error.getMessage());
        return UnsupportedPeripheralRole().makeManager(delegate, queue);
    }
}

}  // namespace quintalis
