// The HID peripheral on bluetoothd (a fake on a private bus): what only this
// backend does. Delivery under load is the peripheral contract's.
#include <gtest/gtest.h>

#include "base/retry_delay.h"
#include "bluetooth/hid_peripheral.h"
#include "bluetooth/input.h"
#include "platform/linux/bluez/bluez_names.h"
#include "platform/linux/bluez/bluez_peripheral_role.h"
#include "platform/linux/bluez/host_book.h"
#include "support/eventually.h"
#include "support/fake_bluez.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"

using namespace quintalis;
using namespace quintalis::testing;

namespace {

constexpr const char* kPhoneA = "5C:AD:BA:00:00:0A";
constexpr const char* kPhoneB = "5C:AD:BA:00:00:0B";
const std::string kAdvertising = "advertising as Skiffline";

class BluezTest : public ::testing::Test {
protected:
    void SetUp() override { bluez->addAdapter("hci0", true); }

    void startAdvertising() {
        bluez->start();
        peripheral.start();
        ASSERT_TRUE(becomes(kAdvertising));
    }
    ::testing::AssertionResult becomes(const std::string& state) {
        if (eventually([&] { return peripheral.state() == state; }, 10)) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << peripheral.state();
    }
    // The HID service's characteristics in table order: information, report
    // map, control point, protocol mode, four input reports, output report.
    std::vector<std::string> hid() { return bluez->characteristics("hci0", "1812"); }
    std::string input(ReportID id) { return hid().at(3 + static_cast<size_t>(id)); }
    // A phone connects, reads the report map and turns on every input report, as an iPhone does.
    std::string subscribe(const std::string& address) {
        std::string device = bluez->connect("hci0", address);
        bluez->read("hci0", hid()[1], device);
        for (ReportID id : kAllReportIDs) bluez->enableNotifications("hci0", input(id), device);
        return device;
    }
    std::vector<Bytes> received(ReportID id) { return bluez->received("hci0", input(id)); }
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

size_t linesStartingWith(const LogCapture& logs, const std::string& start) {
    auto lines = logs.lines();
    return std::count_if(lines.begin(), lines.end(), [&](const std::string& line) { return line.rfind(start, 0) == 0; });
}

}  // namespace

// bluetoothd numbers attributes in the order the bus lists the objects,
// which changes between runs, and a bonded phone caches the numbers: each
// has a fixed handle. Nobody may pair until the user opens a window.
TEST_F(BluezTest, ServesTheTableAtFixedHandlesAndAdvertisesWithoutPairing) {
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
    EXPECT_EQ(handles, (std::vector<uint16_t>{0x102, 0x104, 0x106, 0x108, 0x10A, 0x10C, 0x10E, 0x110, 0x112, 0x114,
                                              0x116, 0x118, 0x11A, 0x11B, 0x11E, 0x120, 0x123}));
    auto objects = bluez->application("hci0");
    auto flags = [&](const std::string& path) {
        return objects.at(sdbus::ObjectPath(path)).at("org.bluez.GattCharacteristic1").at("Flags").get<std::vector<std::string>>();
    };
    // The phone pairs before it learns the report map or gets a report.
    EXPECT_EQ(flags(hid()[1]), std::vector<std::string>{"encrypt-read"});
    EXPECT_EQ(flags(input(ReportID::keyboard)), (std::vector<std::string>{"encrypt-read", "encrypt-notify"}));

    std::string device = bluez->connect("hci0", kPhoneA);
    EXPECT_EQ(bluez->read("hci0", hid()[1], device).value, HIDReportMap::descriptor());
    std::vector<Bytes> references;
    for (ReportID id : kAllReportIDs) references.push_back(bluez->read("hci0", bluez->descriptors("hci0", input(id))[0], device).value);
    references.push_back(bluez->read("hci0", bluez->descriptors("hci0", hid()[8])[0], device).value);
    EXPECT_EQ(references, (std::vector<Bytes>{{1, 1}, {2, 1}, {3, 1}, {4, 1}, {1, 2}}));
    // Reads past the end and writes reach the peripheral and come back with its answer.
    auto atEnd = bluez->read("hci0", hid()[3], device, 1);
    EXPECT_EQ(atEnd.error, "");
    EXPECT_TRUE(atEnd.value.empty());
    EXPECT_EQ(bluez->read("hci0", hid()[3], device, 2).error, "org.bluez.Error.InvalidOffset");
    EXPECT_EQ(bluez->read("hci0", bluez->characteristics("hci0", "180F")[0], device).value, Bytes{100});
    EXPECT_EQ(bluez->write("hci0", hid()[2], device, {0}).error, "");
    EXPECT_TRUE(logs.contains("control point write [0] from " + kHostA.string()));

    auto advertised = bluez->advertisement("hci0");
    EXPECT_EQ(advertised.at("LocalName").get<std::string>(), "Skiffline");
    EXPECT_EQ(advertised.at("ServiceUUIDs").get<std::vector<std::string>>(),
              std::vector<std::string>{"00001812-0000-1000-8000-00805f9b34fb"});
    EXPECT_EQ(advertised.at("Appearance").get<uint16_t>(), 0x03C0);
    EXPECT_EQ(bluez->agentCapability(), "");
    EXPECT_FALSE(bluez->pairable("hci0"));
}

// bluetoothd sends a notification to every subscribed device of an adapter,
// so a second phone there stops the reports, and the release lost meanwhile
// is made good before anything new once it leaves.
TEST_F(BluezTest, ASecondPhoneOnTheSameAdapterStopsReportsUntilItLeaves) {
    startAdvertising();
    subscribe(kPhoneA);
    ASSERT_TRUE(eventually([&] { return received(ReportID::keyboard).size() == 1; }));

    std::string second = subscribe(kPhoneB);
    ASSERT_TRUE(becomes("2 connected (hci0 serves one phone at a time), " + kAdvertising));
    peripheral.send(ReportID::keyboard, keyboardReport(0, 4), kHostA);
    peripheral.send(ReportID::keyboard, keyboardReport(0, 5), kHostA);
    peripheral.send(ReportID::keyboard, keyboardReport(0, 6), kHostB);
    settle();
    EXPECT_EQ(received(ReportID::keyboard).size(), 1u);
    EXPECT_EQ(linesStartingWith(logs, "not sending to "), 1u) << "once for this change, not once per report";

    bluez->disconnect(second);
    ASSERT_TRUE(becomes("1 connected, " + kAdvertising));
    peripheral.send(ReportID::keyboard, keyboardReport(0, 7), kHostA);
    ASSERT_TRUE(eventually([&] { return received(ReportID::keyboard).size() == 3; }));
    EXPECT_EQ(received(ReportID::keyboard), (std::vector<Bytes>{Bytes(8, 0), Bytes(8, 0), keyboardReport(0, 7)}));
}

// Only devices that used the keyboard and pointer are hosts: a headset
// beside the phone neither counts nor holds the phone's reports back. A
// phone renamed to its identity address at pairing stays the same host.
TEST_F(BluezTest, OnlyDevicesThatUseTheApplicationAreHosts) {
    startAdvertising();
    bluez->connect("hci0", "00:1B:66:00:00:01");
    std::string phone = subscribe(kPhoneA);
    ASSERT_TRUE(eventually([&] { return hostsAre({kHostA}); }));
    EXPECT_EQ(peripheral.state(), "1 connected, " + kAdvertising);

    int changes = 0;
    peripheral.setOnHostsChanged([&] { ++changes; });
    bluez->changeAddress(phone, "F0:99:B6:00:00:0A");
    settle();
    EXPECT_TRUE(hostsAre({kHostA}));
    EXPECT_EQ(changes, 0);
    peripheral.send(ReportID::keyboard, keyboardReport(0, 4), kHostA);
    EXPECT_TRUE(eventually([&] { return received(ReportID::keyboard).back() == keyboardReport(0, 4); }));

    // When the last subscriber turns notifications off, bluetoothd closes the socket.
    bluez->disableNotifications("hci0", input(ReportID::keyboard));
    EXPECT_TRUE(eventually([&] { return logs.contains("bluetoothd closed the notify socket for Report on hci0"); }));
    EXPECT_TRUE(hostsAre({kHostA})) << "the three other reports still count";

    bluez->disconnect(phone);
    ASSERT_TRUE(eventually([&] { return hostsAre({}); }));
    EXPECT_EQ(peripheral.state(), kAdvertising);
}

TEST_F(BluezTest, OnlyTheChosenAdaptersAreUsed) {
    bluez->addAdapter("hci1", true);
    bluez->start();
    BluezPeripheralRole chosen{[this] { return bus.connect(); }, bluez::BluezSettings{{"hci1"}, {}}};
    HIDPeripheral only{chosen, "Skiffline"};
    only.start();
    ASSERT_TRUE(eventually([&] { return only.state() == kAdvertising; })) << only.state();
    EXPECT_EQ(bluez->applicationRegistrations("hci0"), 0);
    EXPECT_TRUE(bluez->advertisement("hci0").empty());
}

// bluetoothd may start after us, stop, come back without an adapter; the
// adapter may be switched off and on, and a new table gets the same handles.
TEST_F(BluezTest, FollowsBluetoothdAndThePowerComingAndGoing) {
    peripheral.start();
    ASSERT_TRUE(becomes("bluetooth unavailable (2): bluetoothd is not running"));
    bluez->start();
    ASSERT_TRUE(becomes(kAdvertising));

    bluez->setPowered("hci0", false);
    ASSERT_TRUE(becomes("bluetooth off"));
    EXPECT_TRUE(eventually([&] { return bluez->advertisement("hci0").empty(); }));
    bluez->setPowered("hci0", true);
    ASSERT_TRUE(becomes(kAdvertising));
    EXPECT_EQ(bluez->handle("hci0", bluez->characteristics("hci0", "180F")[0]), 0x123);

    bluez.reset();
    ASSERT_TRUE(becomes("bluetooth unavailable (1): bluetoothd stopped"));
    bluez = std::make_unique<FakeBluez>(bus);
    bluez->start();
    ASSERT_TRUE(becomes("bluetooth unavailable (2): no Bluetooth adapter"));
    bluez->addAdapter("hci0", true);
    ASSERT_TRUE(becomes(kAdvertising));
    EXPECT_EQ(bluez->characteristics("hci0", "1812").size(), 9u);
}

// Pairing only inside a window the user opened, and even then a BR/EDR
// device is refused. No profile's service is ever authorised.
TEST_F(BluezTest, PairingOnlyInsideTheWindowAndOnlyOverLE) {
    startAdvertising();
    std::string phone = bluez->connect("hci0", kPhoneA);
    std::string keyboard = bluez->connect("hci0", "00:1F:20:00:00:01", FakeBluez::Bearer::classic);
    EXPECT_EQ(bluez->pair(phone), "org.bluez.Error.AuthenticationFailed");

    peripheral.openPairingWindow(std::chrono::seconds(90));
    ASSERT_TRUE(eventually([&] { return bluez->agentIsDefault() && bluez->pairable("hci0"); }));
    EXPECT_EQ(bluez->pairableTimeout("hci0"), 90u);  // bluetoothd closes it too, should we die
    EXPECT_EQ(bluez->pair(keyboard), "org.bluez.Error.Rejected");
    EXPECT_EQ(bluez->authorizeService(phone, "00001124-0000-1000-8000-00805f9b34fb"), "org.bluez.Error.Rejected");
    EXPECT_EQ(bluez->pair(phone), "");
    EXPECT_TRUE(eventually([&] { return bluez->trusted(phone); }));
    EXPECT_FALSE(bluez->trusted(keyboard));

    peripheral.openPairingWindow(Duration::zero());
    ASSERT_TRUE(eventually([&] { return bluez->agentCapability().empty() && !bluez->pairable("hci0"); }));
    EXPECT_EQ(bluez->pair(bluez->connect("hci0", kPhoneB)), "org.bluez.Error.AuthenticationFailed");
}

// A refusal is asked again after a second, not in a loop, and logged once
// for as long as the reason stays the same.
TEST_F(BluezTest, ARefusedRegistrationIsAskedAgainLater) {
    bluez->refuseApplications(2, "Failed to create entry in database");
    bluez->start();
    peripheral.start();
    ASSERT_TRUE(becomes("advertising failed: Failed to create entry in database"));
    EXPECT_EQ(bluez->applicationRegistrations("hci0"), 1);
    ASSERT_TRUE(becomes(kAdvertising));
    EXPECT_EQ(bluez->applicationRegistrations("hci0"), 3);
    EXPECT_EQ(linesStartingWith(logs, "could not register the GATT application"), 1u);
    RetryDelay retry;
    for (auto expected : {1, 2, 4, 8, 16, 32, 60, 60}) EXPECT_EQ(retry.failed("busy").delay, std::chrono::seconds(expected));
}

// bluetoothd restores a bonded phone's subscriptions without calling us;
// the book of hosts remembers it across restarts and address changes.
TEST(BluezHostBook, RemembersHostsAcrossRestartsAndAddressChanges) {
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
    EXPECT_NE(kHostA, kHostB);
}
