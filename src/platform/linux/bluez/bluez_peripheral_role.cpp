#include "platform/linux/bluez/bluez_peripheral_role.h"

#include <sdbus-c++/sdbus-c++.h>

#include <algorithm>

#include "base/log.h"
#include "platform/linux/bluez/bluez_peripheral_manager.h"
#include "platform/linux/unsupported_peripheral_role.h"

namespace quintalis {

BluezPeripheralRole::BluezPeripheralRole(Connect connect) : connect_(std::move(connect)) {}

bool BluezPeripheralRole::available() {
    try {
        auto connection = systemBus()();
        auto daemon = sdbus::createProxy(*connection, "org.freedesktop.DBus", "/org/freedesktop/DBus");
        bool owned = false;
        daemon->callMethod("NameHasOwner").onInterface("org.freedesktop.DBus").withArguments(std::string(bluez::kService)).storeResultsTo(owned);
        if (owned) return true;
        std::vector<std::string> activatable;
        daemon->callMethod("ListActivatableNames").onInterface("org.freedesktop.DBus").storeResultsTo(activatable);
        return std::find(activatable.begin(), activatable.end(), bluez::kService) != activatable.end();
    } catch (const sdbus::Error&) {
        return false;
    }
}

BluezPeripheralRole::Connect BluezPeripheralRole::systemBus() {
    return [] { return sdbus::createSystemBusConnection(); };
}

std::unique_ptr<PeripheralManager> BluezPeripheralRole::makeManager(PeripheralManagerDelegate& delegate, SerialQueue& queue) {
    try {
        return std::make_unique<bluez::BluezPeripheralManager>(connect_(), delegate, queue);
    } catch (const sdbus::Error& error) {
        log("cannot reach the system bus: " + error.getMessage());
        return UnsupportedPeripheralRole().makeManager(delegate, queue);
    }
}

}  // namespace quintalis
