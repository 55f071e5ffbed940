#pragma once

#include <sdbus-c++/sdbus-c++.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "support/private_bus.h"

namespace quintalis::testing {

// bluetoothd as a program on the bus sees it: org.bluez with adapters,
// devices, the GATT, advertising and agent managers. It walks a registered
// application with GetManagedObjects, reads an advertisement's properties,
// and plays the GATT client and the radio for the test: devices connect and
// pair, read, write, and turn notifications on the way bluetoothd 5.66 does
// (one AcquireNotify per characteristic and adapter, later devices only
// counted).
//
// Threads: the test calls it from one thread; its D-Bus handlers run on
// the fake's own event loop thread.
class FakeBluez {
public:
    using Properties = std::map<std::string, sdbus::Variant>;
    using Objects = std::map<sdbus::ObjectPath, std::map<std::string, Properties>>;
    struct Reply {
        std::vector<uint8_t> value;
        std::string error;  // the D-Bus error name, empty on success
    };

    explicit FakeBluez(const PrivateBus& bus);
    ~FakeBluez();

    // Takes the name org.bluez: from here on the peripheral sees this bluetoothd.
    void start();
    void addAdapter(const std::string& name, bool powered);
    void setPowered(const std::string& adapter, bool powered);
    // A device connected through the adapter; returns its object path.
    std::string connect(const std::string& adapter, const std::string& address);
    void disconnect(const std::string& device);

    // What the peripheral registered on an adapter (empty when nothing).
    Objects application(const std::string& adapter) const;
    Properties advertisement(const std::string& adapter) const;
    std::string agentCapability() const;
    bool agentIsDefault() const;

    // The characteristics of a service ("1812"), in the application's order.
    std::vector<std::string> characteristics(const std::string& adapter, const std::string& service) const;
    std::vector<std::string> descriptors(const std::string& adapter, const std::string& characteristic) const;
    Reply read(const std::string& adapter, const std::string& path, const std::string& device, uint16_t offset = 0);
    Reply write(const std::string& adapter, const std::string& path, const std::string& device, const std::vector<uint8_t>& value);

    // A device writes the characteristic's configuration descriptor.
    void enableNotifications(const std::string& adapter, const std::string& characteristic, const std::string& device);
    void disableNotifications(const std::string& adapter, const std::string& characteristic);
    int acquireCalls(const std::string& adapter, const std::string& characteristic) const;
    // Our end of the characteristic's notify socket (-1 when none), to wait on.
    int notifySocket(const std::string& adapter, const std::string& characteristic) const;
    // Everything sent on the characteristic's socket so far.
    std::vector<std::vector<uint8_t>> received(const std::string& adapter, const std::string& characteristic);

    // A phone asks to pair "Just Works"; returns the agent's error name, or
    // empty when it accepted (the device is then paired).
    std::string pair(const std::string& device);
    bool trusted(const std::string& device) const;

private:
    struct Registration {
        std::string sender;
        std::string path;
        Objects objects;
    };
    struct Notify {
        sdbus::UnixFd socket;
        int subscribers = 0;
        int acquireCalls = 0;
        std::vector<std::vector<uint8_t>> received;
    };
    struct AdapterState {
        std::unique_ptr<sdbus::IObject> object;
        bool powered = false;
        std::optional<Registration> application;
        std::optional<Registration> advertisement;
        Properties advertised;
        std::map<std::string, Notify> notify;
    };
    struct DeviceState {
        std::unique_ptr<sdbus::IObject> object;
        std::string address;
        std::string adapter;
        bool connected = false;
        bool paired = false;
        bool trusted = false;
    };

    void exportAdapter(const std::string& name);
    void exportDevice(const std::string& path);
    std::unique_ptr<sdbus::IProxy> application(const std::string& adapter, const std::string& path);

    std::unique_ptr<sdbus::IConnection> connection_;
    std::unique_ptr<sdbus::IObject> root_;
    std::unique_ptr<sdbus::IObject> agentManager_;
    mutable std::mutex mutex_;
    std::map<std::string, AdapterState> adapters_;
    std::map<std::string, DeviceState> devices_;
    std::optional<Registration> agent_;
    std::string agentCapability_;
    bool agentDefault_ = false;
};

}  // namespace quintalis::testing
