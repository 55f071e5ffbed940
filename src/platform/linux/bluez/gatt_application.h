#pragma once

#include <sdbus-c++/sdbus-c++.h>

#include <atomic>
#include <functional>
#include <map>
#include <memory>

#include "platform/linux/bluez/bluez_names.h"

namespace quintalis::bluez {

using ReadReply = std::shared_ptr<sdbus::Result<std::vector<uint8_t>>>;
using WriteReply = std::shared_ptr<sdbus::Result<>>;
using AcquireReply = std::shared_ptr<sdbus::Result<sdbus::UnixFd, uint16_t>>;

// bluetoothd's flags for a characteristic: the property bits, with the
// encrypted variants where the permissions ask for encryption.
std::vector<std::string> characteristicFlags(const GATTCharacteristic& characteristic);

// The services as one GATT application for one adapter: an object manager
// at the root, then service → characteristic → descriptor objects, the
// shape bluetoothd walks with GetManagedObjects when the application is
// registered. Static values (and every descriptor) are answered here;
// other reads, writes and notify requests go to the handlers. Each object
// carries its attribute handle.
//
// Threads: built and destroyed on the owner's queue; the handlers run on the
// D-Bus thread and must not block. setNotifyAcquired may be called from any thread.
class GATTApplication {
public:
    struct Handlers {
        std::function<void(const CharacteristicRef&, const AttOptions&, ReadReply)> read;
        std::function<void(const CharacteristicRef&, std::vector<uint8_t> value, const AttOptions&, WriteReply)> write;
        std::function<void(const CharacteristicRef&, const AttOptions&, AcquireReply)> acquireNotify;
        // Any request, before it is answered or handed on: who is using the application.
        std::function<void(const AttOptions&)> used;
    };
    // Where the first service goes: after bluetoothd's own Generic Access and
    // Generic Attribute services, with room for the few others it may add.
    static constexpr uint16_t kFirstHandle = 0x0100;

    GATTApplication(sdbus::IConnection& connection, std::string rootPath, const std::vector<ServiceRef>& services,
                    Handlers handlers);

    const std::string& path() const { return rootPath_; }
    void setNotifyAcquired(const CharacteristicRef& characteristic, bool acquired);

private:
    struct Notifiable {
        sdbus::IObject* object;
        std::shared_ptr<std::atomic<bool>> acquired;
    };

    void addService(const GATTService& service, const std::string& path, uint16_t handle);
    void addCharacteristic(const CharacteristicRef& characteristic, const std::string& path, const std::string& service,
                           uint16_t handle);
    void addDescriptor(const GATTDescriptor& descriptor, const std::string& path, const std::string& characteristic,
                       uint16_t handle);
    // Hands out the next attribute handle. Bonded phones cache the table by
    // handle, and bluetoothd would otherwise number the attributes in
    // whatever order the bus lists our objects, so every attribute gets a
    // fixed one in the table's order.
    uint16_t take(uint16_t count = 1);

    sdbus::IConnection& connection_;
    std::string rootPath_;
    Handlers handlers_;
    std::vector<std::unique_ptr<sdbus::IObject>> objects_;  // the root first
    std::map<CharacteristicRef, Notifiable> notifiable_;
    uint16_t nextHandle_ = kFirstHandle;
};

// Reads the options dictionary bluetoothd passes with each request.
AttOptions attOptions(const std::map<std::string, sdbus::Variant>& options);

// Answers a read of a known value: the bytes from the offset on, or the invalid-offset error.
void answerRead(const sdbus::Result<std::vector<uint8_t>>& reply, const std::vector<uint8_t>& value, size_t offset);

}  // namespace quintalis::bluez
