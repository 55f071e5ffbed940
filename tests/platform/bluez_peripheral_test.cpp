#include <gtest/gtest.h>

#include "base/retry_delay.h"
#include "bluetooth/hid_peripheral.h"
#include "bluetooth/input.h"
#include "platform/linux/bluez/bluez_names.h"
#include "platform/linux/bluez/bluez_peripheral_role.h"
#include "platform/linux/bluez/host_book.h"
#include "support/eventually.h"
#include "support/fake_bluez.h"
#include "support/fake_clock.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"

using namespace quintalis;
using namespace quintalis::testing;

namespace {

constexpr const char* kPhoneA = "5C:AD:BA:00:00:0A";
constexpr const char* kPhoneB = "5C:AD:BA:00:00:0B";

// The peripheral on a fake bluetoothd that lives on a private bus.
class BluezTest : public ::testing::Test {
protected:
    void SetUp() override { bluez->addAdapter("hci0", true); }

    void startAdvertising() { startAdvertisingExpecting("advertising as Skiffline"); }
    void startAdvertisingExpecting(const std::string& state) {
        bluez->start();
        peripheral.start();
        ASSERT_TRUE(eventually([&] { return peripheral.state() == state; })) << peripheral.state();
    }
    // The HID service's characteristics on an adapter, in table order: information, report
    // map, control point, protocol mode, four input reports, the output report.
    std::vector<std::string> hid(const std::string& adapter = "hci0") { return bluez->characteristics(adapter, "1812"); }
    std::string input(ReportID id, const std::string& adapter = "hci0") {
        return hid(adapter).at(3 + static_cast<size_t>(id));
    }
    // A phone connects, reads the report map and turns on every input
    // report, as an iPhone does.
    std::string subscribe(const std::string& address, const std::string& adapter = "hci0") {
        std::string device = bluez->connect(adapter, address);
        bluez->read(adapter, hid(adapter)[1], device);
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
    // Nobody may pair until the user opens a window.
    EXPECT_EQ(bluez->agentCapability(), "");
    EXPECT_FALSE(bluez->pairable("hci0"));
}

// bluetoothd numbers attributes in the order the bus lists the objects,
// which changes between runs; a bonded phone caches the numbers.
TEST_F(BluezTest, EveryAttributeHasAFixedHandleInTheTablesOrder) {
    startAdvertising();
    std::vector<uint16_t> handles;
    for (const auto& service : {"1812", "180A", "180F"}) {
        for (const auto& path : bluez->characteristics("hci0", service)) {
            handles.push_back(bluez->handle("hci0", path));
            for (const auto& descriptor : bluez->descriptors("hci0", path)) handles.push_back(bluez->handle("hci0", descriptor));
        }
    }
    // Declaration and value, then the configuration descriptor bluetoothd adds
    // to each notifying one, then the Report Reference.
    EXPECT_EQ(handles, (std::vector<uint16_t>{0x102, 0x104, 0x106, 0x108,               // information, map, control point, mode
                                              0x10A, 0x10C, 0x10E, 0x110, 0x112, 0x114,  // keyboard, pointer, mouse
                                              0x116, 0x118, 0x11A, 0x11B,                // consumer, output report
                                              0x11E, 0x120,                              // manufacturer, PnP ID
                                              0x123}));                                  // battery level
    // A new table (power off and on) is numbered the same.
    bluez->setPowered("hci0", false);
    ASSERT_TRUE(eventually([&] { return peripheral.state() == "bluetooth off"; }));
    bluez->setPowered("hci0", true);
    ASSERT_TRUE(eventually([&] { return peripheral.state() == "advertising as Skiffline"; }));
    EXPECT_EQ(bluez->handle("hci0", bluez->characteristics("hci0", "180F")[0]), 0x123);
    EXPECT_EQ(bluez->handle("hci0", input(ReportID::consumer)), 0x116);
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

    std::string second = subscribe(kPhoneB);
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
    // The release among the lost reports is made good before anything new.
    ASSERT_TRUE(eventually([&] { return received(ReportID::keyboard).size() == 3; }));
    EXPECT_EQ(received(ReportID::keyboard), (std::vector<Bytes>{Bytes(8, 0), Bytes(8, 0), keyboardReport(0, 7)}));
    EXPECT_TRUE(eventually([&] { return received(ReportID::absolutePointer) == std::vector<Bytes>(2, Bytes(5, 0)); }));
}

// Only devices that used the keyboard and pointer are its hosts: a headset
// beside the phone neither shows as connected nor holds the phone's reports
// back, and alone it is nothing.
TEST_F(BluezTest, AHeadsetBesideThePhoneIsNoHost) {
    startAdvertising();
    std::string headset = bluez->connect("hci0", "00:1B:66:00:00:01");
    std::string phone = subscribe(kPhoneA);
    ASSERT_TRUE(eventually([&] { return hostsAre({kHostA}); }));
    EXPECT_EQ(peripheral.state(), "1 connected, advertising as Skiffline");
    peripheral.send(ReportID::keyboard, keyboardReport(0, 4), kHostA);
    EXPECT_TRUE(eventually([&] { return received(ReportID::keyboard).back() == keyboardReport(0, 4); }));

    // bluetoothd keeps the sockets open for the bonded phone that left.
    bluez->disconnect(phone);
    ASSERT_TRUE(eventually([&] { return hostsAre({}); }));
    EXPECT_EQ(peripheral.state(), "advertising as Skiffline");
    EXPECT_GE(bluez->notifySocket("hci0", input(ReportID::keyboard)), 0);
    EXPECT_FALSE(logs.contains(bluez::centralId("00:1B:66:00:00:01").string()));
}

// A phone pairs under its private address and bluetoothd then renames the
// device to its identity address: the same host throughout, and the same
// after a restart.
TEST_F(BluezTest, AnAddressChangeAtPairingKeepsTheHost) {
    startAdvertising();
    std::string device = subscribe(kPhoneA);
    ASSERT_TRUE(eventually([&] { return hostsAre({kHostA}); }));
    int changes = 0;
    peripheral.setOnHostsChanged([&] { ++changes; });
    bluez->changeAddress(device, "F0:99:B6:00:00:0A");
    settle();
    EXPECT_TRUE(hostsAre({kHostA}));
    EXPECT_EQ(changes, 0);
    peripheral.send(ReportID::consumer, consumerReport(kHomeUsage), kHostA);
    EXPECT_TRUE(eventually([&] { return received(ReportID::consumer).back() == consumerReport(kHomeUsage); }));
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
    ASSERT_TRUE(eventually([&] { return peripheral.state() == "bluetooth unavailable (1): bluetoothd stopped"; })) << peripheral.state();
    EXPECT_TRUE(logs.contains("bluetoothd left the bus"));

    bluez = std::make_unique<FakeBluez>(bus);  // and starts again, first without an adapter
    bluez->start();
    ASSERT_TRUE(eventually([&] { return peripheral.state() == "bluetooth unavailable (2): no Bluetooth adapter"; })) << peripheral.state() << ::testing::PrintToString(logs.lines());
    bluez->addAdapter("hci0", true);
    ASSERT_TRUE(eventually([&] { return peripheral.state() == "advertising as Skiffline"; })) << peripheral.state();
    EXPECT_EQ(bluez->characteristics("hci0", "1812").size(), 9u);
}

// Pairing only inside a window the user opened: the adapter is pairable and
// the agent the default one only then, and even then a BR/EDR device is
// refused. No profile's service is ever authorised.
TEST_F(BluezTest, PairingOnlyInsideTheWindowAndOnlyOverLE) {
    startAdvertising();
    std::string phone = bluez->connect("hci0", kPhoneA);
    std::string keyboard = bluez->connect("hci0", "00:1F:20:00:00:01", FakeBluez::Bearer::classic);
    EXPECT_EQ(bluez->pair(phone), "org.bluez.Error.AuthenticationFailed");

    // The name the phone will list this computer under is the adapter's alias.
    EXPECT_EQ(peripheral.deviceName(), "workstation");
    peripheral.openPairingWindow(std::chrono::seconds(90));
    ASSERT_TRUE(eventually([&] { return bluez->agentIsDefault() && bluez->pairable("hci0"); }));
    EXPECT_EQ(bluez->pairableTimeout("hci0"), 90u);  // bluetoothd closes it too, should we die
    EXPECT_EQ(bluez->agentCapability(), "NoInputNoOutput");
    EXPECT_EQ(bluez->pair(keyboard), "org.bluez.Error.Rejected");
    EXPECT_EQ(bluez->authorizeService(phone, "00001124-0000-1000-8000-00805f9b34fb"), "org.bluez.Error.Rejected");
    EXPECT_EQ(bluez->pair(phone), "");
    EXPECT_TRUE(eventually([&] { return bluez->trusted(phone); }));
    EXPECT_FALSE(bluez->trusted(keyboard));

    peripheral.openPairingWindow(Duration::zero());
    ASSERT_TRUE(eventually([&] { return bluez->agentCapability().empty() && !bluez->pairable("hci0"); }));
    EXPECT_EQ(bluez->pairableTimeout("hci0"), 0u);
    std::string latecomer = bluez->connect("hci0", kPhoneB);
    EXPECT_EQ(bluez->pair(latecomer), "org.bluez.Error.AuthenticationFailed");
}

TEST_F(BluezTest, ABluetoothdThatStartsLaterIsUsedWhenItAppears) {
    peripheral.start();
    ASSERT_TRUE(eventually([&] { return peripheral.state() == "bluetooth unavailable (2): bluetoothd is not running"; })) << peripheral.state() << ::testing::PrintToString(logs.lines());
    bluez->start();
    EXPECT_TRUE(eventually([&] { return peripheral.state() == "advertising as Skiffline"; })) << peripheral.state();
}

TEST_F(BluezTest, OnlyTheChosenAdaptersAreUsed) {
    bluez->addAdapter("hci1", true);
    bluez->start();
    BluezPeripheralRole chosen{[this] { return bus.connect(); }, bluez::BluezSettings{{"hci1"}, {}}};
    HIDPeripheral only{chosen, "Skiffline"};
    only.start();
    ASSERT_TRUE(eventually([&] { return only.state() == "advertising as Skiffline"; })) << only.state();
    EXPECT_FALSE(bluez->advertisement("hci1").empty());
    EXPECT_TRUE(bluez->advertisement("hci0").empty());
    EXPECT_EQ(bluez->applicationRegistrations("hci0"), 0);
}

// A refusal is asked again after a second, not in a loop, and the log says
// so once for as long as the reason stays the same.
TEST_F(BluezTest, ARefusedRegistrationIsAskedAgainLater) {
    bluez->refuseApplications(2, "Failed to create entry in database");
    startAdvertisingExpecting("advertising failed: Failed to create entry in database");
    EXPECT_EQ(bluez->applicationRegistrations("hci0"), 1);
    ASSERT_TRUE(eventually([&] { return peripheral.state() == "advertising as Skiffline"; }, 10)) << peripheral.state();
    EXPECT_EQ(bluez->applicationRegistrations("hci0"), 3);
    auto lines = logs.lines();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& line) { return line.rfind("could not register the GATT application", 0) == 0; }),
              1);
}

// bluetoothd keeps a bonded phone's subscriptions and restores them when it
// reconnects, without calling us; the book of hosts remembers it.
TEST(BluezHostBook, ABondedPhoneCountsAfterARestartWithoutUsingTheApplicationAgain) {
    TempDir dir;
    auto file = dir.path() / "bluetooth-hosts.json";
    {
        bluez::HostBook book(file);
        EXPECT_TRUE(book.remember(kPhoneA));
        EXPECT_FALSE(book.remember("5c:ad:ba:00:00:0a"));  // the same, in any case
        book.remember(kPhoneB);
        book.moved(kPhoneB, "F0:99:B6:00:00:0B");
        book.forget(kPhoneA);
    }
    bluez::HostBook again(file);
    EXPECT_FALSE(again.knows(kPhoneA));
    EXPECT_FALSE(again.knows(kPhoneB));
    EXPECT_TRUE(again.knows("F0:99:B6:00:00:0B"));
    EXPECT_EQ(again.host("F0:99:B6:00:00:0B"), kHostB);  // still the host it was first known as
    EXPECT_EQ(again.host(kPhoneA), kHostA);
}

TEST(BluezRetryDelay, OneSecondDoublingToAMinuteAndSaidOncePerReason) {
    RetryDelay retry;
    std::vector<std::pair<long, bool>> seen;
    for (const char* reason : {"busy", "busy", "busy", "gone", "gone", "gone", "gone", "gone", "gone", "gone"}) {
        auto next = retry.failed(reason);
        seen.emplace_back(std::chrono::duration_cast<std::chrono::seconds>(next.delay).count(), next.newReason);
    }
    EXPECT_EQ(seen, (std::vector<std::pair<long, bool>>{{1, true}, {2, false}, {4, false}, {8, true}, {16, false},
                                                        {32, false}, {60, false}, {60, false}, {60, false}, {60, false}}));
    retry.succeeded();
    EXPECT_EQ(retry.failed("gone").delay, std::chrono::seconds(1));
}
