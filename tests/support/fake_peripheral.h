#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

#include "platform/peripheral_manager.h"

namespace quintalis::testing {

// A peripheral manager that records every call and lets the test play the
// radio and the centrals. Its callbacks arrive on the owner's queue, like a
// real manager's. Inspect it through the owner's queue (HIDPeripheral::sync).
class FakePeripheralManager final : public PeripheralManager {
public:
    struct Update {
        std::vector<uint8_t> value;
        CharacteristicRef characteristic;
        std::vector<UUID> centrals;
    };
    struct Response {
        uint64_t id;
        AttResult result;
        std::vector<uint8_t> value;
    };

    FakePeripheralManager(PeripheralManagerDelegate& delegate, SerialQueue& queue, ManagerState state)
        : delegate_(delegate), queue_(queue), state_(state) {}

    // The radio.
    void changeState(ManagerState state) {
        post([this, state] {
            state_ = state;
            advertising = false;
            delegate_.didUpdateState();
        });
    }
    // Fills the transmit queue: updates are refused until signalReady.
    void fillQueue() {
        queue_.sync([&] { full_ = true; });
    }
    void signalReady() {
        post([this] {
            full_ = false;
            delegate_.isReadyToUpdateSubscribers();
        });
    }

    // The centrals.
    void subscribe(const UUID& central, const CharacteristicRef& c) {
        post([=, this] { delegate_.didSubscribe(central, c); });
    }
    void unsubscribe(const UUID& central, const CharacteristicRef& c) {
        post([=, this] { delegate_.didUnsubscribe(central, c); });
    }
    void restoreDelivery(const UUID& central) {
        post([=, this] { delegate_.didRestoreDelivery(central); });
    }
    uint64_t read(const UUID& central, const CharacteristicRef& c, size_t offset) {
        uint64_t id = ++lastRequest_;
        post([=, this] { delegate_.didReceiveRead(ReadRequest{id, central, c, offset}); });
        return id;
    }
    void write(std::vector<WriteRequest> requests) {
        post([=, this] { delegate_.didReceiveWrite(requests); });
    }

    // What the owner did (read on the owner's queue).
    std::map<std::string, std::string> failingServices;  // service UUID text to error
    std::optional<AdvertisingError> advertisingError;
    std::vector<ServiceRef> services;
    std::vector<std::string> advertisedNames;
    bool advertising = false;
    std::vector<Update> updates;
    std::function<void(const Update&)> onUpdate;  // what the centrals receive
    std::vector<Response> responses;
    std::vector<Duration> pairingWindows;

    ManagerState state() const override { return state_; }
    void addService(const ServiceRef& service) override {
        services.push_back(service);
        post([this, service] {
            auto failure = failingServices.find(service->uuid.text());
            delegate_.didAddService(service, failure == failingServices.end() ? Outcome::success()
                                                                              : Outcome::failure(failure->second));
        });
    }
    void removeAllServices() override { services.clear(); }
    void startAdvertising(const std::string& name, const std::vector<BluetoothUUID>&) override {
        advertisedNames.push_back(name);
        advertising = !advertisingError;
        post([this] { delegate_.didStartAdvertising(advertisingError); });
    }
    bool isAdvertising() const override { return advertising; }
    bool updateValue(const std::vector<uint8_t>& value, const CharacteristicRef& c,
                     const std::vector<UUID>& centrals) override {
        if (full_) return false;
        updates.push_back(Update{value, c, centrals});
        if (onUpdate) onUpdate(updates.back());
        return true;
    }
    void respond(const ReadRequest& request, AttResult result, const std::vector<uint8_t>& value) override {
        responses.push_back(Response{request.id, result, value});
    }
    void respond(const WriteRequest& request, AttResult result) override {
        responses.push_back(Response{request.id, result, {}});
    }
    void setPairingWindow(Duration duration) override { pairingWindows.push_back(duration); }

private:
    // Callbacks still queued when the manager goes are dropped, as a real
    // manager's are.
    void post(std::function<void()> task) {
        std::weak_ptr<bool> alive = alive_;
        queue_.async([alive, task = std::move(task)] {
            if (alive.lock()) task();
        });
    }

    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    PeripheralManagerDelegate& delegate_;
    SerialQueue& queue_;
    ManagerState state_;
    bool full_ = false;
    std::atomic<uint64_t> lastRequest_{0};
};

class FakePeripheralRole final : public BluetoothPeripheralRole {
public:
    ManagerState initialState = ManagerState::poweredOn;
    BluetoothAuthorization allowed = BluetoothAuthorization::allowedAlways;
    FakePeripheralManager* manager = nullptr;  // owned by whoever asked for it

    BluetoothAuthorization authorization() const override { return allowed; }
    std::unique_ptr<PeripheralManager> makeManager(PeripheralManagerDelegate& delegate, SerialQueue& queue) override {
        auto made = std::make_unique<FakePeripheralManager>(delegate, queue, initialState);
        manager = made.get();
        made->changeState(initialState);
        return made;
    }
};

}  // namespace quintalis::testing
