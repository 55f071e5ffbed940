// What every backend of the peripheral seam promises, held against each one:
// bluetoothd (the fake, on a private bus), the simulator's radio, and the
// radio that says it is unsupported.
#include <gtest/gtest.h>

#include <cmath>
#include <mutex>

#include "bluetooth/gatt_table.h"
#include "platform/linux/bluez/bluez_names.h"
#include "platform/linux/bluez/bluez_peripheral_role.h"
#include "platform/linux/unsupported_peripheral_role.h"
#include "simulator/simulator.h"
#include "support/eventually.h"
#include "support/fake_bluez.h"
#include "support/log_capture.h"

using namespace quintalis;
using namespace quintalis::testing;

namespace {

// Records the callbacks as they arrive on the manager's queue.
class Recorder final : public PeripheralManagerDelegate {
public:
    void didUpdateState() override { add("state"); }
    void didAddService(const ServiceRef&, const Outcome& added) override {
        add(added.ok() ? "added" : "added with error");
    }
    void didStartAdvertising(const std::optional<AdvertisingError>& error) override {
        add(error ? "advertising failed: " + error->description : "advertising");
    }
    void didReceiveRead(const ReadRequest&) override {}
    void didReceiveWrite(const std::vector<WriteRequest>&) override {}
    void didSubscribe(const UUID& central, const CharacteristicRef&) override { subscribe(central, true); }
    void didUnsubscribe(const UUID& central, const CharacteristicRef&) override { subscribe(central, false); }
    void isReadyToUpdateSubscribers() override { add("ready"); }

    std::vector<std::string> events() const {
        std::lock_guard lock(mutex_);
        return events_;
    }
    size_t count(const std::string& event) const {
        auto all = events();
        return std::count(all.begin(), all.end(), event);
    }
    bool has(const std::string& event) const { return count(event) > 0; }
    std::set<UUID> subscribed() const {
        std::lock_guard lock(mutex_);
        return subscribed_;
    }

private:
    void add(std::string event) {
        std::lock_guard lock(mutex_);
        events_.push_back(std::move(event));
    }
    void subscribe(const UUID& central, bool on) {
        std::lock_guard lock(mutex_);
        on ? (void)subscribed_.insert(central) : (void)subscribed_.erase(central);
    }
    mutable std::mutex mutex_;
    std::vector<std::string> events_;
    std::set<UUID> subscribed_;
};

// One backend, with the means to bring a host and to see what it received.
class Backend {
public:
    virtual ~Backend() = default;
    virtual BluetoothPeripheralRole& role() = 0;
    virtual ManagerState poweredState() const { return ManagerState::poweredOn; }
    // A host connects and subscribes to every input report; nothing when the backend has no radio.
    virtual std::optional<UUID> connectHost(const HIDGATTTable&) = 0;
    // Whether the host's last absolute pointer report put it at x (in report units).
    virtual bool pointerAt(const UUID& host, uint16_t x) = 0;
    // The host takes what the radio has carried so far (a real one does so by itself).
    virtual void takeDelivery() {}
};

class BluezBackend final : public Backend {
public:
    BluezBackend() {
        bluez.addAdapter("hci0", true);
        bluez.start();
    }
    BluetoothPeripheralRole& role() override { return radio; }
    std::optional<UUID> connectHost(const HIDGATTTable&) override { return connect("hci0", kPhone); }
    std::optional<UUID> connect(const std::string& adapter, const std::string& address) {
        if (!eventually([&] { return !bluez.advertisement(adapter).empty(); })) return std::nullopt;
        std::string device = bluez.connect(adapter, address);
        auto hid = bluez.characteristics(adapter, "1812");
        bluez.read(adapter, hid[1], device);  // the report map, as a phone reads it first
        for (size_t i = 4; i < 8; ++i) bluez.enableNotifications(adapter, hid[i], device);
        return bluez::centralId(address);
    }
    bool pointerAt(const UUID&, uint16_t x) override {
        auto got = bluez.received("hci0", bluez.characteristics("hci0", "1812")[5]);
        return !got.empty() && got.back() == absolutePointerReport(0, x, 100);
    }
    void takeDelivery() override { bluez.received("hci0", bluez.characteristics("hci0", "1812")[5]); }

    static constexpr const char* kPhone = "5C:AD:BA:00:00:0A";
    PrivateBus bus;
    FakeBluez bluez{bus};
    BluezPeripheralRole radio{[this] { return bus.connect(); }};
};

class SimulatorBackend final : public Backend {
public:
    BluetoothPeripheralRole& role() override { return simulator.radio(); }
    std::optional<UUID> connectHost(const HIDGATTTable&) override {
        return UUID::parse(simulator.groundTruth()["phones"][0]["central"].get<std::string>());
    }
    bool pointerAt(const UUID&, uint16_t x) override {
        auto pointer = simulator.groundTruth()["phones"][0]["pointer"];
        return !pointer.is_null() && pointer["x"] == std::round(x / 32767.0 * 1178);
    }

    simulator::Simulator simulator{{simulator::PhoneSetup{}}};
};

class UnsupportedBackend final : public Backend {
public:
    BluetoothPeripheralRole& role() override { return radio; }
    ManagerState poweredState() const override { return ManagerState::unsupported; }
    std::optional<UUID> connectHost(const HIDGATTTable&) override { return std::nullopt; }
    bool pointerAt(const UUID&, uint16_t) override { return false; }

    UnsupportedPeripheralRole radio;
};

using Make = std::function<std::unique_ptr<Backend>()>;

class PeripheralContract : public ::testing::TestWithParam<std::pair<const char*, Make>> {
protected:
    void SetUp() override {
        backend = GetParam().second();
        manager = backend->role().makeManager(recorder, queue);
    }
    void TearDown() override {
        queue.sync([&] { manager.reset(); });
    }
    template <typename F>
    auto onQueue(F f) {
        decltype(f()) result;
        queue.sync([&] { result = f(); });
        return result;
    }
    // Publishes the table and advertises, as the HID peripheral does once powered on.
    void publish() {
        ASSERT_TRUE(eventually([&] { return recorder.has("state"); }));
        queue.sync([&] {
            for (const auto& service : table.services()) manager->addService(service);
            manager->startAdvertising("Skiffline", {BluetoothUUID("1812")});
        });
    }

    LogCapture logs;
    Recorder recorder;
    SerialQueue queue{"quintalis.bluetooth"};
    std::unique_ptr<Backend> backend;
    std::unique_ptr<PeripheralManager> manager;
    HIDGATTTable table = HIDGATTTable::build("Skiffline");
};

}  // namespace

TEST_P(PeripheralContract, TheFirstCallbackIsTheStateAndPublishingEndsInAnAnswerForEveryService) {
    ASSERT_TRUE(eventually([&] { return recorder.has("state"); }));
    EXPECT_EQ(recorder.events().front(), "state");
    EXPECT_EQ(onQueue([&] { return manager->state(); }), backend->poweredState());
    publish();
    if (backend->poweredState() != ManagerState::poweredOn) return;
    ASSERT_TRUE(eventually([&] { return recorder.has("advertising"); })) << ::testing::PrintToString(recorder.events());
    EXPECT_EQ(recorder.count("added"), 4u);
    EXPECT_TRUE(onQueue([&] { return manager->isAdvertising(); }));
}

// A burst far beyond any transmit queue: refused updates are retried after
// the ready callback, none is lost or reordered, so the last one wins. A
// pairing window opened and closed before it leaves the host alone.
TEST_P(PeripheralContract, ABurstReachesTheHostWholeAndInOrder) {
    publish();
    auto host = backend->connectHost(table);
    queue.sync([&] { manager->setPairingWindow(std::chrono::seconds(30)); });
    queue.sync([&] { manager->setPairingWindow(Duration::zero()); });
    if (!host) {
        // Without a radio an update is taken and dropped: nobody waits for room that never comes.
        EXPECT_TRUE(onQueue([&] { return manager->updateValue(Bytes(5, 0), table.inputs.at(ReportID::absolutePointer), {}); }));
        return;
    }
    ASSERT_TRUE(eventually([&] { return recorder.subscribed().count(*host) > 0; }));
    auto pointer = table.inputs.at(ReportID::absolutePointer);
    std::deque<Bytes> outbox;
    for (uint16_t x = 0; x <= 3000; x += 10) outbox.push_back(absolutePointerReport(0, x, 100));
    size_t readies = 0;
    ASSERT_TRUE(eventually([&] {
        queue.sync([&] {
            while (!outbox.empty() && manager->updateValue(outbox.front(), pointer, {*host})) outbox.pop_front();
        });
        if (!outbox.empty()) {
            size_t now = recorder.count("ready");
            if (now == readies) {
                backend->takeDelivery();
                return false;  // wait for room
            }
            readies = now;
        }
        return outbox.empty();
    }, 30));
    EXPECT_TRUE(eventually([&] { return backend->pointerAt(*host, 3000); }, 10));
}

INSTANTIATE_TEST_SUITE_P(
    Backends, PeripheralContract,
    ::testing::Values(std::pair<const char*, Make>{"Bluez", [] { return std::make_unique<BluezBackend>(); }},
                      std::pair<const char*, Make>{"Simulator", [] { return std::make_unique<SimulatorBackend>(); }},
                      std::pair<const char*, Make>{"Unsupported", [] { return std::make_unique<UnsupportedBackend>(); }}),
    [](const auto& info) { return std::string(info.param.first); });

// One update for phones on two adapters: both sockets must have room before
// either is written, or the retry after the ready callback would give the
// phone whose socket had room the same report twice.
TEST(BluezPeripheralManager, AnUpdateForTwoSocketsWaitsUntilBothHaveRoom) {
    LogCapture logs;
    BluezBackend backend;
    backend.bluez.addAdapter("hci1", true);
    Recorder recorder;
    SerialQueue queue{"quintalis.bluetooth"};
    auto manager = backend.radio.makeManager(recorder, queue);
    auto table = HIDGATTTable::build("Skiffline");
    ASSERT_TRUE(eventually([&] { return recorder.has("state"); }));
    queue.sync([&] {
        for (const auto& service : table.services()) manager->addService(service);
        manager->startAdvertising("Skiffline", {BluetoothUUID("1812")});
    });
    auto a = backend.connect("hci0", BluezBackend::kPhone), b = backend.connect("hci1", "5C:AD:BA:00:00:0B");
    ASSERT_TRUE(a && b);
    ASSERT_TRUE(eventually([&] { return recorder.subscribed() == std::set<UUID>{*a, *b}; }));
    auto pointer = table.inputs.at(ReportID::absolutePointer);

    size_t filled = 0;
    queue.sync([&] {
        while (filled < 100000 && manager->updateValue(absolutePointerReport(0, 1, 1), pointer, {*a})) ++filled;
    });
    ASSERT_LT(filled, 100000u) << "the socket never filled";
    const Bytes marker = absolutePointerReport(0, 7777, 7777);
    auto markersAt = [&](const char* adapter, const std::string& path) {
        auto got = backend.bluez.received(adapter, path);
        return std::count(got.begin(), got.end(), marker);
    };
    const std::string atA = backend.bluez.characteristics("hci0", "1812")[5];
    const std::string atB = backend.bluez.characteristics("hci1", "1812")[5];
    bool taken = false;
    queue.sync([&] { taken = manager->updateValue(marker, pointer, {*b, *a}); });
    EXPECT_FALSE(taken);
    // The phone on hci0 reads its notifications; the update goes through once, to both.
    ASSERT_TRUE(eventually([&] {
        markersAt("hci0", atA);
        queue.sync([&] { taken = taken || manager->updateValue(marker, pointer, {*b, *a}); });
        return taken;
    }));
    EXPECT_EQ(markersAt("hci0", atA), 1);
    EXPECT_EQ(markersAt("hci1", atB), 1);
    queue.sync([&] { manager.reset(); });
}
