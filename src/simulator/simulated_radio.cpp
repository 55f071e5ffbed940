#include "simulator/simulated_radio.h"

#include "bluetooth/gatt_table.h"

namespace quintalis::simulator {

// One peripheral manager. Its own calls arrive on the owner's (Bluetooth)
// queue; the transmit queue is shared with the simulator's queue, which
// drains it into the phones.
class SimulatedRadio::Manager final : public PeripheralManager {
public:
    friend class SimulatedRadio;
    Manager(SimulatedRadio& radio, PeripheralManagerDelegate& delegate, SerialQueue& queue)
        : radio_(radio), delegate_(delegate), queue_(queue), link_(std::make_shared<Link>(radio)) {
        link_->owner = this;
    }
    ~Manager() override {
        std::lock_guard lock(link_->mutex);
        link_->owner = nullptr;
        alive_.end();
    }

    ManagerState state() const override { return ManagerState::poweredOn; }

    void addService(const ServiceRef& service) override {
        for (const auto& characteristic : service->characteristics) {
            if (inputReportOf(*characteristic)) inputs_.push_back(characteristic);
        }
        post([this, service] { delegate_.didAddService(service, Outcome::success()); });
    }

    void removeAllServices() override {
        inputs_.clear();
        std::lock_guard lock(link_->mutex);
        link_->subscribed.clear();
    }

    void startAdvertising(const std::string&, const std::vector<BluetoothUUID>&) override {
        advertising_ = true;
        post([this] {
            delegate_.didStartAdvertising(std::nullopt);
            connectPhones();
        });
    }

    bool isAdvertising() const override { return advertising_; }

    bool updateValue(const std::vector<uint8_t>& value, const CharacteristicRef& characteristic,
                     const std::vector<UUID>& centrals) override {
        auto report = inputReportOf(*characteristic);
        std::lock_guard lock(link_->mutex);
        if (link_->pending.size() >= kQueueCapacity) {
            link_->waiting = true;
            ++radio_.refused_;
            return false;
        }
        // Only input reports reach a phone; anything else (Service Changed) is accepted and has no effect.
        if (report) link_->pending.push_back({*report, value, centrals});
        if (!link_->pumping && !link_->pending.empty()) {
            link_->pumping = true;
            schedulePump(link_);
        }
        return true;
    }

    void respond(const ReadRequest&, AttResult, const std::vector<uint8_t>&) override {}
    void respond(const WriteRequest&, AttResult) override {}
    // Virtual phones come paired already; there is nothing to let in.
    void setPairingWindow(Duration) override {}

private:
    struct Notification {
        ReportID report;
        Bytes bytes;
        std::vector<UUID> centrals;
    };
    // What the Bluetooth queue and the simulator's queue share.
    struct Link {
        explicit Link(SimulatedRadio& radio) : radio(radio) {}
        SimulatedRadio& radio;
        std::mutex mutex;
        Manager* owner = nullptr;  // cleared when the manager goes
        std::deque<Notification> pending;
        std::set<UUID> subscribed;
        bool pumping = false;
        bool waiting = false;  // an update was refused; tell the owner when there is room
    };

    // Delegate calls go to the owner's queue and are dropped once this manager is gone.
    void post(std::function<void()> task) {
        auto watch = alive_.watch();
        queue_.async([watch, task = std::move(task)] {
            if (watch.alive()) task();
        });
    }

    // Every phone with Bluetooth on subscribes to the four input reports.
    void connectPhones() {
        for (auto* phone : radio_.phones_) {
            if (!phone->setup().bluetooth) continue;
            {
                std::lock_guard lock(link_->mutex);
                if (!link_->subscribed.insert(phone->central()).second) continue;
            }
            for (const auto& characteristic : inputs_) delegate_.didSubscribe(phone->central(), characteristic);
        }
    }

    // The drain runs on the simulator's queue and touches only the link, so
    // the manager may go (on its own queue) while notifications are in flight.
    static void schedulePump(const std::shared_ptr<Link>& link) {
        auto radioWatch = link->radio.alive_.watch();
        link->radio.simulatorQueue_.asyncAfter(kInterval, [link, radioWatch] {
            if (radioWatch.alive()) pump(link);
        });
    }

    // One connection interval's worth of notifications.
    static void pump(const std::shared_ptr<Link>& link) {
        std::vector<Notification> batch;
        {
            std::lock_guard lock(link->mutex);
            while (!link->pending.empty() && batch.size() < kPerInterval) {
                batch.push_back(std::move(link->pending.front()));
                link->pending.pop_front();
            }
            for (auto& notification : batch) {
                std::erase_if(notification.centrals, [&](const UUID& c) { return !link->subscribed.count(c); });
            }
        }
        SimulatedRadio& radio = link->radio;
        for (const auto& notification : batch) {
            for (auto* phone : radio.phones_) {
                for (const auto& central : notification.centrals) {
                    if (central == phone->central() && phone->receive(notification.report, notification.bytes)) {
                        radio.cameras_.pictureChanged(*phone);
                    }
                }
            }
        }
        std::lock_guard lock(link->mutex);
        if (link->waiting && link->owner) {
            link->waiting = false;
            link->owner->post([delegate = &link->owner->delegate_] { delegate->isReadyToUpdateSubscribers(); });
        }
        link->pumping = !link->pending.empty();
        if (link->pumping) schedulePump(link);
    }

    SimulatedRadio& radio_;
    PeripheralManagerDelegate& delegate_;
    SerialQueue& queue_;
    std::vector<CharacteristicRef> inputs_;  // owned by queue_
    bool advertising_ = false;
    std::shared_ptr<Link> link_;
    Liveness alive_;
};

SimulatedRadio::SimulatedRadio(std::vector<VirtualPhone*> phones, SerialQueue& simulatorQueue, SimulatedCameras& cameras)
    : phones_(std::move(phones)), simulatorQueue_(simulatorQueue), cameras_(cameras) {}

SimulatedRadio::~SimulatedRadio() { alive_.end(); }

std::unique_ptr<PeripheralManager> SimulatedRadio::makeManager(PeripheralManagerDelegate& delegate, SerialQueue& queue) {
    auto manager = std::make_unique<Manager>(*this, delegate, queue);
    auto watch = manager->alive_.watch();
    queue.async([&delegate, watch] {
        if (watch.alive()) delegate.didUpdateState();
    });
    return manager;
}

}  // namespace quintalis::simulator
