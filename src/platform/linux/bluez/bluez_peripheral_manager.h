#pragma once

#include <map>
#include <memory>
#include <set>

#include "base/retry_delay.h"
#include "platform/linux/bluez/bluez_advertisement.h"
#include "platform/linux/bluez/bluez_agent.h"
#include "platform/linux/bluez/bluez_bus.h"
#include "platform/linux/bluez/bluez_directory.h"
#include "platform/linux/bluez/bluez_settings.h"
#include "platform/linux/bluez/gatt_application.h"
#include "platform/linux/bluez/host_book.h"
#include "platform/linux/bluez/notify_socket.h"
#include "platform/peripheral_manager.h"

namespace quintalis::bluez {

// The peripheral role on bluetoothd. The radio's state comes from the
// adapters (those the settings name, else all); the services become one
// GATT application per adapter, with an advertisement beside it,
// registered on every powered adapter once advertising is asked for. A
// refused registration is asked again later, never in a busy loop.
//
// Notifications go through AcquireNotify sockets. bluetoothd opens one per
// characteristic and adapter when the first device turns notifications on,
// and sends every packet to every subscribed device of that adapter; it
// never says which devices those are. So a central counts as subscribed
// while it is connected (as its Device1 object says) to an adapter whose
// socket is open, and only if it is a HID host: a device that has used the
// application (the host book). An update reaches it only while it is the
// only HID host connected to that adapter: a report never goes to the
// wrong phone, and a headset or mouse beside the phone changes nothing.
//
// Pairing: the agent is registered, and the adapters pairable, only while
// a pairing window is open; even then only a Bluetooth LE device connected
// through an adapter this program advertises on may pair.
//
// Threads: create, destroy and call it on the owner's queue; every delegate
// callback arrives there.
class BluezPeripheralManager final : public PeripheralManager {
public:
    BluezPeripheralManager(std::unique_ptr<sdbus::IConnection> connection, PeripheralManagerDelegate& delegate,
                           SerialQueue& queue, BluezSettings settings = {});
    ~BluezPeripheralManager() override;

    ManagerState state() const override;
    std::string unusableReason() const override;
    void addService(const ServiceRef& service) override;
    void removeAllServices() override;
    void startAdvertising(const std::string& localName, const std::vector<BluetoothUUID>& services) override;
    bool isAdvertising() const override { return advertising_.has_value(); }
    bool updateValue(const std::vector<uint8_t>& value, const CharacteristicRef& characteristic,
                     const std::vector<UUID>& centrals) override;
    void respond(const ReadRequest& request, AttResult result, const std::vector<uint8_t>& value) override;
    void respond(const WriteRequest& request, AttResult result) override;
    void setPairingWindow(Duration duration) override;

private:
    enum class Registration { none, pending, done };
    struct Channel {
        NotifySocket socket;
        uint64_t watch = 0;
    };
    // What this process has on one adapter.
    struct Link {
        bool powered = false;
        std::map<std::string, std::string> connected;  // device path to address, as last seen
        bool refusalLogged = false;       // since the connected devices last changed
        std::shared_ptr<GATTApplication> application;
        Registration applicationState = Registration::none;
        std::shared_ptr<Advertisement> advertisement;
        Registration advertisementState = Registration::none;
        RetryDelay retry;              // of the application and the advertisement
        uint64_t retryGeneration = 0;  // a retry scheduled before a later one is dropped
        std::map<CharacteristicRef, Channel> channels;
    };

    // bluetoothd and its objects.
    void onPresence(bool present);
    void onObjects(const ObjectMap& objects);
    void onObjectsFailed(const BusError& error);
    void objectsChanged();
    void syncLinks();
    void reportState();
    bool selected(const std::string& adapter) const;
    void onDeviceChanged(const std::string& path, const PropertyMap& changed);
    void onDeviceRemoved(const std::string& path);

    // Pairing.
    void registerAgent();
    void unregisterAgent();
    void setPairable(const std::string& adapter, bool pairable);
    std::optional<std::string> pairingRefusal(const std::string& device) const;
    void trustAcceptedDevices();

    // Registration on each adapter.
    void ensureRegistered(const std::string& adapter);
    void registerAdvertisement(const std::string& adapter);
    void registrationFinished(const std::string& adapter, const std::optional<BusError>& error);
    void registrationFailed(const std::string& adapter, const std::string& what, const BusError& error);
    void dropApplication(const std::string& adapter, Link& link);
    void stopAdvertising();

    // Requests from bluetoothd, through the GATT application.
    GATTApplication::Handlers handlersFor(const std::string& adapter);
    void onRead(const CharacteristicRef& characteristic, const AttOptions& options, ReadReply reply);
    void onWrite(const CharacteristicRef& characteristic, std::vector<uint8_t> value, const AttOptions& options,
                 WriteReply reply);
    void onAcquireNotify(const std::string& adapter, const CharacteristicRef& characteristic, const AttOptions& options,
                         AcquireReply reply);
    void onChannelClosed(const std::string& adapter, const CharacteristicRef& characteristic, uint64_t watch);
    void dropChannel(Link& link, const CharacteristicRef& characteristic);
    UUID hostOf(const std::string& devicePath) const;
    void noteUse(const AttOptions& options);

    // Who counts as subscribed, and who can be reached.
    void reconcile();
    std::vector<Device> hidHostsOn(const std::string& adapter) const;
    const Device* connectedHost(const UUID& host) const;
    bool reachable(const UUID& host, std::string& adapter);

    void post(Task task);

    PeripheralManagerDelegate& delegate_;
    SerialQueue& queue_;
    const BluezSettings settings_;

    // Owned by the queue.
    Directory directory_;
    HostBook hosts_;
    std::set<UUID> dropped_;  // hosts whose updates were dropped while they could not be reached
    bool pairing_ = false;    // a pairing window is open
    bool fetched_ = false;
    bool denied_ = false;
    bool everPresent_ = false;
    ManagerState reported_ = ManagerState::unknown;
    std::vector<ServiceRef> services_;
    std::set<CharacteristicRef> ownedByBluetoothd_;
    std::optional<AdvertisementData> advertising_;
    std::set<std::string> awaitingStart_;
    std::optional<BusError> startError_;
    bool startSucceeded_ = false;
    bool startAlready_ = false;
    bool failureReported_ = false;  // the delegate was told advertising failed; a retry may mend it
    std::map<std::string, Link> links_;
    std::vector<std::pair<UUID, CharacteristicRef>> announced_;
    std::string note_;
    std::string deviceName_;
    uint64_t lastRequest_ = 0;
    std::map<uint64_t, ReadReply> reads_;
    std::map<uint64_t, WriteReply> writes_;
    std::set<std::string> acceptedDevices_;
    Registration agentState_ = Registration::none;

    SocketWatch sockets_;
    std::unique_ptr<Bus> bus_;
    std::unique_ptr<Agent> agent_;
};

}  // namespace quintalis::bluez
