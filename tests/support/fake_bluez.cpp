#include "support/fake_bluez.h"

#include <sys/socket.h>

#include <algorithm>
#include <set>

namespace quintalis::testing {
namespace {

constexpr const char* kObjectManager = "org.freedesktop.DBus.ObjectManager";
constexpr const char* kCharacteristic = "org.bluez.GattCharacteristic1";

std::string fullUUID(const std::string& shortUuid) {
    std::string lower = shortUuid;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    return "0000" + lower + "-0000-1000-8000-00805f9b34fb";
}

std::string senderOf(const sdbus::IObject& object) { return object.getCurrentlyProcessedMessage()->getSender(); }

// The flags bluetoothd 5.66 knows (src/gatt-database.c, parse_chrc_flags and parse_desc_flags).
const std::set<std::string> kCharacteristicFlags{
    "broadcast", "read", "write-without-response", "write", "notify", "indicate", "authenticated-signed-writes",
    "extended-properties", "reliable-write", "writable-auxiliaries", "encrypt-read", "encrypt-write", "encrypt-notify",
    "encrypt-indicate", "encrypt-authenticated-read", "encrypt-authenticated-write", "encrypt-authenticated-notify",
    "encrypt-authenticated-indicate", "secure-read", "secure-write", "secure-notify", "secure-indicate", "authorize"};
const std::set<std::string> kDescriptorFlags{
    "read", "write", "encrypt-read", "encrypt-write", "encrypt-authenticated-read", "encrypt-authenticated-write",
    "secure-read", "secure-write", "authorize"};
constexpr uint16_t kOwnAttributes = 0x000F;  // bluetoothd's Generic Access and Generic Attribute services

sdbus::Error failed(const std::string& message) { return sdbus::Error("org.bluez.Error.Failed", message); }

}  // namespace

// Like bluetoothd: the objects in the order sd-bus lists them (newest
// first), each parent before its children; a handle the object asks for,
// else the next free one.
std::map<std::string, uint16_t> FakeBluez::admit(const Objects& objects) {
    auto of = [&](const char* interface) {
        std::vector<std::pair<std::string, const Properties*>> found;
        for (const auto& [path, interfaces] : objects) {
            if (auto entry = interfaces.find(interface); entry != interfaces.end()) found.emplace_back(path, &entry->second);
        }
        std::reverse(found.begin(), found.end());
        return found;
    };
    auto services = of("org.bluez.GattService1");
    auto characteristics = of(kCharacteristic);
    auto descriptors = of("org.bluez.GattDescriptor1");
    auto flagsOf = [](const Properties& properties, const std::set<std::string>& known) {
        auto flags = properties.at("Flags").get<std::vector<std::string>>();
        for (const auto& flag : flags) {
            if (!known.count(flag)) throw failed("unknown flag " + flag);
        }
        return flags;
    };
    auto handleOf = [](const Properties& properties) {
        auto found = properties.find("Handle");
        return found == properties.end() ? uint16_t{0} : found->second.get<uint16_t>();
    };
    std::map<std::string, uint16_t> handles;
    std::set<uint16_t> taken;
    uint16_t next = kOwnAttributes + 1;
    auto place = [&](uint16_t wanted) {
        uint16_t handle = wanted ? wanted : next;
        if (handle <= kOwnAttributes || taken.count(handle)) throw failed("Failed to create entry in database");
        taken.insert(handle);
        next = std::max<uint16_t>(next, static_cast<uint16_t>(handle + 1));
        return handle;
    };
    for (const auto& [service, properties] : services) {
        std::string uuid = properties->at("UUID").get<std::string>();
        if (uuid == fullUUID("1800") || uuid == fullUUID("1801")) throw failed("the GAP and GATT services are bluetoothd's own");
        properties->at("Primary").get<bool>();
        handles[service] = place(handleOf(*properties));
        for (const auto& [characteristic, chrc] : characteristics) {
            if (chrc->at("Service").get<sdbus::ObjectPath>() != service) continue;
            auto flags = flagsOf(*chrc, kCharacteristicFlags);
            uint16_t value = handleOf(*chrc);
            place(value ? static_cast<uint16_t>(value - 1) : 0);  // the declaration
            handles[characteristic] = place(value);
            auto has = [&](const char* word) { return std::any_of(flags.begin(), flags.end(), [&](const std::string& f) { return f.find(word) != std::string::npos; }); };
            if (has("notify") || has("indicate")) place(0);  // the configuration descriptor
            for (const auto& [descriptor, desc] : descriptors) {
                if (desc->at("Characteristic").get<sdbus::ObjectPath>() != characteristic) continue;
                flagsOf(*desc, kDescriptorFlags);
                handles[descriptor] = place(handleOf(*desc));
            }
        }
    }
    auto parentKnown = [&](const auto& list, const char* parent) {
        for (const auto& [path, properties] : list) {
            if (!handles.count(properties->at(parent).template get<sdbus::ObjectPath>())) {
                throw failed(path + ": " + parent + " is not an object of the application");
            }
        }
    };
    parentKnown(characteristics, "Service");
    parentKnown(descriptors, "Characteristic");
    return handles;
}

FakeBluez::FakeBluez(const PrivateBus& bus) : connection_(bus.connect()) {
    root_ = sdbus::createObject(*connection_, "/");
    root_->addObjectManager();
    agentManager_ = sdbus::createObject(*connection_, "/org/bluez");
    auto* manager = agentManager_.get();
    manager->registerMethod("RegisterAgent").onInterface("org.bluez.AgentManager1").implementedAs(
        [this, manager](const sdbus::ObjectPath& path, const std::string& capability) {
            std::lock_guard lock(mutex_);
            if (agent_) throw sdbus::Error("org.bluez.Error.AlreadyExists", "Already Exists");
            agent_ = Registration{senderOf(*manager), path, {}};
            agentCapability_ = capability;
        });
    manager->registerMethod("RequestDefaultAgent").onInterface("org.bluez.AgentManager1").implementedAs(
        [this](const sdbus::ObjectPath& path) {
            std::lock_guard lock(mutex_);
            if (!agent_ || agent_->path != path) throw sdbus::Error("org.bluez.Error.DoesNotExist", "Does Not Exist");
            agentDefault_ = true;
        });
    manager->registerMethod("UnregisterAgent").onInterface("org.bluez.AgentManager1").implementedAs([this](const sdbus::ObjectPath& path) {
        std::lock_guard lock(mutex_);
        if (!agent_ || agent_->path != path) throw sdbus::Error("org.bluez.Error.DoesNotExist", "Does Not Exist");
        agent_.reset();
        agentDefault_ = false;
    });
    manager->finishRegistration();
    connection_->enterEventLoopAsync();
}

FakeBluez::~FakeBluez() {
    connection_->leaveEventLoop();
    devices_.clear();
    adapters_.clear();
    agentManager_.reset();
    root_.reset();
}

void FakeBluez::start() { connection_->requestName("org.bluez"); }

void FakeBluez::addAdapter(const std::string& name, bool powered) {
    {
        std::lock_guard lock(mutex_);
        adapters_[name].powered = powered;
    }
    exportAdapter(name);
}

void FakeBluez::exportAdapter(const std::string& name) {
    auto object = sdbus::createObject(*connection_, "/org/bluez/" + name);
    auto* self = object.get();
    object->registerProperty("Address").onInterface("org.bluez.Adapter1").withGetter([] { return std::string("00:1A:7D:DA:71:13"); });
    object->registerProperty("Powered").onInterface("org.bluez.Adapter1").withGetter([this, name] {
        std::lock_guard lock(mutex_);
        return adapters_[name].powered;
    });
    // bluetoothd's default alias is the host name; it serves it as the GAP device name.
    object->registerProperty("Alias").onInterface("org.bluez.Adapter1").withGetter([] { return std::string("workstation"); });
    object->registerProperty("Pairable").onInterface("org.bluez.Adapter1").withGetter([this, name] {
        std::lock_guard lock(mutex_);
        return adapters_[name].pairable;
    }).withSetter([this, name](const bool& pairable) {
        std::lock_guard lock(mutex_);
        adapters_[name].pairable = pairable;
    });
    object->registerProperty("PairableTimeout").onInterface("org.bluez.Adapter1").withGetter([this, name] {
        std::lock_guard lock(mutex_);
        return adapters_[name].pairableTimeout;
    }).withSetter([this, name](const uint32_t& timeout) {
        std::lock_guard lock(mutex_);
        adapters_[name].pairableTimeout = timeout;
    });
    // Like bluetoothd: walk the whole application before answering.
    object->registerMethod("RegisterApplication").onInterface("org.bluez.GattManager1").implementedAs(
        [this, name, self](const sdbus::ObjectPath& path, const Properties&) {
            {
                std::lock_guard lock(mutex_);
                ++adapters_[name].registrations;
                if (refusals_ > 0) {
                    --refusals_;
                    throw failed(refusal_);
                }
            }
            Registration registration{senderOf(*self), path, {}};
            auto proxy = sdbus::createProxy(*connection_, registration.sender, path);
            proxy->callMethod("GetManagedObjects").onInterface(kObjectManager).storeResultsTo(registration.objects);
            auto handles = admit(registration.objects);
            std::lock_guard lock(mutex_);
            auto& adapter = adapters_[name];
            if (adapter.application) throw sdbus::Error("org.bluez.Error.AlreadyExists", "Already Exists");
            adapter.application = std::move(registration);
            adapter.handles = std::move(handles);
        });
    object->registerMethod("UnregisterApplication").onInterface("org.bluez.GattManager1").implementedAs(
        [this, name](const sdbus::ObjectPath&) {
            std::lock_guard lock(mutex_);
            adapters_[name].application.reset();
            adapters_[name].notify.clear();
        });
    object->registerMethod("RegisterAdvertisement").onInterface("org.bluez.LEAdvertisingManager1").implementedAs(
        [this, name, self](const sdbus::ObjectPath& path, const Properties&) {
            Registration registration{senderOf(*self), path, {}};
            auto proxy = sdbus::createProxy(*connection_, registration.sender, path);
            Properties advertised;
            proxy->callMethod("GetAll").onInterface("org.freedesktop.DBus.Properties")
                .withArguments(std::string("org.bluez.LEAdvertisement1")).storeResultsTo(advertised);
            std::lock_guard lock(mutex_);
            auto& adapter = adapters_[name];
            if (adapter.advertisement) throw sdbus::Error("org.bluez.Error.AlreadyExists", "Already Exists");
            adapter.advertisement = std::move(registration);
            adapter.advertised = std::move(advertised);
        });
    object->registerMethod("UnregisterAdvertisement").onInterface("org.bluez.LEAdvertisingManager1").implementedAs(
        [this, name](const sdbus::ObjectPath&) {
            std::lock_guard lock(mutex_);
            adapters_[name].advertisement.reset();
            adapters_[name].advertised.clear();
        });
    object->finishRegistration();
    object->emitInterfacesAddedSignal();
    std::lock_guard lock(mutex_);
    adapters_[name].object = std::move(object);
}

void FakeBluez::setPowered(const std::string& adapter, bool powered) {
    sdbus::IObject* object;
    {
        std::lock_guard lock(mutex_);
        adapters_[adapter].powered = powered;
        object = adapters_[adapter].object.get();
    }
    object->emitPropertiesChangedSignal("org.bluez.Adapter1", {"Powered"});
}

void FakeBluez::refuseApplications(int count, const std::string& message) {
    std::lock_guard lock(mutex_);
    refusals_ = count;
    refusal_ = message;
}

int FakeBluez::applicationRegistrations(const std::string& adapter) const {
    std::lock_guard lock(mutex_);
    auto found = adapters_.find(adapter);
    return found == adapters_.end() ? 0 : found->second.registrations;
}

uint16_t FakeBluez::handle(const std::string& adapter, const std::string& path) const {
    std::lock_guard lock(mutex_);
    const auto& handles = adapters_.at(adapter).handles;
    auto found = handles.find(path);
    return found == handles.end() ? 0 : found->second;
}

bool FakeBluez::pairable(const std::string& adapter) const {
    std::lock_guard lock(mutex_);
    return adapters_.at(adapter).pairable;
}

uint32_t FakeBluez::pairableTimeout(const std::string& adapter) const {
    std::lock_guard lock(mutex_);
    return adapters_.at(adapter).pairableTimeout;
}

void FakeBluez::changeAddress(const std::string& device, const std::string& address) {
    {
        std::lock_guard lock(mutex_);
        devices_[device].address = address;
    }
    devices_[device].object->emitPropertiesChangedSignal("org.bluez.Device1", {"Address"});
}

std::string FakeBluez::connect(const std::string& adapter, const std::string& address, Bearer bearer) {
    std::string id = address;
    std::replace(id.begin(), id.end(), ':', '_');
    std::string path = "/org/bluez/" + adapter + "/dev_" + id;
    bool known;
    {
        std::lock_guard lock(mutex_);
        known = devices_.count(path) > 0;
        auto& device = devices_[path];
        device.address = address;
        device.adapter = adapter;
        device.connected = true;
        device.classic = bearer == Bearer::classic;
    }
    if (known) {
        devices_[path].object->emitPropertiesChangedSignal("org.bluez.Device1", {"Connected"});
    } else {
        exportDevice(path);
    }
    return path;
}

void FakeBluez::exportDevice(const std::string& path) {
    auto object = sdbus::createObject(*connection_, path);
    const char* interface = "org.bluez.Device1";
    auto field = [this, path](auto member) {
        return [this, path, member] {
            std::lock_guard lock(mutex_);
            return devices_[path].*member;
        };
    };
    object->registerProperty("Address").onInterface(interface).withGetter(field(&DeviceState::address));
    object->registerProperty("Adapter").onInterface(interface).withGetter([this, path] {
        std::lock_guard lock(mutex_);
        return sdbus::ObjectPath("/org/bluez/" + devices_[path].adapter);
    });
    object->registerProperty("Connected").onInterface(interface).withGetter(field(&DeviceState::connected));
    bool classic;
    {
        std::lock_guard lock(mutex_);
        classic = devices_[path].classic;
    }
    // Only BR/EDR devices have a Class of Device.
    if (classic) object->registerProperty("Class").onInterface(interface).withGetter([] { return uint32_t{0x240404}; });
    object->registerProperty("Paired").onInterface(interface).withGetter(field(&DeviceState::paired));
    object->registerProperty("Trusted").onInterface(interface).withGetter(field(&DeviceState::trusted)).withSetter(
        [this, path](const bool& trusted) {
            std::lock_guard lock(mutex_);
            devices_[path].trusted = trusted;
        });
    object->finishRegistration();
    object->emitInterfacesAddedSignal();
    std::lock_guard lock(mutex_);
    devices_[path].object = std::move(object);
}

void FakeBluez::disconnect(const std::string& device) {
    {
        std::lock_guard lock(mutex_);
        devices_[device].connected = false;
    }
    devices_[device].object->emitPropertiesChangedSignal("org.bluez.Device1", {"Connected"});
}

FakeBluez::Objects FakeBluez::application(const std::string& adapter) const {
    std::lock_guard lock(mutex_);
    auto found = adapters_.find(adapter);
    return found != adapters_.end() && found->second.application ? found->second.application->objects : Objects{};
}

FakeBluez::Properties FakeBluez::advertisement(const std::string& adapter) const {
    std::lock_guard lock(mutex_);
    auto found = adapters_.find(adapter);
    return found != adapters_.end() ? found->second.advertised : Properties{};
}

std::string FakeBluez::agentCapability() const {
    std::lock_guard lock(mutex_);
    return agent_ ? agentCapability_ : "";
}

bool FakeBluez::agentIsDefault() const {
    std::lock_guard lock(mutex_);
    return agentDefault_;
}

std::vector<std::string> FakeBluez::characteristics(const std::string& adapter, const std::string& service) const {
    auto objects = application(adapter);
    std::string servicePath;
    for (const auto& [path, interfaces] : objects) {
        auto found = interfaces.find("org.bluez.GattService1");
        if (found != interfaces.end() && found->second.at("UUID").get<std::string>() == fullUUID(service)) servicePath = path;
    }
    std::vector<std::string> paths;  // the map keeps them sorted, which is the order they were made in
    for (const auto& [path, interfaces] : objects) {
        auto found = interfaces.find(kCharacteristic);
        if (found != interfaces.end() && std::string(found->second.at("Service").get<sdbus::ObjectPath>()) == servicePath) {
            paths.push_back(path);
        }
    }
    return paths;
}

std::vector<std::string> FakeBluez::descriptors(const std::string& adapter, const std::string& characteristic) const {
    std::vector<std::string> paths;
    for (const auto& [path, interfaces] : application(adapter)) {
        auto found = interfaces.find("org.bluez.GattDescriptor1");
        if (found != interfaces.end() &&
            std::string(found->second.at("Characteristic").get<sdbus::ObjectPath>()) == characteristic) {
            paths.push_back(path);
        }
    }
    return paths;
}

std::unique_ptr<sdbus::IProxy> FakeBluez::application(const std::string& adapter, const std::string& path) {
    std::string sender;
    {
        std::lock_guard lock(mutex_);
        sender = adapters_.at(adapter).application.value().sender;
    }
    return sdbus::createProxy(*connection_, sender, path);
}

FakeBluez::Reply FakeBluez::read(const std::string& adapter, const std::string& path, const std::string& device, uint16_t offset) {
    bool descriptor = path.find("/desc") != std::string::npos;
    Properties options{{"device", sdbus::Variant(sdbus::ObjectPath(device))}, {"mtu", sdbus::Variant(uint16_t(185))}};
    if (offset) options["offset"] = sdbus::Variant(offset);
    Reply reply;
    try {
        application(adapter, path)->callMethod("ReadValue")
            .onInterface(descriptor ? "org.bluez.GattDescriptor1" : kCharacteristic)
            .withArguments(options).storeResultsTo(reply.value);
    } catch (const sdbus::Error& error) {
        reply.error = error.getName();
    }
    return reply;
}

FakeBluez::Reply FakeBluez::write(const std::string& adapter, const std::string& path, const std::string& device,
                                  const std::vector<uint8_t>& value) {
    Properties options{{"device", sdbus::Variant(sdbus::ObjectPath(device))}, {"type", sdbus::Variant(std::string("command"))}};
    Reply reply;
    try {
        application(adapter, path)->callMethod("WriteValue").onInterface(kCharacteristic).withArguments(value, options);
    } catch (const sdbus::Error& error) {
        reply.error = error.getName();
    }
    return reply;
}

// bluetoothd 5.66, ccc_write_cb: a socket already open only counts one more
// subscriber; otherwise AcquireNotify when the characteristic offers it
// (NotifyAcquired present), else StartNotify.
void FakeBluez::enableNotifications(const std::string& adapter, const std::string& characteristic, const std::string& device) {
    bool acquirable;
    {
        std::lock_guard lock(mutex_);
        auto& notify = adapters_.at(adapter).notify[characteristic];
        if (notify.socket.get() >= 0) {
            ++notify.subscribers;
            return;
        }
        const auto& objects = adapters_.at(adapter).application.value().objects;
        acquirable = objects.at(sdbus::ObjectPath(characteristic)).at(kCharacteristic).count("NotifyAcquired") > 0;
    }
    auto proxy = application(adapter, characteristic);
    if (!acquirable) {
        try {
            proxy->callMethod("StartNotify").onInterface(kCharacteristic);
        } catch (const sdbus::Error&) {
        }
        return;
    }
    sdbus::UnixFd socket;
    uint16_t mtu = 0;
    Properties options{{"device", sdbus::Variant(sdbus::ObjectPath(device))},
                       {"mtu", sdbus::Variant(uint16_t(185))},
                       {"link", sdbus::Variant(std::string("LE"))}};
    proxy->callMethod("AcquireNotify").onInterface(kCharacteristic).withArguments(options).storeResultsTo(socket, mtu);
    std::lock_guard lock(mutex_);
    auto& notify = adapters_.at(adapter).notify[characteristic];
    notify.socket = std::move(socket);
    notify.subscribers = 1;
}

void FakeBluez::disableNotifications(const std::string& adapter, const std::string& characteristic) {
    std::lock_guard lock(mutex_);
    auto& notify = adapters_.at(adapter).notify[characteristic];
    if (notify.subscribers > 0 && --notify.subscribers == 0) notify.socket.reset();
}

int FakeBluez::notifySocket(const std::string& adapter, const std::string& characteristic) const {
    std::lock_guard lock(mutex_);
    auto& notify = adapters_.at(adapter).notify;
    auto found = notify.find(characteristic);
    return found == notify.end() ? -1 : found->second.socket.get();
}

std::vector<std::vector<uint8_t>> FakeBluez::received(const std::string& adapter, const std::string& characteristic) {
    std::lock_guard lock(mutex_);
    auto& notify = adapters_.at(adapter).notify[characteristic];
    uint8_t buffer[512];  // what bluetoothd reads at a time
    while (notify.socket.get() >= 0) {
        ssize_t got = recv(notify.socket.get(), buffer, sizeof buffer, MSG_DONTWAIT);
        if (got <= 0) break;
        notify.received.emplace_back(buffer, buffer + got);
    }
    return notify.received;
}

// The kernel refuses to bond through an adapter that is not pairable. It
// pairs "Just Works" without asking anyone when there is no agent; with a
// default agent, bluetoothd asks it (as it does for a re-pairing).
std::string FakeBluez::pair(const std::string& device) {
    std::optional<Registration> agent;
    {
        std::lock_guard lock(mutex_);
        if (!adapters_[devices_[device].adapter].pairable) return "org.bluez.Error.AuthenticationFailed";
        if (agentDefault_) agent = agent_;
    }
    if (agent) {
        auto proxy = sdbus::createProxy(*connection_, agent->sender, agent->path);
        try {
            proxy->callMethod("RequestAuthorization").onInterface("org.bluez.Agent1").withArguments(sdbus::ObjectPath(device));
        } catch (const sdbus::Error& error) {
            return error.getName();
        }
    }
    {
        std::lock_guard lock(mutex_);
        devices_[device].paired = true;
    }
    devices_[device].object->emitPropertiesChangedSignal("org.bluez.Device1", {"Paired"});
    return "";
}

std::string FakeBluez::authorizeService(const std::string& device, const std::string& uuid) {
    std::optional<Registration> agent;
    {
        std::lock_guard lock(mutex_);
        agent = agent_;
    }
    if (!agent) return "org.bluez.Error.Rejected";  // bluetoothd refuses when nobody can be asked
    auto proxy = sdbus::createProxy(*connection_, agent->sender, agent->path);
    try {
        proxy->callMethod("AuthorizeService").onInterface("org.bluez.Agent1").withArguments(sdbus::ObjectPath(device), uuid);
    } catch (const sdbus::Error& error) {
        return error.getName();
    }
    return "";
}

bool FakeBluez::trusted(const std::string& device) const {
    std::lock_guard lock(mutex_);
    return devices_.at(device).trusted;
}

}  // namespace quintalis::testing
