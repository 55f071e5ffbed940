#include <gtest/gtest.h>

#include "bluetooth/hid_peripheral.h"
#include "support/fake_peripheral.h"
#include "support/fake_clock.h"
#include "support/log_capture.h"

using namespace quintalis;
using namespace quintalis::testing;

namespace {

const UUID kHostA = *UUID::parse("11111111-2222-3333-4444-555555555555");
const UUID kHostB = *UUID::parse("AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE");

class PeripheralTest : public ::testing::Test {
protected:
    void SetUp() override {
        peripheral.start();
        settle();
        ASSERT_NE(role.manager, nullptr);
        ASSERT_EQ(fake().services.size(), 4u);
    }
    void TearDown() override { settle(); }

    // Lets chains of callbacks (one service added per callback) run out.
    void settle() {
        for (int i = 0; i < 12; ++i) peripheral.sync([] {});
    }
    FakePeripheralManager& fake() { return *role.manager; }
    const ServiceRef& service(size_t index) { return fake().services.at(index); }
    CharacteristicRef input(ReportID id) { return service(1)->characteristics.at(3 + static_cast<size_t>(id)); }
    CharacteristicRef controlPoint() { return service(1)->characteristics.at(2); }
    CharacteristicRef protocolMode() { return service(1)->characteristics.at(3); }
    CharacteristicRef output() { return service(1)->characteristics.at(8); }
    CharacteristicRef serviceChanged() { return service(0)->characteristics.at(0); }
    CharacteristicRef batteryLevel() { return service(3)->characteristics.at(0); }

    void writeControlPoint(const UUID& host) {
        fake().write({WriteRequest{1, host, controlPoint(), {0}, 0}});
        settle();
    }
    std::vector<FakePeripheralManager::Update> updates() {
        std::vector<FakePeripheralManager::Update> copy;
        peripheral.sync([&] { copy = fake().updates; });
        return copy;
    }

    LogCapture logs;
    FakePeripheralRole role;
    HIDPeripheral peripheral{role, "Skiffline"};
};

}  // namespace

TEST_F(PeripheralTest, PublishesTheTableInOrderThenAdvertises) {
    // The table is built with the advertised name as its manufacturer.
    EXPECT_EQ(*service(2)->characteristics[0]->value, (Bytes{'S', 'k', 'i', 'f', 'f', 'l', 'i', 'n', 'e'}));
    EXPECT_EQ(peripheral.state(), "advertising as Skiffline");
    EXPECT_EQ(logs.lines(), (std::vector<std::string>{
                                "bluetooth state 5 auth 3", "added service Generic Attribute",
                                "added service Human Interface Device", "added service Device Information",
                                "added service Battery", "advertising as Skiffline"}));
}

TEST_F(PeripheralTest, OnlyInputReportSubscriptionsMakeAHostConnected) {
    int changes = 0;
    peripheral.setOnHostsChanged([&] { ++changes; });
    fake().subscribe(kHostA, serviceChanged());
    fake().subscribe(kHostA, batteryLevel());
    settle();
    EXPECT_TRUE(peripheral.connectedHosts().empty());
    EXPECT_EQ(changes, 0);
    EXPECT_TRUE(logs.contains("subscribe Service Changed  from " + kHostA.string()));

    fake().subscribe(kHostA, input(ReportID::relativeMouse));
    settle();
    EXPECT_EQ(peripheral.connectedHosts(), std::vector<UUID>{kHostA});
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(peripheral.state(), "1 connected, advertising as Skiffline");
    EXPECT_TRUE(logs.contains("subscribe Report (relativeMouse) from " + kHostA.string()));

    fake().unsubscribe(kHostA, input(ReportID::relativeMouse));
    settle();
    EXPECT_TRUE(peripheral.connectedHosts().empty());
    EXPECT_EQ(peripheral.state(), "advertising as Skiffline");
}

TEST_F(PeripheralTest, TheNeutralReportComesBeforeAnyQueuedReport) {
    fake().subscribe(kHostA, input(ReportID::relativeMouse));
    peripheral.send(ReportID::relativeMouse, {1, 0, 0, 0}, kHostA);
    peripheral.send(ReportID::keyboard, {0, 0, 4, 0, 0, 0, 0, 0}, kHostB);  // unknown host: dropped
    settle();
    auto sent = updates();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].value, (Bytes{0, 0, 0, 0}));
    EXPECT_EQ(sent[1].value, (Bytes{1, 0, 0, 0}));
    EXPECT_EQ(sent[1].centrals, std::vector<UUID>{kHostA});
    EXPECT_EQ(sent[1].characteristic, input(ReportID::relativeMouse));
}

TEST_F(PeripheralTest, AFullQueueDelaysReportsWithoutLosingOrReorderingThem) {
    fake().subscribe(kHostA, input(ReportID::keyboard));
    settle();
    fake().fillQueue();
    for (uint8_t code : {4, 5, 6}) peripheral.send(ReportID::keyboard, keyboardReport(0, code), kHostA);
    settle();
    EXPECT_EQ(updates().size(), 1u);  // only the neutral report
    peripheral.sync([&] { EXPECT_EQ(fake().refusals, 3); });  // each send tried the head of the line again
    fake().signalReady();
    settle();
    auto sent = updates();
    ASSERT_EQ(sent.size(), 4u);
    for (size_t i = 1; i < 4; ++i) EXPECT_EQ(sent[i].value[2], 3 + i);
}

TEST_F(PeripheralTest, AStaleHostGetsOneServiceChangedIndication) {
    fake().subscribe(kHostA, serviceChanged());
    fake().subscribe(kHostB, serviceChanged());
    fake().subscribe(kHostB, input(ReportID::keyboard));  // healthy: never indicated
    settle();
    size_t before = updates().size();
    writeControlPoint(kHostA);
    writeControlPoint(kHostA);
    writeControlPoint(kHostB);
    auto sent = updates();
    ASSERT_EQ(sent.size(), before + 1);
    EXPECT_EQ(sent.back().characteristic, serviceChanged());
    EXPECT_EQ(sent.back().value, serviceChangedValue());
    EXPECT_TRUE(logs.contains("stale cache on " + kHostA.string() + ", indicating Service Changed"));
    EXPECT_TRUE(logs.contains("control point write [0] from " + kHostA.string()));

    // A second stale host gets its own.
    const UUID hostC = UUID::fromName("C");
    fake().subscribe(hostC, serviceChanged());
    writeControlPoint(hostC);
    EXPECT_EQ(updates().size(), before + 2);
}

TEST_F(PeripheralTest, ServiceChangedJumpsTheQueue) {
    fake().subscribe(kHostA, serviceChanged());
    settle();
    fake().fillQueue();
    peripheral.send(ReportID::keyboard, keyboardReport(0, 4), kHostB);  // unknown host: dropped
    fake().subscribe(kHostB, input(ReportID::keyboard));                 // neutral report, refused
    settle();
    writeControlPoint(kHostA);  // refused too: the queue is still full
    fake().signalReady();
    settle();
    auto sent = updates();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].characteristic, serviceChanged());
    EXPECT_EQ(sent[1].characteristic, input(ReportID::keyboard));
}

TEST_F(PeripheralTest, ReadsAnswerWithOffsetsAndWriteBatchesOnce) {
    struct Case {
        CharacteristicRef characteristic;
        size_t offset;
        AttResult result;
        Bytes value;
    };
    std::vector<Case> cases{
        {protocolMode(), 0, AttResult::success, {1}},
        {protocolMode(), 1, AttResult::success, {}},
        {protocolMode(), 2, AttResult::invalidOffset, {}},
        {batteryLevel(), 0, AttResult::success, {100}},
        {input(ReportID::absolutePointer), 2, AttResult::success, {0, 0, 0}},
        {output(), 0, AttResult::success, {0}},
        {serviceChanged(), 0, AttResult::attributeNotFound, {}},
    };
    for (const auto& c : cases) fake().read(kHostA, c.characteristic, c.offset);
    settle();
    std::vector<FakePeripheralManager::Response> responses;
    peripheral.sync([&] { responses = fake().responses; });
    ASSERT_EQ(responses.size(), cases.size());
    for (size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(responses[i].result, cases[i].result) << i;
        EXPECT_EQ(responses[i].value, cases[i].value) << i;
    }

    // A batch of writes is answered once, through its first request; an empty one not at all.
    fake().write({});
    fake().write({WriteRequest{7, kHostA, protocolMode(), {0}, 0}, WriteRequest{8, kHostA, output(), {2}, 0}});
    settle();
    peripheral.sync([&] { responses = fake().responses; });
    ASSERT_EQ(responses.size(), cases.size() + 1);
    EXPECT_EQ(responses.back().id, 7u);
    EXPECT_EQ(responses.back().result, AttResult::success);
}

TEST_F(PeripheralTest, APowerCycleDropsHostsAndWaitingReports) {
    fake().subscribe(kHostA, input(ReportID::keyboard));
    settle();
    ASSERT_EQ(peripheral.connectedHosts().size(), 1u);
    fake().fillQueue();
    peripheral.send(ReportID::keyboard, keyboardReport(0, 4), kHostA);
    fake().changeState(ManagerState::poweredOff);
    settle();
    EXPECT_EQ(peripheral.state(), "bluetooth off");
    // With the radio off nobody is connected, and what was waiting is not sent later.
    EXPECT_TRUE(peripheral.connectedHosts().empty());
    size_t sentBefore = updates().size();
    peripheral.send(ReportID::keyboard, keyboardReport(0, 5), kHostA);
    fake().signalReady();
    settle();
    EXPECT_EQ(updates().size(), sentBefore);
    fake().changeState(ManagerState::poweredOn);
    settle();
    EXPECT_TRUE(peripheral.connectedHosts().empty());
    EXPECT_EQ(peripheral.state(), "advertising as Skiffline");
    fake().subscribe(kHostA, input(ReportID::keyboard));
    settle();
    EXPECT_EQ(peripheral.connectedHosts().size(), 1u);
}

TEST_F(PeripheralTest, StateTexts) {
    fake().subscribe(kHostA, input(ReportID::keyboard));
    settle();
    // A delivery note stands before the advertised name.
    peripheral.sync([&] { peripheral.didUpdateDeliveryNote("hci0 serves one phone at a time"); });
    EXPECT_EQ(peripheral.state(), "1 connected (hci0 serves one phone at a time), advertising as Skiffline");
    peripheral.sync([&] { peripheral.didUpdateDeliveryNote(""); });
    EXPECT_EQ(peripheral.state(), "1 connected, advertising as Skiffline");
    fake().changeState(ManagerState::unauthorized);
    settle();
    EXPECT_EQ(peripheral.state(), "bluetooth not allowed (add this user to the bluetooth group)");
    fake().changeState(ManagerState::unsupported);
    settle();
    EXPECT_EQ(peripheral.state(), "bluetooth unavailable (2)");
    EXPECT_TRUE(logs.contains("bluetooth state 2 auth 3"));
}

// Powers a peripheral on after the test has told the radio how to misbehave.
std::string stateAfterPowerOn(const std::function<void(FakePeripheralManager&)>& arrange,
                              const std::function<void(FakePeripheralManager&)>& check = {}) {
    FakePeripheralRole role;
    role.initialState = ManagerState::poweredOff;
    HIDPeripheral peripheral(role, "Desk");
    peripheral.start();
    peripheral.sync([] {});
    peripheral.sync([&] { arrange(*role.manager); });
    role.manager->changeState(ManagerState::poweredOn);
    for (int i = 0; i < 12; ++i) peripheral.sync([] {});
    if (check) peripheral.sync([&] { check(*role.manager); });
    return peripheral.state();
}

TEST(HIDPeripheral, FailuresShowInTheStateButAlreadyAdvertisingDoesNot) {
    LogCapture logs;
    auto state = stateAfterPowerOn([](auto& radio) { radio.failingServices["180A"] = "no room"; },
                                   [](auto& radio) {
                                       EXPECT_EQ(radio.services.size(), 3u);  // the battery service is never tried
                                       EXPECT_TRUE(radio.advertisedNames.empty());
                                   });
    EXPECT_EQ(state, "failed to add Device Information: no room");
    EXPECT_TRUE(logs.contains("failed to add Device Information: no room"));
    for (auto [code, state] : {std::pair{9, "advertising as Desk"}, std::pair{3, "advertising failed: busy"}}) {
        EXPECT_EQ(stateAfterPowerOn([code = code](auto& radio) { radio.advertisingError = AdvertisingError{code, "busy"}; }),
                  state);
    }
}

TEST(HIDPeripheral, NameComesFromTheBundle) {
    struct Bundle : BundleInfo {
        std::optional<std::string> name;
        std::optional<std::string> stringValue(const std::string&) const override { return name; }
        std::filesystem::path bundlePath() const override { return "/"; }
    } bundle;
    EXPECT_EQ(bluetoothName(bundle), "Skiffline");
    bundle.name = "Ada's Mac";
    EXPECT_EQ(bluetoothName(bundle), "Ada's Mac");
}

// Reports to a host the radio could not reach are gone, a release among
// them too; reached again, the host gets a neutral report on every input it
// subscribed to, and only that host.
TEST_F(PeripheralTest, AHostReachedAgainGetsEveryCollectionReleased) {
    for (ReportID id : {ReportID::keyboard, ReportID::absolutePointer, ReportID::relativeMouse}) fake().subscribe(kHostA, input(id));
    fake().subscribe(kHostB, input(ReportID::keyboard));
    settle();
    size_t before = updates().size();
    fake().restoreDelivery(kHostA);
    fake().restoreDelivery(*UUID::parse("99999999-0000-0000-0000-000000000000"));  // never subscribed: nothing
    settle();
    auto after = updates();
    ASSERT_EQ(after.size(), before + 3);
    std::vector<std::pair<CharacteristicRef, Bytes>> sent;
    for (size_t i = before; i < after.size(); ++i) {
        EXPECT_EQ(after[i].centrals, std::vector<UUID>{kHostA});
        sent.emplace_back(after[i].characteristic, after[i].value);
    }
    EXPECT_EQ(sent, (std::vector<std::pair<CharacteristicRef, Bytes>>{{input(ReportID::keyboard), Bytes(8, 0)},
                                                                      {input(ReportID::absolutePointer), Bytes(5, 0)},
                                                                      {input(ReportID::relativeMouse), Bytes(4, 0)}}));
}

// The radio hears of every window; one opened before Bluetooth starts holds
// for what is left of it.
TEST(PeripheralPairing, TheWindowReachesTheRadioEvenWhenOpenedBeforeItStarts) {
    FakePeripheralRole role;
    FakeClock clock;
    HIDPeripheral peripheral{role, "Skiffline", clock};
    peripheral.openPairingWindow(std::chrono::seconds(120));
    clock.advance(std::chrono::seconds(20));
    EXPECT_EQ(peripheral.pairingSecondsLeft(), 100);
    peripheral.start();
    peripheral.sync([] {});
    std::vector<Duration> windows;
    peripheral.sync([&] { windows = role.manager->pairingWindows; });
    EXPECT_EQ(windows, std::vector<Duration>{std::chrono::seconds(100)});
    peripheral.openPairingWindow(Duration::zero());
    EXPECT_EQ(peripheral.pairingSecondsLeft(), 0);
    peripheral.sync([&] { windows = role.manager->pairingWindows; });
    EXPECT_EQ(windows.back(), Duration::zero());
}
