#include "bluetooth/hid_peripheral.h"

#include "base/log.h"

namespace quintalis {
namespace {

std::string byteList(const Bytes& bytes) {
    std::string text = "[";
    for (size_t i = 0; i < bytes.size(); ++i) text += (i ? ", " : "") + std::to_string(bytes[i]);
    return text + "]";
}

}  // namespace

std::string bluetoothName(const BundleInfo& bundle) {
    return bundle.stringValue("SkifflineBluetoothName").value_or("Skiffline");
}

HIDPeripheral::HIDPeripheral(BluetoothPeripheralRole& role, std::string localName, Clock& clock)
    : role_(role), localName_(std::move(localName)), clock_(clock) {}

HIDPeripheral::~HIDPeripheral() { stop(); }

void HIDPeripheral::stop() {
    queue_.sync([this] {
        // The radio's own teardown unpublishes the services and the advertisement.
        manager_.reset();
        stopped_ = true;
    });
    // The radio went with the manager; the phones' inputs, the other source
    // of work here, stopped before.
    queue_.stop();
}

void HIDPeripheral::start() {
    queue_.async([this] {
        if (stopped_) return;
        manager_ = role_.makeManager(*this, queue_);
        // A window opened before Bluetooth started holds for what is left of it.
        Duration left;
        {
            std::lock_guard lock(stateMutex_);
            left = pairingUntil_ - clock_.now();
        }
        if (left > Duration::zero()) manager_->setPairingWindow(left);
    });
}

std::vector<UUID> HIDPeripheral::connectedHosts() {
    std::vector<UUID> hosts;
    queue_.sync([&] { hosts = hostsWithInput(); });
    return hosts;
}

void HIDPeripheral::send(ReportID report, const Bytes& bytes, const UUID& host) {
    queue_.async([this, report, bytes, host] {
        auto input = table_.inputs.find(report);
        if (input == table_.inputs.end() || !centrals_.count(host)) return;
        outbox_.push_back(Pending{input->second, bytes, {host}});
        drain();
    });
}

std::string HIDPeripheral::state() const {
    std::lock_guard lock(stateMutex_);
    return state_;
}

void HIDPeripheral::setState(std::string state) {
    std::lock_guard lock(stateMutex_);
    state_ = std::move(state);
}

void HIDPeripheral::setOnHostsChanged(std::function<void()> callback) {
    queue_.async([this, callback = std::move(callback)] { onHostsChanged_ = callback; });
}

void HIDPeripheral::openPairingWindow(Duration duration) {
    duration = std::max(duration, Duration::zero());
    uint64_t window;
    {
        std::lock_guard lock(stateMutex_);
        pairingUntil_ = clock_.now() + duration;
        window = ++pairingWindows_;
    }
    queue_.async([this, duration] {
        if (manager_) manager_->setPairingWindow(duration);
    });
    if (duration == Duration::zero()) return;
    queue_.asyncAfter(duration, [this, window] {
        {
            std::lock_guard lock(stateMutex_);
            if (window != pairingWindows_) return;  // extended or closed since
        }
        if (manager_) manager_->setPairingWindow(Duration::zero());
    });
}

int HIDPeripheral::pairingSecondsLeft() const {
    std::lock_guard lock(stateMutex_);
    auto left = pairingUntil_ - clock_.now();
    if (left <= Duration::zero()) return 0;
    return static_cast<int>(std::chrono::ceil<std::chrono::seconds>(left).count());
}

std::string HIDPeripheral::deviceName() const {
    std::lock_guard lock(stateMutex_);
    return deviceName_;
}

void HIDPeripheral::didUpdateDeviceName(const std::string& name) {
    std::lock_guard lock(stateMutex_);
    deviceName_ = name;
}

void HIDPeripheral::didUpdateState() {
    auto state = manager_->state();
    log("bluetooth state " + std::to_string(static_cast<int>(state)) + " auth " +
        std::to_string(static_cast<int>(role_.authorization())));
    if (state != ManagerState::poweredOn) dropHosts();
    switch (state) {
        case ManagerState::unauthorized:
            setState("bluetooth not allowed (add this user to the bluetooth group)");
            break;
        case ManagerState::poweredOff:
            setState("bluetooth off");
            break;
        case ManagerState::poweredOn: {
            setState("powered on");
            manager_->removeAllServices();
            published_ = false;
            // New identities: subscriptions to the old table stop counting.
            table_ = HIDGATTTable::build(localName_);
            auto services = table_.services();
            servicesToAdd_.assign(services.begin(), services.end());
            addNextService();
            break;
        }
        default: {
            std::string reason = manager_->unusableReason();
            setState("bluetooth unavailable (" + std::to_string(static_cast<int>(state)) + ")" +
                     (reason.empty() ? "" : ": " + reason));
            break;
        }
    }
}

// Without the radio no host can be reached: none counts as connected, and
// reports still waiting would reach a host long after they mattered.
void HIDPeripheral::dropHosts() {
    bool hadHosts = !hostsWithInput().empty();
    table_.inputs.clear();
    outbox_.clear();
    published_ = false;
    if (hadHosts && onHostsChanged_) onHostsChanged_();
}

void HIDPeripheral::addNextService() {
    if (servicesToAdd_.empty()) {
        published_ = true;
        advertise();
        return;
    }
    ServiceRef next = servicesToAdd_.front();
    servicesToAdd_.pop_front();
    manager_->addService(next);
}

void HIDPeripheral::didAddService(const ServiceRef& service, const Outcome& added) {
    if (!added.ok()) {
        std::string line = "failed to add " + service->uuid.description() + ": " + added.message();
        setState(line);
        log(line);
        return;
    }
    log("added service " + service->uuid.description());
    addNextService();
}

void HIDPeripheral::advertise() {
    if (!published_ || manager_->isAdvertising()) return;
    manager_->startAdvertising(localName_, {BluetoothUUID("1812")});
}

void HIDPeripheral::didStartAdvertising(const std::optional<AdvertisingError>& error) {
    constexpr int kAlreadyAdvertising = 9;
    std::string line = !error || error->code == kAlreadyAdvertising ? "advertising as " + localName_
                                                                    : "advertising failed: " + error->description;
    setState(line);
    log(line);
}

void HIDPeripheral::didReceiveRead(const ReadRequest& request) {
    const auto& characteristic = request.characteristic;
    const std::string uuid = characteristic->uuid.text();
    Bytes value;
    if (uuid == "2A4E") {
        value = {0x01};  // report protocol
    } else if (uuid == "2A19") {
        value = {100};  // battery full
    } else if (uuid == "2A4D") {
        if (characteristic == table_.keyboardOutput) {
            value = {0};
        } else if (auto report = inputReport(characteristic)) {
            value = Bytes(inputReportLength(*report), 0);
        }
    } else {
        manager_->respond(request, AttResult::attributeNotFound, {});
        return;
    }
    if (request.offset > value.size()) {
        manager_->respond(request, AttResult::invalidOffset, {});
        return;
    }
    manager_->respond(request, AttResult::success, Bytes(value.begin() + static_cast<long>(request.offset), value.end()));
}

void HIDPeripheral::didReceiveWrite(const std::vector<WriteRequest>& requests) {
    if (requests.empty()) return;
    for (const auto& request : requests) {
        centrals_.insert(request.central);
        if (request.characteristic->uuid == BluetoothUUID("2A4C")) {
            log("control point write " + byteList(request.value) + " from " + request.central.string());
            recoverStaleCacheIfNeeded(request.central);
        }
    }
    manager_->respond(requests.front(), AttResult::success);
}

void HIDPeripheral::didSubscribe(const UUID& central, const CharacteristicRef& characteristic) {
    centrals_.insert(central);
    subscriptions_[central].insert(characteristic);
    log("subscribe " + characteristic->uuid.description() + " " + describe(characteristic) + " from " +
        central.string());
    if (!inputReport(characteristic)) return;
    // A neutral report first, so nothing stays pressed from an earlier session.
    sendNeutral(central, characteristic);
    hostsChanged();
}

void HIDPeripheral::sendNeutral(const UUID& central, const CharacteristicRef& characteristic) {
    auto report = inputReport(characteristic);
    if (!report) return;
    outbox_.push_back(Pending{characteristic, Bytes(inputReportLength(*report), 0), {central}});
    drain();
}

// A release among the lost reports would leave a key or button held for good.
void HIDPeripheral::didRestoreDelivery(const UUID& central) {
    auto found = subscriptions_.find(central);
    if (found == subscriptions_.end()) return;
    log("reaching " + central.string() + " again; releasing whatever it may hold");
    for (const auto& [id, characteristic] : table_.inputs) {
        if (found->second.count(characteristic)) sendNeutral(central, characteristic);
    }
}

void HIDPeripheral::didUnsubscribe(const UUID& central, const CharacteristicRef& characteristic) {
    if (auto found = subscriptions_.find(central); found != subscriptions_.end()) found->second.erase(characteristic);
    log("unsubscribe " + characteristic->uuid.description() + " " + describe(characteristic) + " from " +
        central.string());
    hostsChanged();
}

void HIDPeripheral::isReadyToUpdateSubscribers() { drain(); }

void HIDPeripheral::hostsChanged() {
    showConnected();
    advertise();
    if (onHostsChanged_) onHostsChanged_();
}

// The note goes before the name, which readers take from the end of the text.
void HIDPeripheral::showConnected() {
    size_t connected = hostsWithInput().size();
    std::string note = deliveryNote_.empty() ? "" : " (" + deliveryNote_ + ")";
    setState(connected > 0 ? std::to_string(connected) + " connected" + note + ", advertising as " + localName_
                           : "advertising as " + localName_);
}

void HIDPeripheral::didUpdateDeliveryNote(const std::string& note) {
    deliveryNote_ = note;
    if (published_) showConnected();
}

void HIDPeripheral::drain() {
    while (!outbox_.empty()) {
        const Pending& next = outbox_.front();
        if (!manager_ || !manager_->updateValue(next.bytes, next.characteristic, next.centrals)) return;
        outbox_.pop_front();
    }
}

void HIDPeripheral::recoverStaleCacheIfNeeded(const UUID& central) {
    auto found = subscriptions_.find(central);
    if (found != subscriptions_.end()) {
        for (const auto& characteristic : found->second) {
            if (inputReport(characteristic)) return;  // healthy
        }
    }
    if (found == subscriptions_.end() || !found->second.count(table_.serviceChanged)) return;
    if (!serviceChangedSent_.insert(central).second) return;
    log("stale cache on " + central.string() + ", indicating Service Changed");
    outbox_.push_front(Pending{table_.serviceChanged, serviceChangedValue(), {central}});
    drain();
}

std::optional<ReportID> HIDPeripheral::inputReport(const CharacteristicRef& characteristic) const {
    for (const auto& [id, input] : table_.inputs) {
        if (input == characteristic) return id;
    }
    return std::nullopt;
}

std::string HIDPeripheral::describe(const CharacteristicRef& characteristic) const {
    auto report = inputReport(characteristic);
    return report ? "(" + std::string(reportName(*report)) + ")" : "";
}

std::vector<UUID> HIDPeripheral::hostsWithInput() const {
    std::vector<UUID> hosts;
    for (const auto& [host, subscribed] : subscriptions_) {
        for (const auto& characteristic : subscribed) {
            if (inputReport(characteristic)) {
                hosts.push_back(host);
                break;
            }
        }
    }
    return hosts;
}

}  // namespace quintalis
