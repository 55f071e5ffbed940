#include "platform/linux/bluez/bluez_bus.h"

#include "base/thread_name.h"

namespace quintalis::bluez {

PropertyMap plainProperties(const std::map<std::string, sdbus::Variant>& properties) {
    PropertyMap plain;
    for (const auto& [name, value] : properties) {
        if (value.containsValueOfType<bool>()) {
            plain[name] = value.get<bool>();
        } else if (value.containsValueOfType<std::string>()) {
            plain[name] = value.get<std::string>();
        } else if (value.containsValueOfType<sdbus::ObjectPath>()) {
            plain[name] = std::string(value.get<sdbus::ObjectPath>());
        } else if (name == "Class") {
            plain[name] = true;  // only whether there is one matters
        }
    }
    return plain;
}

InterfaceMap plainInterfaces(const std::map<std::string, std::map<std::string, sdbus::Variant>>& interfaces) {
    InterfaceMap plain;
    for (const auto& [name, properties] : interfaces) {
        // Only these two are ever read; the others (GATT, media) can be large.
        if (name == kAdapterInterface || name == kDeviceInterface) plain[name] = plainProperties(properties);
    }
    return plain;
}

Bus::Bus(std::unique_ptr<sdbus::IConnection> connection, SerialQueue& queue, Events events)
    : connection_(std::move(connection)), queue_(queue), events_(std::move(events)) {
    listen();
    loop_ = std::thread([this] {
        nameCurrentThread("bluez.dbus");
        connection_->enterEventLoop();
    });
}

Bus::~Bus() {
    connection_->leaveEventLoop();
    loop_.join();
    alive_.end();
    proxies_.clear();
    matches_.clear();
}

void Bus::post(Task task) {
    auto watch = alive_.watch();
    queue_.async([watch, task = std::move(task)] {
        if (watch.alive()) task();
    });
}

void Bus::postAfter(Duration delay, Task task) {
    auto watch = alive_.watch();
    queue_.asyncAfter(delay, [watch, task = std::move(task)] {
        if (watch.alive()) task();
    });
}

// The match rules are installed before the loop runs, so no change between
// them and the first snapshot goes unseen.
void Bus::listen() {
    matches_.push_back(connection_->addMatch(
        "type='signal',sender='org.freedesktop.DBus',interface='org.freedesktop.DBus',member='NameOwnerChanged',arg0='org.bluez'",
        [this](sdbus::Message& message) {
            std::string name, oldOwner, newOwner;
            message >> name >> oldOwner >> newOwner;
            post([this, present = !newOwner.empty()] { events_.presence(present); });
        }));
    matches_.push_back(connection_->addMatch(
        "type='signal',sender='org.bluez',interface='org.freedesktop.DBus.ObjectManager',member='InterfacesAdded'",
        [this](sdbus::Message& message) {
            sdbus::ObjectPath path;
            std::map<std::string, std::map<std::string, sdbus::Variant>> interfaces;
            message >> path >> interfaces;
            post([this, path = std::string(path), plain = plainInterfaces(interfaces)] {
                events_.interfacesAdded(path, plain);
            });
        }));
    matches_.push_back(connection_->addMatch(
        "type='signal',sender='org.bluez',interface='org.freedesktop.DBus.ObjectManager',member='InterfacesRemoved'",
        [this](sdbus::Message& message) {
            sdbus::ObjectPath path;
            std::vector<std::string> interfaces;
            message >> path >> interfaces;
            post([this, path = std::string(path), interfaces] { events_.interfacesRemoved(path, interfaces); });
        }));
    matches_.push_back(connection_->addMatch(
        "type='signal',sender='org.bluez',interface='org.freedesktop.DBus.Properties',member='PropertiesChanged'",
        [this](sdbus::Message& message) {
            std::string interface;
            std::map<std::string, sdbus::Variant> changed;
            message >> interface;
            if (interface != kAdapterInterface && interface != kDeviceInterface) return;
            message >> changed;
            post([this, path = std::string(message.getPath()), interface, plain = plainProperties(changed)] {
                events_.propertiesChanged(path, interface, plain);
            });
        }));
}

void Bus::fetchObjects() {
    uint64_t fetch = ++fetches_;
    proxy("/").callMethodAsync("GetManagedObjects").onInterface(kObjectManagerInterface).uponReplyInvoke(
        [this, fetch](const sdbus::Error* error,
                      const std::map<sdbus::ObjectPath, std::map<std::string, std::map<std::string, sdbus::Variant>>>& reply) {
            if (error) {
                post([this, fetch, failure = BusError{error->getName(), error->getMessage()}] {
                    if (fetch == fetches_) events_.objectsFailed(failure);
                });
                return;
            }
            ObjectMap objects;
            for (const auto& [path, interfaces] : reply) {
                auto plain = plainInterfaces(interfaces);
                if (!plain.empty()) objects[path] = std::move(plain);
            }
            // A later fetch (bluetoothd came back meanwhile) supersedes this one.
            post([this, fetch, objects = std::move(objects)] {
                if (fetch == fetches_) events_.objects(objects);
            });
        });
}

sdbus::IProxy& Bus::proxy(const std::string& path) {
    auto& entry = proxies_[path];
    if (!entry) entry = sdbus::createProxy(*connection_, kService, path);
    return *entry;
}

}  // namespace quintalis::bluez
