// How the BlueZ peripheral manager answers bluetoothd's requests and carries
// notifications: reads, writes, notify sockets, and who can be reached.
#include <algorithm>
#include <cstring>

#include "base/log.h"
#include "base/queue_check.h"
#include "platform/linux/bluez/bluez_peripheral_manager.h"

namespace quintalis::bluez {
namespace {

sdbus::Error attError(AttResult result) {
    return result == AttResult::invalidOffset ? sdbus::Error(kInvalidOffset, "invalid offset")
                                              : sdbus::Error(kNotSupported, "attribute not found");
}

}  // namespace

GATTApplication::Handlers BluezPeripheralManager::handlersFor(const std::string& adapter) {
    return GATTApplication::Handlers{
        [this](const CharacteristicRef& characteristic, const AttOptions& options, ReadReply reply) {
            post([=, this] { onRead(characteristic, options, reply); });
        },
        [this](const CharacteristicRef& characteristic, std::vector<uint8_t> value, const AttOptions& options, WriteReply reply) {
            post([=, this] { onWrite(characteristic, value, options, reply); });
        },
        [this, adapter](const CharacteristicRef& characteristic, const AttOptions& options, AcquireReply reply) {
            post([=, this] { onAcquireNotify(adapter, characteristic, options, reply); });
        },
        [this](const AttOptions& options) { post([=, this] { noteUse(options); }); },
    };
}

UUID BluezPeripheralManager::hostOf(const std::string& devicePath) const {
    const Device* device = directory_.device(devicePath);
    return hosts_.host(device ? device->address : addressOfDevicePath(devicePath));
}

// Using the application is what makes a device a HID host.
void BluezPeripheralManager::noteUse(const AttOptions& options) {
    if (options.device.empty()) return;
    const Device* device = directory_.device(options.device);
    std::string address = device ? device->address : addressOfDevicePath(options.device);
    if (!hosts_.remember(address)) return;
    log(address + " uses this keyboard and pointer");
    reconcile();
}

void BluezPeripheralManager::onRead(const CharacteristicRef& characteristic, const AttOptions& options, ReadReply reply) {
    uint64_t id = ++lastRequest_;
    reads_[id] = std::move(reply);
    delegate_.didReceiveRead(ReadRequest{id, hostOf(options.device), characteristic, options.offset});
}

void BluezPeripheralManager::onWrite(const CharacteristicRef& characteristic, std::vector<uint8_t> value,
                                     const AttOptions& options, WriteReply reply) {
    uint64_t id = ++lastRequest_;
    writes_[id] = std::move(reply);
    delegate_.didReceiveWrite({WriteRequest{id, hostOf(options.device), characteristic, std::move(value), options.offset}});
}

void BluezPeripheralManager::respond(const ReadRequest& request, AttResult result, const std::vector<uint8_t>& value) {
    QUINTALIS_ON_QUEUE(queue_);
    auto found = reads_.find(request.id);
    if (found == reads_.end()) return;
    ReadReply reply = std::move(found->second);
    reads_.erase(found);
    if (result == AttResult::success) {
        reply->returnResults(value);
    } else {
        reply->returnError(attError(result));
    }
}

void BluezPeripheralManager::respond(const WriteRequest& request, AttResult result) {
    QUINTALIS_ON_QUEUE(queue_);
    auto found = writes_.find(request.id);
    if (found == writes_.end()) return;
    WriteReply reply = std::move(found->second);
    writes_.erase(found);
    if (result == AttResult::success) {
        reply->returnResults();
    } else {
        reply->returnError(attError(result));
    }
}

void BluezPeripheralManager::onAcquireNotify(const std::string& adapter, const CharacteristicRef& characteristic,
                                             const AttOptions& options, AcquireReply reply) {
    auto link = links_.find(adapter);
    bool current = std::any_of(services_.begin(), services_.end(), [&](const ServiceRef& service) {
        const auto& all = service->characteristics;
        return std::find(all.begin(), all.end(), characteristic) != all.end();
    });
    if (link == links_.end() || !link->second.application || !current) {
        return reply->returnError(sdbus::Error(kFailed, "this characteristic is no longer served"));
    }
    auto opened = NotifySocket::open();
    if (!opened) return reply->returnError(sdbus::Error(kFailed, std::strerror(errno)));
    dropChannel(link->second, characteristic);
    // The watch reports on its own thread; the id is read back on this queue only.
    auto watch = std::make_shared<uint64_t>(0);
    *watch = sockets_.watch(opened->first.fd(), [this, adapter, characteristic, watch] {
        post([this, adapter, characteristic, watch] { onChannelClosed(adapter, characteristic, *watch); });
    });
    link->second.channels.emplace(characteristic, Channel{std::move(opened->first), *watch});
    reply->returnResults(sdbus::UnixFd(opened->second, sdbus::adopt_fd), options.mtu);
    link->second.application->setNotifyAcquired(characteristic, true);
    log("notify socket for " + characteristic->uuid.description() + " on " + adapterName(adapter) + ", first asked by " +
        hostOf(options.device).string());
    reconcile();
}

void BluezPeripheralManager::onChannelClosed(const std::string& adapter, const CharacteristicRef& characteristic,
                                             uint64_t watch) {
    auto link = links_.find(adapter);
    if (link == links_.end()) return;
    auto channel = link->second.channels.find(characteristic);
    if (channel == link->second.channels.end() || channel->second.watch != watch) return;
    dropChannel(link->second, characteristic);
    log("bluetoothd closed the notify socket for " + characteristic->uuid.description() + " on " + adapterName(adapter));
    reconcile();
}

void BluezPeripheralManager::dropChannel(Link& link, const CharacteristicRef& characteristic) {
    auto channel = link.channels.find(characteristic);
    if (channel == link.channels.end()) return;
    sockets_.unwatch(channel->second.watch);
    link.channels.erase(channel);
    if (link.application) link.application->setNotifyAcquired(characteristic, false);
}

// The connected devices of an adapter that are HID hosts.
std::vector<Device> BluezPeripheralManager::hidHostsOn(const std::string& adapter) const {
    auto connected = directory_.connectedOn(adapter);
    std::erase_if(connected, [&](const Device& device) { return !hosts_.knows(device.address); });
    return connected;
}

const Device* BluezPeripheralManager::connectedHost(const UUID& host) const {
    for (const auto& [path, device] : directory_.devices()) {
        if (device.connected && selected(device.adapter) && hosts_.knows(device.address) &&
            hosts_.host(device.address) == host) {
            return &device;
        }
    }
    return nullptr;
}

// Works out who counts as subscribed (a HID host connected to an adapter
// whose socket for that characteristic is open) and tells the delegate
// what changed.
void BluezPeripheralManager::reconcile() {
    QUINTALIS_ON_QUEUE(queue_);
    std::vector<std::pair<UUID, CharacteristicRef>> wanted;
    std::vector<std::string> crowded;
    for (auto& [path, link] : links_) {
        std::map<std::string, std::string> now;
        for (const auto& device : directory_.connectedOn(path)) now[device.path] = device.address;
        if (now != link.connected) {
            for (const auto& [device, address] : now) {
                if (!link.connected.count(device)) log(address + " connected through " + adapterName(path));
            }
            for (const auto& [device, address] : link.connected) {
                if (!now.count(device)) log(address + " disconnected from " + adapterName(path));
            }
            link.connected = std::move(now);
            link.refusalLogged = false;
        }
        auto hosts = hidHostsOn(path);
        if (hosts.size() > 1) crowded.push_back(adapterName(path));
        for (const auto& service : services_) {
            for (const auto& characteristic : service->characteristics) {
                if (!link.channels.count(characteristic)) continue;
                for (const auto& device : hosts) wanted.emplace_back(hosts_.host(device.address), characteristic);
            }
        }
    }
    auto has = [](const auto& list, const auto& entry) { return std::find(list.begin(), list.end(), entry) != list.end(); };
    for (const auto& [host, characteristic] : announced_) {
        if (!has(wanted, std::pair(host, characteristic))) {
            post([this, host, characteristic] { delegate_.didUnsubscribe(host, characteristic); });
        }
    }
    for (const auto& [host, characteristic] : wanted) {
        if (!has(announced_, std::pair(host, characteristic))) {
            post([this, host, characteristic] { delegate_.didSubscribe(host, characteristic); });
        }
    }
    announced_ = std::move(wanted);

    for (auto it = dropped_.begin(); it != dropped_.end();) {
        const Device* device = connectedHost(*it);
        if (device && hidHostsOn(device->adapter).size() > 1) {
            ++it;
            continue;
        }
        // Gone altogether, it subscribes afresh when it comes back, which starts it neutral.
        if (device) post([this, host = *it] { delegate_.didRestoreDelivery(host); });
        it = dropped_.erase(it);
    }

    std::string note;
    for (const auto& name : crowded) note += (note.empty() ? "" : ", ") + name;
    if (!note.empty()) note += crowded.size() == 1 ? " serves one phone at a time" : " serve one phone at a time each";
    if (note != note_) {
        note_ = note;
        post([this, note] { delegate_.didUpdateDeliveryNote(note); });
    }
}

// bluetoothd sends a notification to every subscribed device of the
// adapter, so a host is reached only while no other HID host is connected
// there. Other devices never subscribe, so they do not matter.
bool BluezPeripheralManager::reachable(const UUID& host, std::string& adapter) {
    const Device* device = connectedHost(host);
    if (!device) return false;
    adapter = device->adapter;
    size_t hosts = hidHostsOn(adapter).size();
    if (hosts == 1) return true;
    dropped_.insert(host);
    Link& link = links_[adapter];
    if (!link.refusalLogged) {
        link.refusalLogged = true;
        log("not sending to " + host.string() + " through " + adapterName(adapter) + ": " + std::to_string(hosts) +
            " phones are connected to it, and bluetoothd would send each report to all of them");
    }
    return false;
}

bool BluezPeripheralManager::updateValue(const std::vector<uint8_t>& value, const CharacteristicRef& characteristic,
                                         const std::vector<UUID>& centrals) {
    QUINTALIS_ON_QUEUE(queue_);
    if (ownedByBluetoothd_.count(characteristic)) {
        log("dropping " + characteristic->uuid.description() + ": bluetoothd sends it itself");
        return true;
    }
    std::vector<Channel*> targets;
    for (const auto& host : centrals) {
        std::string adapter;
        if (!reachable(host, adapter)) continue;
        auto& channels = links_[adapter].channels;
        if (auto channel = channels.find(characteristic); channel != channels.end()) targets.push_back(&channel->second);
    }
    auto waitForRoom = [this](const Channel& channel) {
        sockets_.whenWritable(channel.watch, [this] { post([this] { delegate_.isReadyToUpdateSubscribers(); }); });
        return false;
    };
    // With several sockets, all must have room, or a retry would repeat the
    // update on the ones already written.
    if (targets.size() > 1) {
        for (auto* target : targets) {
            if (!target->socket.writable()) return waitForRoom(*target);
        }
    }
    for (auto* target : targets) {
        // A closed socket is the watch's to report; the subscription ends there.
        if (target->socket.send(value) == NotifySocket::Sent::full) return waitForRoom(*target);
    }
    return true;
}

}  // namespace quintalis::bluez
