#pragma once

#include <sdbus-c++/sdbus-c++.h>

#include <functional>
#include <map>
#include <memory>
#include <thread>

#include "base/liveness.h"
#include "base/serial_queue.h"
#include "platform/linux/bluez/bluez_names.h"

namespace quintalis::bluez {

// Turns D-Bus variants into the plain values this backend reads.
PropertyMap plainProperties(const std::map<std::string, sdbus::Variant>& properties);
InterfaceMap plainInterfaces(const std::map<std::string, std::map<std::string, sdbus::Variant>>& interfaces);

// One connection to the bus bluetoothd lives on, with its event loop on a
// thread of its own ("bluez.dbus"). It watches org.bluez come and go and
// its objects change, and calls bluetoothd's methods asynchronously.
//
// Threads: construct, destroy and call it on the owner's queue. Every
// event and every reply is posted to that queue, and none arrives after the
// destructor has returned. Objects exported on connection() answer on the
// D-Bus thread.
class Bus {
public:
    struct Events {
        std::function<void(bool present)> presence;  // org.bluez gained or lost its owner
        std::function<void(const ObjectMap&)> objects;
        std::function<void(const BusError&)> objectsFailed;
        std::function<void(const std::string& path, const InterfaceMap&)> interfacesAdded;
        std::function<void(const std::string& path, const std::vector<std::string>&)> interfacesRemoved;
        std::function<void(const std::string& path, const std::string& interface, const PropertyMap&)> propertiesChanged;
    };
    using Done = std::function<void(const std::optional<BusError>& error)>;

    Bus(std::unique_ptr<sdbus::IConnection> connection, SerialQueue& queue, Events events);
    ~Bus();

    sdbus::IConnection& connection() { return *connection_; }
    // Runs the task on the owner's queue, unless the bus has gone by then.
    void post(Task task);
    void postAfter(Duration delay, Task task);
    // Asks for every object of bluetoothd; the answer comes as `objects`.
    void fetchObjects();

    template <typename... Args>
    void call(const std::string& path, const char* interface, const char* method, Done done, const Args&... args) {
        auto& target = proxy(path);
        target.callMethodAsync(method).onInterface(interface).withArguments(args...).uponReplyInvoke(
            [this, done = std::move(done)](const sdbus::Error* error) {
                std::optional<BusError> failure;
                if (error) failure = BusError{error->getName(), error->getMessage()};
                post([done, failure] { done(failure); });
            });
    }

private:
    sdbus::IProxy& proxy(const std::string& path);
    void listen();

    std::unique_ptr<sdbus::IConnection> connection_;
    SerialQueue& queue_;
    Events events_;
    std::vector<sdbus::Slot> matches_;
    std::map<std::string, std::unique_ptr<sdbus::IProxy>> proxies_;  // owned by the queue
    uint64_t fetches_ = 0;                                           // owned by the queue
    Liveness alive_;
    std::thread loop_;
};

}  // namespace quintalis::bluez
