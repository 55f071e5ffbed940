#include "platform/linux/bluez/bluez_directory.h"

#include <algorithm>

namespace quintalis::bluez {
namespace {

template <typename T>
void take(const PropertyMap& properties, const char* name, T& into) {
    auto found = properties.find(name);
    if (found == properties.end()) return;
    if (const T* value = std::get_if<T>(&found->second)) into = *value;
}

void update(Adapter& adapter, const PropertyMap& properties) {
    take(properties, "Powered", adapter.powered);
    take(properties, "Alias", adapter.alias);
}

void update(Device& device, const PropertyMap& properties) {
    take(properties, "Adapter", device.adapter);
    take(properties, "Address", device.address);
    take(properties, "Connected", device.connected);
    take(properties, "Paired", device.paired);
    take(properties, "Trusted", device.trusted);
    take(properties, "Class", device.classic);
}

}  // namespace

void Directory::setPresent(bool present) {
    present_ = present;
    if (!present) {
        adapters_.clear();
        devices_.clear();
    }
}

void Directory::reset(const ObjectMap& objects) {
    adapters_.clear();
    devices_.clear();
    present_ = true;
    for (const auto& [path, interfaces] : objects) interfacesAdded(path, interfaces);
}

void Directory::interfacesAdded(const std::string& path, const InterfaceMap& interfaces) {
    if (auto adapter = interfaces.find(kAdapterInterface); adapter != interfaces.end()) {
        auto& entry = adapters_[path];
        entry.path = path;
        update(entry, adapter->second);
    }
    if (auto device = interfaces.find(kDeviceInterface); device != interfaces.end()) {
        auto& entry = devices_[path];
        entry.path = path;
        // The path names both, should the properties leave them out.
        if (entry.adapter.empty()) entry.adapter = adapterOfDevice(path);
        if (entry.address.empty()) entry.address = addressOfDevicePath(path);
        update(entry, device->second);
    }
}

void Directory::interfacesRemoved(const std::string& path, const std::vector<std::string>& interfaces) {
    auto has = [&](const char* name) { return std::find(interfaces.begin(), interfaces.end(), name) != interfaces.end(); };
    if (has(kAdapterInterface)) {
        adapters_.erase(path);
        std::erase_if(devices_, [&](const auto& entry) { return entry.second.adapter == path; });
    }
    if (has(kDeviceInterface)) devices_.erase(path);
}

void Directory::propertiesChanged(const std::string& path, const std::string& interface, const PropertyMap& changed) {
    if (interface == kAdapterInterface) {
        if (auto found = adapters_.find(path); found != adapters_.end()) update(found->second, changed);
    } else if (interface == kDeviceInterface) {
        if (auto found = devices_.find(path); found != devices_.end()) update(found->second, changed);
    }
}

ManagerState Directory::state() const {
    if (!present_) return ManagerState::resetting;
    if (adapters_.empty()) return ManagerState::unsupported;
    bool anyPowered = std::any_of(adapters_.begin(), adapters_.end(), [](const auto& entry) { return entry.second.powered; });
    return anyPowered ? ManagerState::poweredOn : ManagerState::poweredOff;
}

std::vector<Device> Directory::connectedOn(const std::string& adapterPath) const {
    std::vector<Device> connected;
    for (const auto& [path, device] : devices_) {
        if (device.connected && device.adapter == adapterPath) connected.push_back(device);
    }
    return connected;
}

const Device* Directory::device(const std::string& path) const {
    auto found = devices_.find(path);
    return found == devices_.end() ? nullptr : &found->second;
}

}  // namespace quintalis::bluez
