#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/linux/bluez/bluez_names.h"
#include "platform/peripheral_manager.h"

namespace quintalis::bluez {

struct Adapter {
    std::string path;
    bool powered = false;
    std::string alias;  // the name bluetoothd serves as the device name
};

struct Device {
    std::string path;
    std::string adapter;  // the adapter's object path
    std::string address;
    bool connected = false;
    bool paired = false;
    bool trusted = false;
    // It has a Class of Device, which only BR/EDR ("classic") devices send.
    bool classic = false;
};

// bluetoothd's adapters and devices as its object manager reports them: a
// snapshot from GetManagedObjects kept current by InterfacesAdded,
// InterfacesRemoved and PropertiesChanged. Plain data, owned by whoever
// feeds it (the Bluetooth queue).
class Directory {
public:
    // bluetoothd left the bus (false) or its objects arrived (true).
    void setPresent(bool present);
    void reset(const ObjectMap& objects);
    void interfacesAdded(const std::string& path, const InterfaceMap& interfaces);
    void interfacesRemoved(const std::string& path, const std::vector<std::string>& interfaces);
    void propertiesChanged(const std::string& path, const std::string& interface, const PropertyMap& changed);

    // Not on the bus: resetting; no adapter: unsupported; then powered on or off.
    ManagerState state() const;
    bool present() const { return present_; }
    const std::map<std::string, Adapter>& adapters() const { return adapters_; }
    const std::map<std::string, Device>& devices() const { return devices_; }
    std::vector<Device> connectedOn(const std::string& adapterPath) const;
    const Device* device(const std::string& path) const;

private:
    bool present_ = false;
    std::map<std::string, Adapter> adapters_;
    std::map<std::string, Device> devices_;
};

}  // namespace quintalis::bluez
