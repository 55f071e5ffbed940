// Who may pair with this computer through the BlueZ peripheral manager:
// nobody, except inside a window the user opened, and then only a Bluetooth
// LE device connected through an adapter this program advertises on.
#include "base/log.h"
#include "base/queue_check.h"
#include "platform/linux/bluez/bluez_peripheral_manager.h"

namespace quintalis::bluez {

void BluezPeripheralManager::setPairingWindow(Duration duration) {
    QUINTALIS_ON_QUEUE(queue_);
    bool open = duration > Duration::zero();
    if (open == pairing_) {
        if (open) log("pairing window extended");
    } else {
        log(open ? "pairing window open" : "pairing window closed");
    }
    pairing_ = open;
    if (open) {
        registerAgent();
    } else {
        unregisterAgent();
    }
    auto seconds = std::chrono::duration_cast<std::chrono::seconds>(duration).count();
    for (const auto& [path, link] : links_) {
        if (!link.powered) continue;
        if (open) {
            // bluetoothd ends it by itself too, should this program die with the window open.
            bus_->call(path, kPropertiesInterface, "Set", [](const std::optional<BusError>&) {},
                       std::string(kAdapterInterface), std::string("PairableTimeout"),
                       sdbus::Variant(static_cast<uint32_t>(std::max<int64_t>(seconds, 1))));
        }
        setPairable(path, open);
    }
}

void BluezPeripheralManager::setPairable(const std::string& adapter, bool pairable) {
    if (!directory_.present()) return;
    bus_->call(adapter, kPropertiesInterface, "Set",
               [adapter, pairable](const std::optional<BusError>& error) {
                   if (error) {
                       log("could not make " + adapterName(adapter) + (pairable ? " pairable: " : " not pairable: ") +
                           error->message);
                   }
               },
               std::string(kAdapterInterface), std::string("Pairable"), sdbus::Variant(pairable));
    if (!pairable) {
        // Back to bluetoothd's default, so a window of ours does not cut short the desktop's own.
        bus_->call(adapter, kPropertiesInterface, "Set", [](const std::optional<BusError>&) {},
                   std::string(kAdapterInterface), std::string("PairableTimeout"), sdbus::Variant(uint32_t{0}));
    }
}

std::optional<std::string> BluezPeripheralManager::pairingRefusal(const std::string& path) const {
    if (!pairing_) return "no pairing window is open";
    const Device* device = directory_.device(path);
    if (!device || !device->connected) return "it is not connected";
    if (device->classic) return "only Bluetooth LE devices pair with this program";
    auto link = links_.find(device->adapter);
    if (link == links_.end() || link->second.advertisementState != Registration::done) {
        return "it is not connected through an adapter this program advertises on";
    }
    return std::nullopt;
}

// The default agent only while the window is open: bluetoothd asks the
// default agent about pairings the desktop did not start, and outside the
// window those are none of this program's business.
void BluezPeripheralManager::registerAgent() {
    if (agentState_ != Registration::none || !directory_.present()) return;
    agentState_ = Registration::pending;
    bus_->call(kAgentManagerPath, kAgentManagerInterface, "RegisterAgent",
               [this](const std::optional<BusError>& error) {
                   if (error && !alreadyExists(error)) {
                       agentState_ = Registration::none;
                       log("could not register the pairing agent: " + error->message);
                       return;
                   }
                   bus_->call(kAgentManagerPath, kAgentManagerInterface, "RequestDefaultAgent",
                              [this](const std::optional<BusError>& error) {
                                  agentState_ = Registration::done;
                                  log(error ? "the pairing agent is not the default: " + error->message
                                            : std::string("pairing agent registered (") + Agent::kCapability + ")");
                                  // The window may have closed while bluetoothd answered.
                                  if (!pairing_) unregisterAgent();
                              },
                              sdbus::ObjectPath(Agent::kPath));
               },
               sdbus::ObjectPath(Agent::kPath), std::string(Agent::kCapability));
}

void BluezPeripheralManager::unregisterAgent() {
    if (agentState_ != Registration::done) return;
    agentState_ = Registration::none;
    if (!directory_.present()) return;
    bus_->call(kAgentManagerPath, kAgentManagerInterface, "UnregisterAgent",
               [](const std::optional<BusError>& error) {
                   log(error ? "could not unregister the pairing agent: " + error->message
                             : std::string("pairing agent unregistered"));
               },
               sdbus::ObjectPath(Agent::kPath));
}

// A device this agent let pair is trusted once bluetoothd says it is
// paired, so it may reconnect without asking again. Nothing else is.
void BluezPeripheralManager::trustAcceptedDevices() {
    for (auto it = acceptedDevices_.begin(); it != acceptedDevices_.end();) {
        const Device* device = directory_.device(*it);
        if (!device || !device->paired) {
            ++it;
            continue;
        }
        if (!device->trusted) {
            bus_->call(*it, kPropertiesInterface, "Set",
                       [address = device->address](const std::optional<BusError>& error) {
                           log(error ? "could not trust " + address + ": " + error->message : "trusted " + address);
                       },
                       std::string(kDeviceInterface), std::string("Trusted"), sdbus::Variant(true));
        }
        it = acceptedDevices_.erase(it);
    }
}

}  // namespace quintalis::bluez
