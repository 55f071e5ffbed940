#pragma once

#include <sdbus-c++/sdbus-c++.h>

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "support/private_bus.h"

namespace quintalis::testing {

// bluetoothd 5.66 as a program on the bus sees it. It walks a registered
// application with GetManagedObjects and refuses what bluetoothd refuses
// (unknown flags, a Generic Access or Generic Attribute service of the
// application's own, a parent that is not one of its objects, a handle
// already taken), and numbers attributes in the bus's order unless they
// carry a Handle. It also plays the radio and the phones: LE or BR/EDR
// devices connect, read, write, pair as the kernel lets them, and turn
// notifications on (one AcquireNotify per characteristic and adapter).
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
    enum class Bearer { le, classic };
    // Returns the device's object path.
    std::string connect(const std::string& adapter, const std::string& address, Bearer bearer = Bearer::le);
    void disconnect(const std::string& device);
    // The identity address learnt at pairing; the path stays.
    void changeAddress(const std::string& device, const std::string& address);
    void refuseApplications(int count, const std::string& message);
    int applicationRegistrations(const std::string& adapter) const;

    Objects application(const std::string& adapter) const;
    Properties advertisement(const std::string& adapter) const;
    std::string agentCapability() const;
    bool agentIsDefault() const;
    bool pairable(const std::string& adapter) const;
    uint32_t pairableTimeout(const std::string& adapter) const;
    bool trusted(const std::string& device) const;

    // Paths in the application's order; a service by its short UUID ("1812").
    std::vector<std::string> characteristics(const std::string& adapter, const std::string& service) const;
    std::vector<std::string> descriptors(const std::string& adapter, const std::string& characteristic) const;
    // The handle bluetoothd gave the object (a characteristic's value's), 0 for none.
    uint16_t handle(const std::string& adapter, const std::string& path) const;
    Reply read(const std::string& adapter, const std::string& path, const std::string& device, uint16_t offset = 0);
    Reply write(const std::string& adapter, const std::string& path, const std::string& device, const std::vector<uint8_t>& value);

    // A device writes the characteristic's configuration descriptor.
    void enableNotifications(const std::string& adapter, const std::string& characteristic, const std::string& device);
    void disableNotifications(const std::string& adapter, const std::string& characteristic);
    int notifySocket(const std::string& adapter, const std::string& characteristic) const;  // -1 when none
    // Everything sent on the characteristic's socket so far.
    std::vector<std::vector<uint8_t>> received(const std::string& adapter, const std::string& characteristic);

    // These return the D-Bus error name, empty when granted.
    std::string pair(const std::string& device);
    std::string authorizeService(const std::string& device, const std::string& uuid);

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
        std::optional<Properties> advertised;
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

    void exportDevice(const std::string& path, bool classic);
    // bluetoothd's checks and numbering of a registered application; throws its error.
    static std::map<std::string, uint16_t> admit(const Objects& objects);
    std::unique_ptr<sdbus::IProxy> application(const std::string& adapter, const std::string& path);
    std::vector<std::string> children(const std::string& adapter, const char* interface, const char* parent,
                                      const std::string& of) const;
    template <class State, class T>
    void change(std::map<std::string, State>& states, const std::string& key, T State::*member, T value,
                const char* interface, const char* property);
    std::optional<std::string> askAgent(bool onlyDefault, const std::function<void(sdbus::IProxy&)>& call);
    template <class F>
    auto locked(F f) const {
        std::lock_guard lock(mutex_);
        return f();
    }

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
