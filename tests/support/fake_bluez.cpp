#include "support/fake_bluez.h"

#include <sys/socket.h>

#include <algorithm>
#include <functional>
#include <set>

namespace quintalis::testing {
namespace {

constexpr const char* kAdapter = "org.bluez.Adapter1";
constexpr const char* kDevice = "org.bluez.Device1";
constexpr const char* kService = "org.bluez.GattService1";
constexpr const char* kCharacteristic = "org.bluez.GattCharacteristic1";
constexpr const char* kDescriptor = "org.bluez.GattDescriptor1";

std::string fullUUID(std::string shortUuid) {
    std::transform(shortUuid.begin(), shortUuid.end(), shortUuid.begin(), [](unsigned char c) { return std::tolower(c); });
    return "0000" + shortUuid + "-0000-1000-8000-00805f9b34fb";
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
sdbus::Error exists() { return sdbus::Error("org.bluez.Error.AlreadyExists", "Already Exists"); }

std::string errorOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const sdbus::Error& error) {
        return error.getName();
    }
    return "";
}

template <class State, class T>
auto getter(std::mutex& mutex, std::map<std::string, State>& states, std::string key, T State::*member) {
    return [&mutex, &states, key, member] {
        std::lock_guard lock(mutex);
        return states[key].*member;
    };
}

template <class State, class T>
auto setter(std::mutex& mutex, std::map<std::string, State>& states, std::string key, T State::*member) {
    return [&mutex, &states, key, member](const T& value) {
        std::lock_guard lock(mutex);
        states[key].*member = value;
    };
}

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
    auto characteristics = of(kCharacteristic);
    auto descriptors = of(kDescriptor);
    auto flagsOf = [](const Properties& properties, const std::set<std::string>& known) {
        auto flags = properties.at("Flags").get<std::vector<std::string>>();
        for (const auto& flag : flags) {
            if (!known.count(flag)) throw failed("unknown flag " + flag);
        }
        return flags;
    };
    std::map<std::string, uint16_t> handles;
    std::set<uint16_t> taken;
    uint16_t next = kOwnAttributes + 1;
    // A Handle of 0, like none, leaves the choice to bluetoothd.
    auto place = [&](const Properties* properties, int before = 0) {
        auto asked = properties ? properties->find("Handle") : Properties::const_iterator{};
        uint16_t wanted = properties && asked != properties->end() ? asked->second.get<uint16_t>() : 0;
        uint16_t handle = wanted ? static_cast<uint16_t>(wanted - before) : next;
        if (handle <= kOwnAttributes || taken.count(handle)) throw failed("Failed to create entry in database");
        taken.insert(handle);
        next = std::max<uint16_t>(next, static_cast<uint16_t>(handle + 1));
        return handle;
    };
    for (const auto& [service, properties] : of(kService)) {
        std::string uuid = properties->at("UUID").get<std::string>();
        if (uuid == fullUUID("1800") || uuid == fullUUID("1801")) throw failed("the GAP and GATT services are bluetoothd's own");
        properties->at("Primary").get<bool>();
        handles[service] = place(properties);
        for (const auto& [characteristic, chrc] : characteristics) {
            if (chrc->at("Service").get<sdbus::ObjectPath>() != service) continue;
            auto flags = flagsOf(*chrc, kCharacteristicFlags);
            place(chrc, 1);  // the declaration, just before the value
            handles[characteristic] = place(chrc);
            auto notifies = [](const std::string& f) { return f.find("notify") != f.npos || f.find("indicate") != f.npos; };
            if (std::any_of(flags.begin(), flags.end(), notifies)) place(nullptr);  // the configuration descriptor
            for (const auto& [descriptor, desc] : descriptors) {
                if (desc->at("Characteristic").get<sdbus::ObjectPath>() != characteristic) continue;
                flagsOf(*desc, kDescriptorFlags);
                handles[descriptor] = place(desc);
            }
        }
    }
    for (const auto& [list, parent] : {std::pair{&characteristics, "Service"}, std::pair{&descriptors, "Characteristic"}}) {
        for (const auto& [path, properties] : *list) {
            if (!handles.count(properties->at(parent).get<sdbus::ObjectPath>())) {
                throw failed(path + ": " + parent + " is not an object of the application");
            }
        }
    }
    return handles;
}

FakeBluez::FakeBluez(const PrivateBus& bus) : connection_(bus.connect()) {
    root_ = sdbus::createObject(*connection_, "/");
    root_->addObjectManager();
    agentManager_ = sdbus::createObject(*connection_, "/org/bluez");
    auto* manager = agentManager_.get();
    auto known = [this](const sdbus::ObjectPath& path) {
        if (!agent_ || agent_->path != path) throw sdbus::Error("org.bluez.Error.DoesNotExist", "Does Not Exist");
    };
    manager->registerMethod("RegisterAgent").onInterface("org.bluez.AgentManager1").implementedAs(
        [this, manager](const sdbus::ObjectPath& path, const std::string& capability) {
            std::lock_guard lock(mutex_);
            if (agent_) throw exists();
            agent_ = Registration{senderOf(*manager), path, {}};
            agentCapability_ = capability;
        });
    manager->registerMethod("RequestDefaultAgent").onInterface("org.bluez.AgentManager1").implementedAs(
        [this, known](const sdbus::ObjectPath& path) {
            std::lock_guard lock(mutex_);
            known(path);
            agentDefault_ = true;
        });
    manager->registerMethod("UnregisterAgent").onInterface("org.bluez.AgentManager1").implementedAs(
        [this, known](const sdbus::ObjectPath& path) {
            std::lock_guard lock(mutex_);
            known(path);
            agent_.reset();
            agentDefault_ = false;
        });
    manager->finishRegistration();
    connection_->enterEventLoopAsync();
}

FakeBluez::~FakeBluez() { connection_->leaveEventLoop(); }

void FakeBluez::start() { connection_->requestName("org.bluez"); }

void FakeBluez::addAdapter(const std::string& name, bool powered) {
    locked([&] { adapters_[name].powered = powered; });
    auto object = sdbus::createObject(*connection_, "/org/bluez/" + name);
    auto* self = object.get();
    object->registerProperty("Powered").onInterface(kAdapter).withGetter(getter(mutex_, adapters_, name, &AdapterState::powered));
    // bluetoothd's default alias is the host name; it serves it as the GAP device name.
    object->registerProperty("Alias").onInterface(kAdapter).withGetter([] { return std::string("workstation"); });
    object->registerProperty("Pairable").onInterface(kAdapter)
        .withGetter(getter(mutex_, adapters_, name, &AdapterState::pairable))
        .withSetter(setter(mutex_, adapters_, name, &AdapterState::pairable));
    object->registerProperty("PairableTimeout").onInterface(kAdapter)
        .withGetter(getter(mutex_, adapters_, name, &AdapterState::pairableTimeout))
        .withSetter(setter(mutex_, adapters_, name, &AdapterState::pairableTimeout));
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
            sdbus::createProxy(*connection_, registration.sender, path)->callMethod("GetManagedObjects")
                .onInterface("org.freedesktop.DBus.ObjectManager").storeResultsTo(registration.objects);
            auto handles = admit(registration.objects);
            std::lock_guard lock(mutex_);
            auto& adapter = adapters_[name];
            if (adapter.application) throw exists();
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
            Properties advertised;
            sdbus::createProxy(*connection_, senderOf(*self), path)->callMethod("GetAll")
                .onInterface("org.freedesktop.DBus.Properties")
                .withArguments(std::string("org.bluez.LEAdvertisement1")).storeResultsTo(advertised);
            std::lock_guard lock(mutex_);
            auto& adapter = adapters_[name];
            if (adapter.advertised) throw exists();
            adapter.advertised = std::move(advertised);
        });
    object->registerMethod("UnregisterAdvertisement").onInterface("org.bluez.LEAdvertisingManager1").implementedAs(
        [this, name](const sdbus::ObjectPath&) {
            std::lock_guard lock(mutex_);
            adapters_[name].advertised.reset();
        });
    object->finishRegistration();
    object->emitInterfacesAddedSignal();
    std::lock_guard lock(mutex_);
    adapters_[name].object = std::move(object);
}

template <class State, class T>
void FakeBluez::change(std::map<std::string, State>& states, const std::string& key, T State::*member, T value,
                       const char* interface, const char* property) {
    sdbus::IObject* object;
    {
        std::lock_guard lock(mutex_);
        states[key].*member = std::move(value);
        object = states[key].object.get();
    }
    object->emitPropertiesChangedSignal(interface, {property});
}

void FakeBluez::setPowered(const std::string& adapter, bool powered) {
    change(adapters_, adapter, &AdapterState::powered, powered, kAdapter, "Powered");
}

void FakeBluez::disconnect(const std::string& device) {
    change(devices_, device, &DeviceState::connected, false, kDevice, "Connected");
}

void FakeBluez::changeAddress(const std::string& device, const std::string& address) {
    change(devices_, device, &DeviceState::address, address, kDevice, "Address");
}

void FakeBluez::refuseApplications(int count, const std::string& message) {
    locked([&] { refusals_ = count, refusal_ = message; });
}

int FakeBluez::applicationRegistrations(const std::string& adapter) const {
    return locked([&] { return adapters_.count(adapter) ? adapters_.at(adapter).registrations : 0; });
}

uint16_t FakeBluez::handle(const std::string& adapter, const std::string& path) const {
    return locked([&] { return adapters_.at(adapter).handles.count(path) ? adapters_.at(adapter).handles.at(path) : 0; });
}

bool FakeBluez::pairable(const std::string& adapter) const { return locked([&] { return adapters_.at(adapter).pairable; }); }

uint32_t FakeBluez::pairableTimeout(const std::string& adapter) const {
    return locked([&] { return adapters_.at(adapter).pairableTimeout; });
}

bool FakeBluez::trusted(const std::string& device) const { return locked([&] { return devices_.at(device).trusted; }); }

std::string FakeBluez::agentCapability() const { return locked([&] { return agent_ ? agentCapability_ : ""; }); }

bool FakeBluez::agentIsDefault() const { return locked([&] { return agentDefault_; }); }

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
    }
    if (!known) {
        exportDevice(path, bearer == Bearer::classic);
    } else {
        devices_[path].object->emitPropertiesChangedSignal(kDevice, {"Connected"});
    }
    return path;
}

void FakeBluez::exportDevice(const std::string& path, bool classic) {
    auto object = sdbus::createObject(*connection_, path);
    object->registerProperty("Address").onInterface(kDevice).withGetter(getter(mutex_, devices_, path, &DeviceState::address));
    object->registerProperty("Adapter").onInterface(kDevice).withGetter([this, path] {
        std::lock_guard lock(mutex_);
        return sdbus::ObjectPath("/org/bluez/" + devices_[path].adapter);
    });
    object->registerProperty("Connected").onInterface(kDevice).withGetter(getter(mutex_, devices_, path, &DeviceState::connected));
    // Only BR/EDR devices have a Class of Device.
    if (classic) object->registerProperty("Class").onInterface(kDevice).withGetter([] { return uint32_t{0x240404}; });
    object->registerProperty("Paired").onInterface(kDevice).withGetter(getter(mutex_, devices_, path, &DeviceState::paired));
    object->registerProperty("Trusted").onInterface(kDevice)
        .withGetter(getter(mutex_, devices_, path, &DeviceState::trusted))
        .withSetter(setter(mutex_, devices_, path, &DeviceState::trusted));
    object->finishRegistration();
    object->emitInterfacesAddedSignal();
    std::lock_guard lock(mutex_);
    devices_[path].object = std::move(object);
}

FakeBluez::Objects FakeBluez::application(const std::string& adapter) const {
    return locked([&] {
        auto found = adapters_.find(adapter);
        return found != adapters_.end() && found->second.application ? found->second.application->objects : Objects{};
    });
}

FakeBluez::Properties FakeBluez::advertisement(const std::string& adapter) const {
    return locked([&] { return adapters_.count(adapter) ? adapters_.at(adapter).advertised.value_or(Properties{}) : Properties{}; });
}

// The map keeps the paths sorted, which is the order they were made in.
std::vector<std::string> FakeBluez::children(const std::string& adapter, const char* interface, const char* parent,
                                             const std::string& of) const {
    std::vector<std::string> paths;
    for (const auto& [path, interfaces] : application(adapter)) {
        auto found = interfaces.find(interface);
        if (found != interfaces.end() && std::string(found->second.at(parent).get<sdbus::ObjectPath>()) == of) paths.push_back(path);
    }
    return paths;
}

std::vector<std::string> FakeBluez::characteristics(const std::string& adapter, const std::string& service) const {
    std::string servicePath;
    for (const auto& [path, interfaces] : application(adapter)) {
        auto found = interfaces.find(kService);
        if (found != interfaces.end() && found->second.at("UUID").get<std::string>() == fullUUID(service)) servicePath = path;
    }
    return children(adapter, kCharacteristic, "Service", servicePath);
}

std::vector<std::string> FakeBluez::descriptors(const std::string& adapter, const std::string& characteristic) const {
    return children(adapter, kDescriptor, "Characteristic", characteristic);
}

std::unique_ptr<sdbus::IProxy> FakeBluez::application(const std::string& adapter, const std::string& path) {
    return sdbus::createProxy(*connection_, locked([&] { return adapters_.at(adapter).application.value().sender; }), path);
}

FakeBluez::Reply FakeBluez::read(const std::string& adapter, const std::string& path, const std::string& device, uint16_t offset) {
    Properties options{{"device", sdbus::Variant(sdbus::ObjectPath(device))}, {"mtu", sdbus::Variant(uint16_t(185))}};
    if (offset) options["offset"] = sdbus::Variant(offset);
    Reply reply;
    reply.error = errorOf([&] {
        application(adapter, path)->callMethod("ReadValue")
            .onInterface(path.find("/desc") != std::string::npos ? kDescriptor : kCharacteristic)
            .withArguments(options).storeResultsTo(reply.value);
    });
    return reply;
}

FakeBluez::Reply FakeBluez::write(const std::string& adapter, const std::string& path, const std::string& device,
                                  const std::vector<uint8_t>& value) {
    Properties options{{"device", sdbus::Variant(sdbus::ObjectPath(device))}, {"type", sdbus::Variant(std::string("command"))}};
    return {{}, errorOf([&] { application(adapter, path)->callMethod("WriteValue").onInterface(kCharacteristic).withArguments(value, options); })};
}

// bluetoothd 5.66, ccc_write_cb: a socket already open only counts one more
// subscriber; otherwise AcquireNotify when the characteristic offers it
// (NotifyAcquired present). Without it bluetoothd would call StartNotify,
// which gives no socket.
void FakeBluez::enableNotifications(const std::string& adapter, const std::string& characteristic, const std::string& device) {
    {
        std::lock_guard lock(mutex_);
        auto& notify = adapters_.at(adapter).notify[characteristic];
        if (notify.socket.get() >= 0) {
            ++notify.subscribers;
            return;
        }
        const auto& objects = adapters_.at(adapter).application.value().objects;
        if (!objects.at(sdbus::ObjectPath(characteristic)).at(kCharacteristic).count("NotifyAcquired")) return;
    }
    sdbus::UnixFd socket;
    uint16_t mtu = 0;
    Properties options{{"device", sdbus::Variant(sdbus::ObjectPath(device))},
                       {"mtu", sdbus::Variant(uint16_t(185))},
                       {"link", sdbus::Variant(std::string("LE"))}};
    application(adapter, characteristic)->callMethod("AcquireNotify").onInterface(kCharacteristic)
        .withArguments(options).storeResultsTo(socket, mtu);
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
    return locked([&] {
        auto& notify = adapters_.at(adapter).notify;
        return notify.count(characteristic) ? notify.at(characteristic).socket.get() : -1;
    });
}

std::vector<std::vector<uint8_t>> FakeBluez::received(const std::string& adapter, const std::string& characteristic) {
    std::lock_guard lock(mutex_);
    auto& notify = adapters_.at(adapter).notify[characteristic];
    uint8_t buffer[512];  // what bluetoothd reads at a time
    ssize_t got;
    while (notify.socket.get() >= 0 && (got = recv(notify.socket.get(), buffer, sizeof buffer, MSG_DONTWAIT)) > 0) {
        notify.received.emplace_back(buffer, buffer + got);
    }
    return notify.received;
}

// The agent's error name, empty when it agreed; nothing when there is no agent to ask.
std::optional<std::string> FakeBluez::askAgent(bool onlyDefault, const std::function<void(sdbus::IProxy&)>& call) {
    std::optional<Registration> agent;
    {
        std::lock_guard lock(mutex_);
        if (!onlyDefault || agentDefault_) agent = agent_;
    }
    if (!agent) return std::nullopt;
    return errorOf([&] { call(*sdbus::createProxy(*connection_, agent->sender, agent->path)); });
}

// The kernel refuses to bond through an adapter that is not pairable. It
// pairs "Just Works" without asking anyone when there is no default agent,
// else bluetoothd asks the agent.
std::string FakeBluez::pair(const std::string& device) {
    {
        std::lock_guard lock(mutex_);
        if (!adapters_[devices_[device].adapter].pairable) return "org.bluez.Error.AuthenticationFailed";
    }
    auto refused = askAgent(true, [&](sdbus::IProxy& agent) {
        agent.callMethod("RequestAuthorization").onInterface("org.bluez.Agent1").withArguments(sdbus::ObjectPath(device));
    });
    if (refused && !refused->empty()) return *refused;
    change(devices_, device, &DeviceState::paired, true, kDevice, "Paired");
    return "";
}

std::string FakeBluez::authorizeService(const std::string& device, const std::string& uuid) {
    auto refused = askAgent(false, [&](sdbus::IProxy& agent) {
        agent.callMethod("AuthorizeService").onInterface("org.bluez.Agent1").withArguments(sdbus::ObjectPath(device), uuid);
    });
    return refused.value_or("org.bluez.Error.Rejected");  // bluetoothd refuses when nobody can be asked
}

}  // namespace quintalis::testing
