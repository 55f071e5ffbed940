#include "platform/linux/bluez/bluez_peripheral_manager.h"

#include <algorithm>

#include "base/log.h"
#include "base/queue_check.h"

namespace quintalis::bluez {
namespace {

constexpr const char* kApplicationRoot = "/org/quintalis/gatt/";
constexpr const char* kAdvertisementRoot = "/org/quintalis/advertisement/";
constexpr int kAlreadyAdvertising = 9;

const std::map<std::string, sdbus::Variant> kNoOptions;

}  // namespace

BluezPeripheralManager::BluezPeripheralManager(std::unique_ptr<sdbus::IConnection> connection,
                                               PeripheralManagerDelegate& delegate, SerialQueue& queue,
                                               BluezSettings settings)
    : delegate_(delegate), queue_(queue), settings_(std::move(settings)), hosts_(settings_.hostBook) {
    bus_ = std::make_unique<Bus>(std::move(connection), queue,
                                 Bus::Events{
                                     [this](bool present) { onPresence(present); },
                                     [this](const ObjectMap& objects) { onObjects(objects); },
                                     [this](const BusError& error) { onObjectsFailed(error); },
                                     [this](const std::string& path, const InterfaceMap& interfaces) {
                                         directory_.interfacesAdded(path, interfaces);
                                         objectsChanged();
                                     },
                                     [this](const std::string& path, const std::vector<std::string>& interfaces) {
                                         if (std::find(interfaces.begin(), interfaces.end(), kDeviceInterface) != interfaces.end()) {
                                             onDeviceRemoved(path);
                                         }
                                         directory_.interfacesRemoved(path, interfaces);
                                         objectsChanged();
                                     },
                                     [this](const std::string& path, const std::string& interface, const PropertyMap& changed) {
                                         if (interface == kDeviceInterface) onDeviceChanged(path, changed);
                                         directory_.propertiesChanged(path, interface, changed);
                                         objectsChanged();
                                     },
                                 });
    agent_ = std::make_unique<Agent>(bus_->connection(), Agent::kPath, [this](const std::string& device, Agent::Answer answer) {
        post([this, device, answer] {
            auto refusal = pairingRefusal(device);
            if (!refusal) {
                acceptedDevices_.insert(device);
                trustAcceptedDevices();
            }
            answer(refusal);
        });
    });
    bus_->fetchObjects();
}

// Closing the connection is what unregisters the application, the
// advertisements and the agent: bluetoothd drops whatever a client that
// leaves the bus had registered.
BluezPeripheralManager::~BluezPeripheralManager() {
    for (auto& [path, link] : links_) {
        for (auto& [characteristic, channel] : link.channels) sockets_.unwatch(channel.watch);
    }
    links_.clear();
    // Unanswered calls hold messages of the connection; they go before it does.
    reads_.clear();
    writes_.clear();
    agent_.reset();
    bus_.reset();
}

// Through the bus, so nothing posted runs once the bus (and this) has gone.
void BluezPeripheralManager::post(Task task) { bus_->post(std::move(task)); }

ManagerState BluezPeripheralManager::state() const {
    QUINTALIS_ON_QUEUE(queue_);
    if (!fetched_) return ManagerState::unknown;
    if (denied_) return ManagerState::unauthorized;
    // Never seen in this run, bluetoothd may not be installed at all.
    if (!directory_.present()) return everPresent_ ? ManagerState::resetting : ManagerState::unsupported;
    bool any = false;
    for (const auto& [path, adapter] : directory_.adapters()) {
        if (!selected(path)) continue;
        if (adapter.powered) return ManagerState::poweredOn;
        any = true;
    }
    return any ? ManagerState::poweredOff : ManagerState::unsupported;
}

std::string BluezPeripheralManager::unusableReason() const {
    QUINTALIS_ON_QUEUE(queue_);
    switch (state()) {
        case ManagerState::resetting: return "bluetoothd stopped";
        // Both without bluetoothd and without an adapter the state is the same.
        case ManagerState::unsupported:
            return directory_.present() ? "no Bluetooth adapter" : "bluetoothd is not running";
        default: return {};
    }
}

bool BluezPeripheralManager::selected(const std::string& adapter) const {
    return settings_.adapters.empty() || settings_.adapters.count(adapterName(adapter)) > 0;
}

// A phone pairs under its private address and goes on under its identity
// address; it stays the same host.
void BluezPeripheralManager::onDeviceChanged(const std::string& path, const PropertyMap& changed) {
    auto address = changed.find("Address");
    const Device* device = directory_.device(path);
    if (address == changed.end() || !device) return;
    const auto* now = std::get_if<std::string>(&address->second);
    if (!now || *now == device->address || !hosts_.knows(device->address)) return;
    log(device->address + " is now " + *now);
    hosts_.moved(device->address, *now);
}

// A device that never paired is gone for good; a bonded one's object goes
// only when it is removed, or with its adapter, which may come back.
void BluezPeripheralManager::onDeviceRemoved(const std::string& path) {
    const Device* device = directory_.device(path);
    if (device && !device->paired) hosts_.forget(device->address);
}

void BluezPeripheralManager::onPresence(bool present) {
    if (present) {
        log("bluetoothd is on the bus");
        bus_->fetchObjects();
        return;
    }
    log("bluetoothd left the bus");
    // Everything it held for us went with it.
    directory_.setPresent(false);
    agentState_ = Registration::none;
    objectsChanged();
}

void BluezPeripheralManager::onObjects(const ObjectMap& objects) {
    fetched_ = true;
    denied_ = false;
    everPresent_ = true;
    directory_.reset(objects);
    if (pairing_) registerAgent();
    objectsChanged();
}

void BluezPeripheralManager::onObjectsFailed(const BusError& error) {
    fetched_ = true;
    denied_ = error.name == "org.freedesktop.DBus.Error.AccessDenied";
    log("cannot reach bluetoothd: " + error.message);
    directory_.setPresent(false);
    objectsChanged();
}

void BluezPeripheralManager::objectsChanged() {
    QUINTALIS_ON_QUEUE(queue_);
    syncLinks();
    trustAcceptedDevices();
    reconcile();
    reportState();
    // bluetoothd serves the adapter's alias as the GAP device name, which is
    // what a phone lists once paired.
    std::string name;
    for (const auto& [path, link] : links_) {
        const auto& adapter = directory_.adapters().at(path);
        if (link.powered && !adapter.alias.empty()) {
            name = adapter.alias;
            break;
        }
    }
    if (name != deviceName_) {
        deviceName_ = name;
        post([this, name] { delegate_.didUpdateDeviceName(name); });
    }
}

// Keeps one link per adapter, logs power changes, and registers on every
// powered adapter while advertising is wanted.
void BluezPeripheralManager::syncLinks() {
    for (auto it = links_.begin(); it != links_.end();) {
        if (directory_.adapters().count(it->first) && selected(it->first)) {
            ++it;
            continue;
        }
        log(adapterName(it->first) + " is gone");
        for (auto& [characteristic, channel] : it->second.channels) sockets_.unwatch(channel.watch);
        if (awaitingStart_.count(it->first)) registrationFinished(it->first, BusError{kFailed, "the adapter went away"});
        it = links_.erase(it);
    }
    for (const auto& [path, adapter] : directory_.adapters()) {
        if (!selected(path)) continue;
        auto [entry, added] = links_.try_emplace(path);
        Link& link = entry->second;
        if (added || link.powered != adapter.powered) {
            log(adapterName(path) + (adapter.powered ? " powered on" : " powered off"));
        }
        // Nobody pairs with this computer through an adapter of ours unless the user opened a window.
        if (added && !pairing_) setPairable(path, false);
        link.powered = adapter.powered;
        if (advertising_ && link.powered) ensureRegistered(path);
    }
}

void BluezPeripheralManager::reportState() {
    ManagerState now = state();
    if (now == reported_) return;
    // Leaving the powered state ends advertising, as it does on every radio;
    // the delegate publishes its services again when power comes back.
    if (reported_ == ManagerState::poweredOn) stopAdvertising();
    reported_ = now;
    post([this] { delegate_.didUpdateState(); });
}

void BluezPeripheralManager::addService(const ServiceRef& service) {
    QUINTALIS_ON_QUEUE(queue_);
    if (service->uuid == BluetoothUUID("1801")) {
        // bluetoothd serves Generic Attribute and its Service Changed itself.
        for (const auto& characteristic : service->characteristics) ownedByBluetoothd_.insert(characteristic);
    } else {
        services_.push_back(service);
        for (auto& [path, link] : links_) {
            if (link.applicationState == Registration::none) continue;
            // A registered application cannot grow; it is registered again whole.
            dropApplication(path, link);
            ensureRegistered(path);
        }
    }
    post([this, service] { delegate_.didAddService(service, Outcome::success()); });
}

void BluezPeripheralManager::removeAllServices() {
    QUINTALIS_ON_QUEUE(queue_);
    for (auto& [path, link] : links_) dropApplication(path, link);
    services_.clear();
    ownedByBluetoothd_.clear();
    announced_.clear();  // the delegate forgets the old characteristics as well
}

void BluezPeripheralManager::dropApplication(const std::string& adapter, Link& link) {
    for (auto& [characteristic, channel] : link.channels) sockets_.unwatch(channel.watch);
    link.channels.clear();
    if (link.applicationState != Registration::none) {
        bus_->call(adapter, kGattManagerInterface, "UnregisterApplication", [](const std::optional<BusError>&) {},
                   sdbus::ObjectPath(link.application->path()));
    }
    link.application.reset();
    link.applicationState = Registration::none;
}

void BluezPeripheralManager::startAdvertising(const std::string& localName, const std::vector<BluetoothUUID>& services) {
    QUINTALIS_ON_QUEUE(queue_);
    advertising_ = AdvertisementData{localName, services};
    awaitingStart_.clear();
    startError_.reset();
    startSucceeded_ = false;
    startAlready_ = false;
    for (const auto& [path, link] : links_) {
        if (link.powered) awaitingStart_.insert(path);
    }
    if (awaitingStart_.empty()) {
        advertising_.reset();
        post([this] { delegate_.didStartAdvertising(AdvertisingError{0, "no Bluetooth adapter is powered on"}); });
        return;
    }
    for (auto path : std::set<std::string>(awaitingStart_)) ensureRegistered(path);
}

// The application first, then the advertisement: bluetoothd must know the
// services before a phone can connect and look for them.
void BluezPeripheralManager::ensureRegistered(const std::string& adapter) {
    Link& link = links_[adapter];
    if (link.applicationState == Registration::pending) return;
    if (link.applicationState == Registration::done) return registerAdvertisement(adapter);
    link.application = std::make_shared<GATTApplication>(bus_->connection(), kApplicationRoot + adapterName(adapter),
                                                         services_, handlersFor(adapter));
    link.applicationState = Registration::pending;
    std::weak_ptr<GATTApplication> sent = link.application;
    bus_->call(adapter, kGattManagerInterface, "RegisterApplication",
               [this, adapter, sent](const std::optional<BusError>& error) {
                   auto found = links_.find(adapter);
                   if (found == links_.end() || sent.expired() || found->second.application != sent.lock()) return;
                   if (error && !alreadyExists(error)) {
                       found->second.application.reset();
                       found->second.applicationState = Registration::none;
                       return registrationFailed(adapter, "register the GATT application", *error);
                   }
                   found->second.applicationState = Registration::done;
                   log("GATT application registered on " + adapterName(adapter));
                   registerAdvertisement(adapter);
               },
               sdbus::ObjectPath(link.application->path()), kNoOptions);
}

void BluezPeripheralManager::registerAdvertisement(const std::string& adapter) {
    Link& link = links_[adapter];
    if (!advertising_ || link.advertisementState == Registration::pending) return;
    if (link.advertisementState == Registration::done) return registrationFinished(adapter, std::nullopt);
    std::string path = kAdvertisementRoot + adapterName(adapter);
    link.advertisement = std::make_shared<Advertisement>(bus_->connection(), path, *advertising_, [this, adapter] {
        post([this, adapter] {
            log("bluetoothd stopped advertising on " + adapterName(adapter));
            if (auto found = links_.find(adapter); found != links_.end()) {
                found->second.advertisement.reset();
                found->second.advertisementState = Registration::none;
            }
        });
    });
    link.advertisementState = Registration::pending;
    std::weak_ptr<Advertisement> sent = link.advertisement;
    bus_->call(adapter, kAdvertisingManagerInterface, "RegisterAdvertisement",
               [this, adapter, sent](const std::optional<BusError>& error) {
                   auto found = links_.find(adapter);
                   if (found == links_.end() || sent.expired() || found->second.advertisement != sent.lock()) return;
                   Link& link = found->second;
                   if (error && !alreadyExists(error)) {
                       link.advertisement.reset();
                       link.advertisementState = Registration::none;
                       return registrationFailed(adapter, "advertise", *error);
                   }
                   link.advertisementState = Registration::done;
                   link.retry.succeeded();
                   log("advertising on " + adapterName(adapter) + " as " + advertising_->localName);
                   registrationFinished(adapter, std::nullopt);
               },
               sdbus::ObjectPath(path), kNoOptions);
}

// bluetoothd refused: ask again after a while, as long as advertising is
// still wanted on that adapter.
void BluezPeripheralManager::registrationFailed(const std::string& adapter, const std::string& what,
                                                const BusError& error) {
    Link& link = links_[adapter];
    auto next = link.retry.failed(what + ": " + error.message);
    if (next.newReason) {
        log("could not " + what + " on " + adapterName(adapter) + ": " + error.message + "; trying again in " +
            std::to_string(std::chrono::duration_cast<std::chrono::seconds>(next.delay).count()) + " s, then less often");
    }
    uint64_t generation = ++link.retryGeneration;
    bus_->postAfter(next.delay, [this, adapter, generation] {
        auto found = links_.find(adapter);
        if (found == links_.end() || found->second.retryGeneration != generation || !advertising_ || !found->second.powered) {
            return;
        }
        ensureRegistered(adapter);
    });
    registrationFinished(adapter, error);
}

// startAdvertising is answered once every adapter it asked has answered:
// success if any adapter advertises. A later success (a retry) is told too.
void BluezPeripheralManager::registrationFinished(const std::string& adapter, const std::optional<BusError>& error) {
    if (!error && failureReported_ && awaitingStart_.empty()) {
        failureReported_ = false;
        post([this] { delegate_.didStartAdvertising(std::nullopt); });
        return;
    }
    if (!awaitingStart_.erase(adapter)) return;
    if (!error) {
        startSucceeded_ = true;
    } else if (alreadyExists(error)) {
        startAlready_ = true;
    } else if (!startError_) {
        startError_ = error;
    }
    if (!awaitingStart_.empty()) return;
    std::optional<AdvertisingError> result;
    if (!startSucceeded_ && startAlready_) {
        result = AdvertisingError{kAlreadyAdvertising, "already advertising"};
    } else if (!startSucceeded_) {
        // Still wanted: the retries go on, and a success is told when it comes.
        result = AdvertisingError{0, startError_ ? startError_->message : "no adapter answered"};
        failureReported_ = true;
    }
    post([this, result] { delegate_.didStartAdvertising(result); });
}

void BluezPeripheralManager::stopAdvertising() {
    advertising_.reset();
    awaitingStart_.clear();
    failureReported_ = false;
    for (auto& [path, link] : links_) {
        if (link.advertisementState != Registration::none && directory_.present()) {
            bus_->call(path, kAdvertisingManagerInterface, "UnregisterAdvertisement", [](const std::optional<BusError>&) {},
                       sdbus::ObjectPath(link.advertisement->path()));
        }
        link.advertisement.reset();
        link.advertisementState = Registration::none;
    }
}

}  // namespace quintalis::bluez
