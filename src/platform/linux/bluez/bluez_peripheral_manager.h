#pragma once

#include <map>
#include <memory>
#include <set>

#include "platform/linux/bluez/bluez_advertisement.h"
#include "platform/linux/bluez/bluez_agent.h"
#include "platform/linux/bluez/bluez_bus.h"
#include "platform/linux/bluez/bluez_directory.h"
#include "platform/linux/bluez/gatt_application.h"
#include "platform/linux/bluez/notify_socket.h"
#include "platform/peripheral_manager.h"

namespace quintalis::bluez {

// The peripheral role on bluetoothd. The radio's state comes from the
// adapters; the services become one GATT application per adapter, with an
// advertisement and the pairing agent beside it, registered on every
// powered adapter once advertising is asked for.
//
// Notifications go through AcquireNotify sockets. bluetoothd opens one per
// characteristic and adapter when the first device turns notifications on,
// and sends every packet to every subscribed device of that adapter; it
// never says which devices those are. So a central counts as subscribed
// while it is connected (as its Device1 object says) to an adapter whose
// socket is open, and an update reaches it only while it is the only
// device connected to that adapter: a report never goes to the wrong phone.
//
// Threads: create, destroy and call it on the owner's queue; every delegate
// callback arrives there.
class BluezPeripheralManager final : public PeripheralManager {
public:
    BluezPeripheralManager(std::unique_ptr<sdbus::IConnection> connection, PeripheralManagerDelegate& delegate,
                           SerialQueue& queue);
    ~BluezPeripheralManager() override;

    ManagerState state() const override;
    void addService(const ServiceRef& service) override;
    void removeAllServices() override;
    void startAdvertising(const std::string& localName, const std::vector<BluetoothUUID>& services) override;
    bool isAdvertising() const override { return advertising_.has_value(); }
    bool updateValue(const std::vector<uint8_t>& value, const CharacteristicRef& characteristic,
                     const std::vector<UUID>& centrals) override;
    void respond(const ReadRequest& request, AttResult result, const std::vector<uint8_t>& value) override;
    void respond(const WriteRequest& request, AttResult result) override;

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
        std::map<CharacteristicRef, Channel> channels;
    };

    // bluetoothd and its objects.
    void onPresence(bool present);
    void onObjects(const ObjectMap& objects);
    void onObjectsFailed(const BusError& error);
    void objectsChanged();
    void syncLinks();
    void reportState();
    void registerAgent();
    void trustAcceptedDevices();

    // Registration on each adapter.
    void ensureRegistered(const std::string& adapter);
    void registerAdvertisement(const std::string& adapter);
    void registrationFinished(const std::string& adapter, const std::optional<BusError>& error);
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

    // Who counts as subscribed, and who can be reached.
    void reconcile();
    bool reachable(const UUID& host, std::string& adapter);

    void post(Task task);

    PeripheralManagerDelegate& delegate_;

    // Owned by the queue.
    Directory directory_;
    bool fetched_ = false;
    bool denied_ = false;
    ManagerState reported_ = ManagerState::unknown;
    std::vector<ServiceRef> services_;
    std::set<CharacteristicRef> ownedByBluetoothd_;
    std::optional<AdvertisementData> advertising_;
    std::set<std::string> awaitingStart_;
    std::optional<BusError> startError_;
    bool startSucceeded_ = false;
    bool startAlready_ = false;
    std::map<std::string, Link> links_;
    std::vector<std::pair<UUID, CharacteristicRef>> announced_;
    std::string note_;
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
