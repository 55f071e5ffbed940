#include <gtest/gtest.h>

#include "bluetooth/hid_peripheral.h"
#include "bluetooth/input.h"
#include "platform/linux/bluez/bluez_names.h"
#include "platform/linux/bluez/bluez_peripheral_role.h"
#include "support/eventually.h"
#include "support/fake_bluez.h"
#include "support/fake_clock.h"
#include "support/log_capture.h"

using namespace quintalis;
using namespace quintalis::testing;

namespace {

constexpr const char* kPhoneA = "5C:AD:BA:00:00:0A";
constexpr const char* kPhoneB = "5C:AD:BA:00:00:0B";

// The peripheral on a fake bluetoothd that lives on a private bus.
class BluezTest : public ::testing::Test {
protected:
    void SetUp() override { bluez->addAdapter("hci0", true); }

    void startAdvertising() {
        bluez->start();
        peripheral.start();
        ASSERT_TRUE(eventually([&] { return peripheral.state() == "advertising as Skiffline"; })) << peripheral.state();
    }
    // The HID service's characteristics on an adapter, in table order: information, report
    // map, control point, protocol mode, four input reports, the output report.
    std::vector<std::string> hid(const std::string& adapter = "hci0") { return bluez->characteristics(adapter, "1812"); }
    std::string input(ReportID id, const std::string& adapter = "hci0") {
        return hid(adapter).at(3 + static_cast<size_t>(id));
    }
    // A phone connects and turns on every input report, as an iPhone does.
    std::string subscribe(const std::string& address, const std::string& adapter = "hci0") {
        std::string device = bluez->connect(adapter, address);
        for (ReportID id : kAllReportIDs) bluez->enableNotifications(adapter, input(id, adapter), device);
        return device;
    }
    std::vector<Bytes> received(ReportID id, const std::string& adapter = "hci0") {
        return bluez->received(adapter, input(id, adapter));
    }
    bool hostsAre(const std::vector<UUID>& hosts) { return peripheral.connectedHosts() == hosts; }
    // Waits until everything queued so far has gone through the peripheral's queue.
    void settle() {
        for (int i = 0; i < 4; ++i) peripheral.sync([] {});
    }

    LogCapture logs;
    PrivateBus bus;
    std::unique_ptr<FakeBluez> bluez = std::make_unique<FakeBluez>(bus);
    BluezPeripheralRole role{[this] { return bus.connect(); }};
    HIDPeripheral peripheral{role, "Skiffline"};
};

const UUID kHostA = bluez::centralId(kPhoneA);
const UUID kHostB = bluez::centralId(kPhoneB);

}  // namespace

TEST(BluezNames, AHostIsTheSameForAnAddressInAnyCaseAndDiffersBetweenPhones) {
    EXPECT_EQ(bluez::centralId("5c:ad:ba:00:00:0a"), kHostA);
    EXPECT_NE(kHostA, kHostB);
    EXPECT_EQ(bluez::fullUUID(BluetoothUUID("2A4D")), "00002a4d-0000-1000-8000-00805f9b34fb");
}

TEST_F(BluezTest, BluetoothdFindsTheWholeTableInOrderAndTheAdvertisement) {
    startAdvertising();
    // bluetoothd serves Generic Attribute itself; the other three are ours, in order.
    std::vector<std::string> services;
    for (const auto& [path, interfaces] : bluez->application("hci0")) {
        if (interfaces.count("org.bluez.GattService1")) services.push_back(interfaces.at("org.bluez.GattService1").at("UUID"));
    }
    EXPECT_EQ(services, (std::vector<std::string>{"00001812-0000-1000-8000-00805f9b34fb", "0000180a-0000-1000-8000-00805f9b34fb",
                                                  "0000180f-0000-1000-8000-00805f9b34fb"}));

    auto objects = bluez->application("hci0");
    auto characteristic = [&](const std::string& path) { return objects.at(sdbus::ObjectPath(path)).at("org.bluez.GattCharacteristic1"); };
    std::vector<std::pair<std::string, std::vector<std::string>>> table;
    for (const auto& path : hid()) {
        auto properties = characteristic(path);
        table.emplace_back(properties.at("UUID").get<std::string>().substr(4, 4), properties.at("Flags"));
    }
    using Flags = std::vector<std::string>;
    EXPECT_EQ(table, (std::vector<std::pair<std::string, Flags>>{
                         {"2a4a", {"read"}},
                         {"2a4b", {"encrypt-read"}},  // the phone pairs before it learns the report map
                         {"2a4c", {"write-without-response", "encrypt-write"}},
                         {"2a4e", {"read", "write-without-response"}},
                         {"2a4d", {"encrypt-read", "encrypt-notify"}},
                         {"2a4d", {"encrypt-read", "encrypt-notify"}},
                         {"2a4d", {"encrypt-read", "encrypt-notify"}},
                         {"2a4d", {"encrypt-read", "encrypt-notify"}},
                         {"2a4d", {"encrypt-read", "write-without-response", "encrypt-write"}},
                     }));
    EXPECT_TRUE(characteristic(input(ReportID::keyboard)).count("NotifyAcquired"));

    std::string device = bluez->connect("hci0", kPhoneA);
    EXPECT_EQ(bluez->read("hci0", hid()[1], device).value, HIDReportMap::descriptor());
    std::vector<Bytes> references;
    for (ReportID id : kAllReportIDs) references.push_back(bluez->read("hci0", bluez->descriptors("hci0", input(id))[0], device).value);
    references.push_back(bluez->read("hci0", bluez->descriptors("hci0", hid()[8])[0], device).value);
    EXPECT_EQ(references, (std::vector<Bytes>{{1, 1}, {2, 1}, {3, 1}, {4, 1}, {1, 2}}));

    auto advertised = bluez->advertisement("hci0");
    EXPECT_EQ(advertised.at("Type").get<std::string>(), "peripheral");
    EXPECT_EQ(advertised.at("LocalName").get<std::string>(), "Skiffline");
    EXPECT_EQ(advertised.at("ServiceUUIDs").get<std::vector<std::string>>(),
              std::vector<std::string>{"00001812-0000-1000-8000-00805f9b34fb"});
    EXPECT_EQ(advertised.at("Appearance").get<uint16_t>(), 0x03C0);
    EXPECT_TRUE(advertised.at("Discoverable").get<bool>());
    EXPECT_EQ(bluez->agentCapability(), "NoInputNoOutput");
    EXPECT_TRUE(bluez->agentIsDefault());
}

TEST_F(BluezTest, ReadsAndWritesReachThePeripheralWithTheirErrors) {
    startAdvertising();
    std::string device = bluez->connect("hci0", kPhoneA);
    std::string protocolMode = hid()[3];
    EXPECT_EQ(bluez->read("hci0", protocolMode, device).value, Bytes{1});
    auto atEnd = bluez->read("hci0", protocolMode, device, 1);
    EXPECT_EQ(atEnd.error, "");
    EXPECT_TRUE(atEnd.value.empty());
    EXPECT_EQ(bluez->read("hci0", protocolMode, device, 2).error, "org.bluez.Error.InvalidOffset");
    EXPECT_EQ(bluez->read("hci0", hid()[1], device, 199).error, "org.bluez.Error.InvalidOffset");
    EXPECT_EQ(bluez->read("hci0", bluez->characteristics("hci0", "180F")[0], device).value, Bytes{100});

    EXPECT_EQ(bluez->write("hci0", hid()[2], device, {0}).error, "");
    EXPECT_TRUE(logs.contains("control point write [0] from " + kHostA.string()));
}

TEST_F(BluezTest, ATapReachesTheOnlyPhoneOnItsAdapterThroughTheNotifySockets) {
    startAdvertising();
    subscribe(kPhoneA);
    ASSERT_TRUE(eventually([&] { return hostsAre({kHostA}); }));
    EXPECT_EQ(peripheral.state(), "1 connected, advertising as Skiffline");
    // Each socket first carries the neutral report that releases everything.
    ASSERT_TRUE(eventually([&] { return received(ReportID::absolutePointer).size() == 1; }));
    EXPECT_EQ(received(ReportID::keyboard), std::vector<Bytes>{Bytes(8, 0)});

    FakeClock clock;
    Input(kHostA, peripheral, clock).tap(0.5, 0.25);
    ASSERT_TRUE(eventually([&] { return received(ReportID::relativeMouse).size() == 3; }));
    EXPECT_EQ(received(ReportID::absolutePointer),
              (std::vector<Bytes>{Bytes(5, 0), absolutePointerReport(0, 16384, 8192)}));
    EXPECT_EQ(received(ReportID::relativeMouse), (std::vector<Bytes>{Bytes(4, 0), {1, 0, 0, 0}, {0, 0, 0, 0}}));

    // A second device turning notifications on is only counted by bluetoothd.
    bluez->enableNotifications("hci0", input(ReportID::keyboard), "/org/bluez/hci0/dev_other");
    EXPECT_EQ(bluez->acquireCalls("hci0", input(ReportID::keyboard)), 1);
    // When the last one turns them off, bluetoothd closes the socket.
    bluez->disableNotifications("hci0", input(ReportID::keyboard));
    bluez->disableNotifications("hci0", input(ReportID::keyboard));
    EXPECT_TRUE(eventually([&] { return logs.contains("bluetoothd closed the notify socket for Report on hci0"); }));
    EXPECT_TRUE(hostsAre({kHostA}));  // the three other reports still count
}

TEST_F(BluezTest, AFullSocketHoldsReportsBackAndLosesNoneOfThem) {
    startAdvertising();
    subscribe(kPhoneA);
    ASSERT_TRUE(eventually([&] { return hostsAre({kHostA}); }));
    constexpr int kReports = 3000;  // far more than the socket holds
    for (int i = 0; i < kReports; ++i) {
        peripheral.send(ReportID::absolutePointer, absolutePointerReport(0, static_cast<uint16_t>(i), 0), kHostA);
    }
    settle();
    // Read while the peripheral's queue is held, so nothing refills the socket meanwhile.
    size_t held = 0;
    peripheral.sync([&] { held = received(ReportID::absolutePointer).size(); });
    EXPECT_LT(held, static_cast<size_t>(kReports)) << "the socket never filled";
    ASSERT_TRUE(eventually([&] { return received(ReportID::absolutePointer).size() == kReports + 1; }, 20));
    auto all = received(ReportID::absolutePointer);
    for (int i = 0; i < kReports; ++i) {
        ASSERT_EQ(all[i + 1], absolutePointerReport(0, static_cast<uint16_t>(i), 0)) << "report " << i;
    }
}

TEST_F(BluezTest, ASecondPhoneOnTheSameAdapterStopsReportsUntilItLeaves) {
    startAdvertising();
    subscribe(kPhoneA);
    ASSERT_TRUE(eventually([&] { return received(ReportID::keyboard).size() == 1; }));

    std::string second = bluez->connect("hci0", kPhoneB);
    ASSERT_TRUE(eventually([&] {
        return peripheral.state() == "2 connected (hci0 serves one phone at a time), advertising as Skiffline";
    })) << peripheral.state();
    peripheral.send(ReportID::keyboard, keyboardReport(0, 4), kHostA);
    peripheral.send(ReportID::keyboard, keyboardReport(0, 5), kHostA);
    peripheral.send(ReportID::keyboard, keyboardReport(0, 6), kHostB);
    settle();
    EXPECT_EQ(received(ReportID::keyboard).size(), 1u);  // nothing reached either phone
    auto lines = logs.lines();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& line) { return line.rfind("not sending to ", 0) == 0; }),
              1);  // once for this change, not once per report

    bluez->disconnect(second);
    ASSERT_TRUE(eventually([&] { return peripheral.state() == "1 connected, advertising as Skiffline"; })) << peripheral.state();
    peripheral.send(ReportID::keyboard, keyboardReport(0, 7), kHostA);
    EXPECT_TRUE(eventually([&] { return received(ReportID::keyboard).back() == keyboardReport(0, 7); }));
}

TEST_F(BluezTest, TwoAdaptersServeOnePhoneEach) {
    bluez->addAdapter("hci1", true);
    startAdvertising();
    ASSERT_TRUE(eventually([&] { return !bluez->advertisement("hci1").empty(); }));
    subscribe(kPhoneA, "hci0");
    subscribe(kPhoneB, "hci1");
    ASSERT_TRUE(eventually([&] { return peripheral.connectedHosts().size() == 2; }));
    peripheral.send(ReportID::consumer, consumerReport(kHomeUsage), kHostA);
    peripheral.send(ReportID::consumer, consumerReport(0x00E9), kHostB);
    ASSERT_TRUE(eventually([&] { return received(ReportID::consumer, "hci0").size() == 2 && received(ReportID::consumer, "hci1").size() == 2; }));
    EXPECT_EQ(received(ReportID::consumer, "hci0")[1], consumerReport(kHomeUsage));
    EXPECT_EQ(received(ReportID::consumer, "hci1")[1], consumerReport(0x00E9));
    EXPECT_EQ(peripheral.state(), "2 connected, advertising as Skiffline");
}

TEST_F(BluezTest, PowerAndBluetoothdComingAndGoing) {
    startAdvertising();
    bluez->setPowered("hci0", false);
    ASSERT_TRUE(eventually([&] { return peripheral.state() == "bluetooth off"; })) << peripheral.state();
    EXPECT_TRUE(eventually([&] { return bluez->advertisement("hci0").empty(); }));
    EXPECT_TRUE(logs.contains("bluetooth state 4 auth 3"));
    bluez->setPowered("hci0", true);
    ASSERT_TRUE(eventually([&] { return peripheral.state() == "advertising as Skiffline"; })) << peripheral.state();
    EXPECT_FALSE(bluez->advertisement("hci0").empty());

    bluez.reset();  // bluetoothd stops
    ASSERT_TRUE(eventually([&] { return peripheral.state() == "bluetooth unavailable (1)"; })) << peripheral.state();
    EXPECT_TRUE(logs.contains("bluetoothd left the bus"));

    bluez = std::make_unique<FakeBluez>(bus);  // and starts again, first without an adapter
    bluez->start();
    ASSERT_TRUE(eventually([&] { return peripheral.state() == "bluetooth unavailable (2)"; })) << peripheral.state();
    bluez->addAdapter("hci0", true);
    ASSERT_TRUE(eventually([&] { return peripheral.state() == "advertising as Skiffline"; })) << peripheral.state();
    EXPECT_EQ(bluez->characteristics("hci0", "1812").size(), 9u);
    EXPECT_TRUE(eventually([&] { return bluez->agentIsDefault(); }));
}

TEST_F(BluezTest, TheAgentLetsAPhonePairAndTrustsIt) {
    startAdvertising();
    std::string device = bluez->connect("hci0", kPhoneA);
    EXPECT_EQ(bluez->pair(device), "");
    EXPECT_TRUE(eventually([&] { return bluez->trusted(device); }));
}
