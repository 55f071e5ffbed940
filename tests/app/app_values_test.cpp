#include <gtest/gtest.h>

#include "app/model/app_values.h"
#include "app/model/status_replies.h"

using namespace quintalis;
using Perm = AppValues::Perm;
using Link = AppValues::Link;
using Source = AppValues::Source;

namespace {

AppValues::Phone phone(const std::string& id, bool bluetooth) { return {id, "iPhone", bluetooth, 1179, 2556}; }

// What the Bluetooth line says, whether step 1 is done, and whether the
// user is told a next step, for what a first run on an ordinary desktop meets.
TEST(AppValues, BluetoothLineReadinessAndAdvice) {
    const char* kNoEngine = "Quintalis's engine is not running";
    struct Case {
        bool engineUp;
        const char *owner, *state;
        Perm perm;
        const char* summary;
        bool ready, advised;
    };
    const Case cases[] = {
        {false, "Quintalis", "advertising as Desk", Perm::granted, kNoEngine, false, false},
        {false, "Quintalis", "starting", Perm::denied, "Not allowed", false, true},
        {true, "", "advertising as Desk", Perm::granted, kNoEngine, false, false},
        {true, "Quintalis", "bluetooth off", Perm::granted, "Bluetooth is off", false, true},
        // The computer's name is no state.
        {true, "Quintalis", "advertising as Office PC", Perm::granted, "On", true, false},
        {true, "Quintalis", "advertising as Failed Lab PC", Perm::granted, "On", true, false},
        {true, "Quintalis", "1 CONNECTED, advertising as Desk", Perm::granted, "On", true, false},
        {true, "Quintalis", "bluetooth unavailable (0)", Perm::granted, "Starting\u2026", false, false},
        {true, "Quintalis", "bluetooth unavailable (2): bluetoothd is not running", Perm::granted,
         "bluetoothd is not running", false, true},
        {true, "Quintalis", "bluetooth unavailable (2): no Bluetooth adapter", Perm::granted, "No Bluetooth adapter",
         false, true},
        {true, "Quintalis", "bluetooth not allowed (add this user to the bluetooth group)", Perm::granted,
         "Not allowed", false, true},
        {true, "Quintalis", "advertising failed: org.bluez.Error.Failed", Perm::granted, "Can't be used", false, true},
        // Another engine needs no permission of this computer's.
        {true, "Skiffline", "advertising as Desk", Perm::denied, "On", true, false},
        {true, "Skiffline", "unknown", Perm::notAsked, "Starting\u2026", false, false},
    };
    for (const auto& c : cases) {
        AppValues values;
        values.engineUp = c.engineUp;
        values.engineOwner = c.owner;
        values.bluetoothState = c.state;
        values.bluetoothPerm = c.perm;
        EXPECT_EQ(values.bluetoothSummary(), c.summary) << c.state;
        EXPECT_EQ(values.stepDone(1), c.ready) << c.state;
        EXPECT_EQ(values.bluetoothAdvice().has_value(), c.advised) << c.state;
    }

    AppValues pairing;
    pairing.engineUp = true;
    pairing.bluetoothPerm = Perm::granted;
    pairing.bluetoothState = "1 connected, advertising as  Desk \n";
    pairing.pairingSeconds = 75;
    EXPECT_EQ(pairing.bluetoothSummary(), "On, ready to pair");
    EXPECT_EQ(pairing.advertisedName(), "Desk") << "the name the phone lists";
    pairing.bluetoothState = "advertising as   ";
    EXPECT_EQ(pairing.advertisedName(), "Quintalis");
}

TEST(AppValues, ConnectionAndScreen) {
    struct Case {
        std::vector<AppValues::Phone> phones;
        std::vector<std::string> hosts;
        bool connected;
    };
    const Case cases[] = {
        {{}, {}, false},
        {{}, {"A"}, true},
        {{}, {"A", "B"}, false},  // which one is this phone's?
        {{phone("x", false), phone("y", true)}, {}, true},
        {{phone("x", false)}, {"A"}, false},
    };
    for (const auto& c : cases) {
        AppValues values;
        values.phones = c.phones;
        values.hosts = c.hosts;
        EXPECT_EQ(values.stepDone(3), c.connected) << c.phones.size() << " phones, " << c.hosts.size() << " hosts";
    }

    AppValues values;
    values.airplayWindow = "";  // a window without an owner still counts
    EXPECT_EQ(values.screenSource(), Source::none) << "no screen permission yet";
    values.screenPerm = Perm::granted;
    EXPECT_EQ(values.screenSource(), Source::airplay);
    EXPECT_FALSE(values.stepDone(2)) << "the user chose the cable";
    values.linkChoice = Link::airplay;
    EXPECT_TRUE(values.stepDone(2));
    values.phones = {phone("first", false), phone("second", true)};
    EXPECT_EQ(values.screenSource(), Source::usb) << "a cable screen wins";
    EXPECT_EQ(values.usbPhone()->id, "first");
}

// A peer's reply of the wrong shape must not show made-up phones or hosts.
TEST(StatusReplies, MembersTakeTheirDefaultsWhenMissingOrMistyped) {
    auto full = readEngineStatus(JSON::parse(R"({
        "app": "Quintalis", "bluetooth": "advertising as Desk", "paused": true, "pairing": 42,
        "devices": [{"id": "S1", "name": "Ann's iPhone", "bluetooth": true, "width": 1179, "height": 2556.0},
                    {"id": "S2"}],
        "hosts": ["H1", "H2"], "unmatchedHosts": ["H2"]})"));
    EXPECT_EQ(full.owner, "Quintalis");
    EXPECT_EQ(full.paused, true);
    EXPECT_EQ(full.pairingSeconds, 42);
    EXPECT_EQ(full.phones, (std::vector<AppValues::Phone>{{"S1", "Ann's iPhone", true, 1179, 2556},
                                                          {"S2", "iPhone", false, std::nullopt, std::nullopt}}));
    EXPECT_EQ(full.unmatchedHosts, (std::vector<std::string>{"H2"}));

    auto mistyped = readEngineStatus(JSON::parse(R"({
        "app": 7, "bluetooth": null, "paused": "yes", "pairing": -5,
        "devices": [{"id": 5, "name": ["x"], "bluetooth": 1, "width": "1179", "height": 2556.5}],
        "hosts": ["H1", 2], "unmatchedHosts": "H2"})"));
    EXPECT_EQ(mistyped.owner, "") << "no engine of any make";
    EXPECT_EQ(mistyped.bluetooth, "unknown");
    EXPECT_EQ(mistyped.paused, std::nullopt);
    EXPECT_EQ(mistyped.pairingSeconds, 0);
    EXPECT_EQ(mistyped.phones, (std::vector<AppValues::Phone>{{"", "iPhone", false, std::nullopt, std::nullopt}}));
    EXPECT_TRUE(mistyped.hosts.empty()) << "one entry of another type voids the list";
    EXPECT_TRUE(readEngineStatus(JSON::parse(R"({"devices": [{"id": "S1"}, 3]})")).phones.empty());

    auto shown = readAirPlayStatus(JSON::parse(
        R"({"permission": true, "candidates": [{}, {}], "window": {"owner": "UxPlay"}, "error": "no window yet"})"));
    EXPECT_EQ(shown.candidates, 2);
    EXPECT_EQ(shown.window, "UxPlay");
    EXPECT_TRUE(shown.permission);
    EXPECT_EQ(shown.refusal, "") << "only a refusal explains a missing permission";
    auto refused =
        readAirPlayStatus(JSON::parse(R"({"permission": 1, "window": "UxPlay", "error": "needs XWayland"})"));
    EXPECT_FALSE(refused.permission);
    EXPECT_EQ(refused.window, std::nullopt);
    EXPECT_EQ(refused.refusal, "needs XWayland");
}

}  // namespace
