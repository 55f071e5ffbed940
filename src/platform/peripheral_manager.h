#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/clock.h"
#include "base/outcome.h"
#include "base/serial_queue.h"
#include "base/uuid.h"
#include "platform/gatt.h"

namespace quintalis {

// The radio's state, with the values the platform reports.
enum class ManagerState : int { unknown = 0, resetting = 1, unsupported = 2, unauthorized = 3, poweredOff = 4, poweredOn = 5 };
// Whether this program may use Bluetooth.
enum class BluetoothAuthorization : int { notDetermined = 0, restricted = 1, denied = 2, allowedAlways = 3 };

// ATT results a request is answered with.
enum class AttResult : uint8_t { success = 0x00, invalidOffset = 0x07, attributeNotFound = 0x0A };

struct AdvertisingError {
    int code = 0;  // 9: already advertising
    std::string description;
};

// A read from a central; answer it with PeripheralManager::respond.
struct ReadRequest {
    uint64_t id = 0;
    UUID central;
    CharacteristicRef characteristic;
    size_t offset = 0;
};

struct WriteRequest {
    uint64_t id = 0;
    UUID central;
    CharacteristicRef characteristic;
    std::vector<uint8_t> value;
    size_t offset = 0;
};

// Callbacks of a peripheral manager, all delivered on the queue it was
// created with.
class PeripheralManagerDelegate {
public:
    virtual ~PeripheralManagerDelegate() = default;
    virtual void didUpdateState() = 0;
    virtual void didAddService(const ServiceRef& service, const Outcome& added) = 0;
    virtual void didStartAdvertising(const std::optional<AdvertisingError>& error) = 0;
    virtual void didReceiveRead(const ReadRequest& request) = 0;
    virtual void didReceiveWrite(const std::vector<WriteRequest>& requests) = 0;
    virtual void didSubscribe(const UUID& central, const CharacteristicRef& characteristic) = 0;
    virtual void didUnsubscribe(const UUID& central, const CharacteristicRef& characteristic) = 0;
    // The transmit queue has room again after updateValue returned false.
    virtual void isReadyToUpdateSubscribers() = 0;
    // Some connected centrals cannot be told apart by the platform, so
    // updates to them are dropped; `note` says why in a few words ("hci0
    // serves one phone at a time"), and is empty once all can be reached.
    virtual void didUpdateDeliveryNote([[maybe_unused]] const std::string& note) {}
    // Updates to this central were dropped while it could not be told apart
    // from others, and now it can be reached again: whatever it missed,
    // releases among them, is lost.
    virtual void didRestoreDelivery([[maybe_unused]] const UUID& central) {}
    // The name a central lists this computer under once connected, where the
    // platform serves its own device name instead of the advertised one;
    // empty when unknown.
    virtual void didUpdateDeviceName([[maybe_unused]] const std::string& name) {}
};

// The local GATT server in the peripheral role. Call it only on the queue
// it was created with.
class PeripheralManager {
public:
    virtual ~PeripheralManager() = default;

    virtual ManagerState state() const = 0;
    // Why the radio cannot be used, in a few words the user can act on
    // ("bluetoothd is not running"), where state() alone cannot tell;
    // empty otherwise.
    virtual std::string unusableReason() const { return {}; }
    virtual void addService(const ServiceRef& service) = 0;
    virtual void removeAllServices() = 0;
    virtual void startAdvertising(const std::string& localName, const std::vector<BluetoothUUID>& services) = 0;
    virtual bool isAdvertising() const = 0;
    // Notifies or indicates the centrals. False when the transmit queue is
    // full; isReadyToUpdateSubscribers follows when it has room again.
    virtual bool updateValue(const std::vector<uint8_t>& value, const CharacteristicRef& characteristic,
                             const std::vector<UUID>& centrals) = 0;
    virtual void respond(const ReadRequest& request, AttResult result, const std::vector<uint8_t>& value) = 0;
    virtual void respond(const WriteRequest& request, AttResult result) = 0;
    // Lets a new central pair for `duration` from now; zero closes the
    // window at once. Outside the window every pairing is refused, while a
    // central that paired before reconnects as it always does. The caller
    // closes the window when its time is up.
    virtual void setPairingWindow(Duration duration) = 0;
};

// The computer's Bluetooth LE peripheral role.
class BluetoothPeripheralRole {
public:
    virtual ~BluetoothPeripheralRole() = default;
    virtual BluetoothAuthorization authorization() const = 0;
    // A manager whose callbacks arrive on `queue`; the first is a state update.
    virtual std::unique_ptr<PeripheralManager> makeManager(PeripheralManagerDelegate& delegate, SerialQueue& queue) = 0;
};

}  // namespace quintalis
