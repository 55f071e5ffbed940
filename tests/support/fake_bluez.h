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
// application with GetManagedObjects and refuses what bluetoothd 5.66
// refuses (unknown flags, Generic Access or Generic Attribute services of
// the application's own, a characteristic or descriptor whose parent path
// is not one of the application's objects, a handle already taken). It
// numbers attributes in the order sd-bus lists the objects, newest first,
// unless they carry a Handle, reads an advertisement's properties, and
// plays the GATT client and the radio for the test: devices (LE or
// BR/EDR) connect and pair, read, write, and turn notifications on the way
// bluetoothd 5.66 does (one AcquireNotify per characteristic and adapter,
// later devices only counted). Pairing follows the kernel: refused unless
// the adapter is pairable, asked of the default agent when there is one,
// and accepted "Just Works" without asking when there is none.
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
    enum class Bearer { le, classic };
    std::string connect(const std::string& adapter, const std::string& address, Bearer bearer = Bearer::le);
    void disconnect(const std::string& device);
    // The device now goes by another address (its identity address, learnt at pairing); its path stays.
    void changeAddress(const std::string& device, const std::string& address);
    // The next RegisterApplication calls fail with this message.
    void refuseApplications(int count, const std::string& message);
    int applicationRegistrations(const std::string& adapter) const;

    // What the peripheral registered on an adapter (empty when nothing).
    Objects application(const std::string& adapter) const;
    Properties advertisement(const std::string& adapter) const;
    std::string agentCapability() const;
    bool agentIsDefault() const;

    // The characteristics of a service ("1812"), in the application's order.
    std::vector<std::string> characteristics(const std::string& adapter, const std::string& service) const;
    // The attribute handle bluetoothd gave an object of the application (for
    // a characteristic, its value's), 0 for none.
    uint16_t handle(const std::string& adapter, const std::string& path) const;
    bool pairable(const std::string& adapter) const;
    uint32_t pairableTimeout(const std::string& adapter) const;
    std::vector<std::string> descriptors(const std::string& adapter, const std::string& characteristic) const;
    Reply read(const std::string& adapter, const std::string& path, const std::string& device, uint16_t offset = 0);
    Reply write(const std::string& adapter, const std::string& path, const std::string& device, const std::vector<uint8_t>& value);

    // A device writes the characteristic's configuration descriptor.
    void enableNotifications(const std::string& adapter, const std::string& characteristic, const std::string& device);
    void disableNotifications(const std::string& adapter, const std::string& characteristic);
    // Our end of the characteristic's notify socket (-1 when none), to wait on.
    int notifySocket(const std::string& adapter, const std::string& characteristic) const;
    // Everything sent on the characteristic's socket so far.
    std::vector<std::vector<uint8_t>> received(const std::string& adapter, const std::string& characteristic);

    // A phone asks to pair "Just Works"; returns the error name, or empty
    // when it paired.
    std::string pair(const std::string& device);
    // A device asks for a profile's service; returns the agent's error name, or empty.
    std::string authorizeService(const std::string& device, const std::string& uuid);
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
        std::vector<std::vector<uint8_t>> received;
    };
    struct AdapterState {
        std::unique_ptr<sdbus::IObject> object;
        bool powered = false;
        bool pairable = false;
        uint32_t pairableTimeout = 0;
        int registrations = 0;
        std::map<std::string, uint16_t> handles;
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
        bool classic = false;
    };

    void exportAdapter(const std::string& name);
    void exportDevice(const std::string& path);
    // bluetoothd's checks and numbering of a registered application; throws its error.
    static std::map<std::string, uint16_t> admit(const Objects& objects);
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
    int refusals_ = 0;
    std::string refusal_;
};

}  // namespace quintalis::testing
