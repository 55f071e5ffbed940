#include <gtest/gtest.h>

#include "bluetooth/hid_peripheral.h"
#include "support/fake_clock.h"
#include "support/fake_peripheral.h"
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
    CharacteristicRef protocolMode() { return service(1)->characteristics.at(3); }
    CharacteristicRef output() { return service(1)->characteristics.at(8); }
    CharacteristicRef serviceChanged() { return service(0)->characteristics.at(0); }
    CharacteristicRef batteryLevel() { return service(3)->characteristics.at(0); }

    void writeControlPoint(const UUID& host) {
        fake().write({WriteRequest{1, host, service(1)->characteristics.at(2), {0}, 0}});
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

TEST_F(PeripheralTest, OnlyInputReportSubscriptionsMakeAHostConnected) {
    EXPECT_EQ(peripheral.state(), "advertising as Skiffline");
    int changes = 0;
    peripheral.setOnHostsChanged([&] { ++changes; });
    fake().subscribe(kHostA, serviceChanged());
    fake().subscribe(kHostA, batteryLevel());
    settle();
    EXPECT_TRUE(peripheral.connectedHosts().empty());
    EXPECT_EQ(changes, 0);

    fake().subscribe(kHostA, input(ReportID::relativeMouse));
    settle();
    EXPECT_EQ(peripheral.connectedHosts(), std::vector<UUID>{kHostA});
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(peripheral.state(), "1 connected, advertising as Skiffline");

    fake().unsubscribe(kHostA, input(ReportID::relativeMouse));
    settle();
    EXPECT_TRUE(peripheral.connectedHosts().empty());
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
    fake().signalReady();
    settle();
    auto sent = updates();
    ASSERT_EQ(sent.size(), 4u);
    for (size_t i = 1; i < 4; ++i) EXPECT_EQ(sent[i].value[2], 3 + i);
}

TEST_F(PeripheralTest, AStaleHostGetsOneServiceChangedIndicationAheadOfTheQueue) {
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

    // Another stale host gets its own, ahead of a report that was waiting.
    const UUID hostC = UUID::fromName("C"), hostD = UUID::fromName("D");
    fake().subscribe(hostC, serviceChanged());
    settle();
    fake().fillQueue();
    fake().subscribe(hostD, input(ReportID::keyboard));  // neutral report, refused
    settle();
    writeControlPoint(hostC);
    fake().signalReady();
    settle();
    sent = updates();
    ASSERT_EQ(sent.size(), before + 3);
    EXPECT_EQ(sent[before + 1].characteristic, serviceChanged());
    EXPECT_EQ(sent[before + 2].characteristic, input(ReportID::keyboard));
}

TEST_F(PeripheralTest, ReadsAnswerWithinTheValueAndWriteBatchesOnce) {
    fake().read(kHostA, input(ReportID::absolutePointer), 2);
    fake().read(kHostA, protocolMode(), 2);  // past the end of a one-byte value
    fake().read(kHostA, serviceChanged(), 0);
    fake().write({});
    fake().write({WriteRequest{7, kHostA, protocolMode(), {0}, 0}, WriteRequest{8, kHostA, output(), {2}, 0}});
    settle();
    std::vector<FakePeripheralManager::Response> responses;
    peripheral.sync([&] { responses = fake().responses; });
    ASSERT_EQ(responses.size(), 4u);
    EXPECT_EQ(responses[0].result, AttResult::success);
    EXPECT_EQ(responses[0].value, (Bytes{0, 0, 0}));
    EXPECT_EQ(responses[1].result, AttResult::invalidOffset);
    EXPECT_EQ(responses[2].result, AttResult::attributeNotFound);
    // A batch is answered once, through its first request; an empty one not at all.
    EXPECT_EQ(responses[3].id, 7u);
    EXPECT_EQ(responses[3].result, AttResult::success);
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

    fake().changeState(ManagerState::unauthorized);
    settle();
    EXPECT_EQ(peripheral.state(), "bluetooth not allowed (add this user to the bluetooth group)");
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
    fake().restoreDelivery(UUID::fromName("never subscribed"));
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

TEST(HIDPeripheral, FailuresShowInTheStateButAlreadyAdvertisingDoesNot) {
    LogCapture logs;
    // Powers a peripheral on after the test has told the radio how to misbehave.
    auto stateAfterPowerOn = [](const std::function<void(FakePeripheralManager&)>& arrange) {
        FakePeripheralRole role;
        role.initialState = ManagerState::poweredOff;
        HIDPeripheral peripheral(role, "Desk");
        peripheral.start();
        peripheral.sync([&] { arrange(*role.manager); });
        role.manager->changeState(ManagerState::poweredOn);
        for (int i = 0; i < 12; ++i) peripheral.sync([] {});
        size_t services = 0, advertised = 0;
        peripheral.sync([&] {
            services = role.manager->services.size();
            advertised = role.manager->advertisedNames.size();
        });
        return peripheral.state() + " / " + std::to_string(services) + " services, " + std::to_string(advertised) + " ads";
    };
    // The battery service is never tried, and nothing is advertised.
    EXPECT_EQ(stateAfterPowerOn([](auto& radio) { radio.failingServices["180A"] = "no room"; }),
              "failed to add Device Information: no room / 3 services, 0 ads");
    EXPECT_EQ(stateAfterPowerOn([](auto& radio) { radio.advertisingError = AdvertisingError{9, "busy"}; }),
              "advertising as Desk / 4 services, 1 ads");
    EXPECT_EQ(stateAfterPowerOn([](auto& radio) { radio.advertisingError = AdvertisingError{3, "busy"}; }),
              "advertising failed: busy / 4 services, 1 ads");
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
