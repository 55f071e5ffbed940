#include <gtest/gtest.h>

#include "app/model/app_state.h"
#include "app/model/status_replies.h"

using namespace quintalis;
using Perm = AppValues::Perm;
using Link = AppValues::Link;
using Source = AppValues::Source;

namespace {

AppValues::Phone phone(const std::string& id, bool bluetooth) { return {id, "iPhone", bluetooth, 1179, 2556}; }

TEST(AppValues, BluetoothLineAndReadiness) {
    const char* kNoEngine = "Quintalis's engine is not running";
    struct Case {
        const char* what;
        bool engineUp;
        const char* owner;
        const char* state;
        Perm perm;
        const char* summary;
        bool ready;
    };
    const Case cases[] = {
        {"engine down, nothing asked yet", false, "Quintalis", "starting", Perm::unknown, kNoEngine, false},
        {"engine down, allowed", false, "Quintalis", "starting", Perm::granted, kNoEngine, false},
        {"engine down, denied here", false, "Quintalis", "starting", Perm::denied, "Not allowed", false},
        {"a left-over state of a gone engine", false, "Quintalis", "advertising as Desk", Perm::granted, kNoEngine,
         false},
        {"a program that is no engine", true, "", "advertising as Desk", Perm::granted, kNoEngine, false},
        {"denied", true, "Quintalis", "advertising as Desk", Perm::denied, "Not allowed", false},
        {"restricted maps to denied first", true, "Quintalis", "powered on", Perm::denied, "Not allowed", false},
        {"radio off", true, "Quintalis", "bluetooth off", Perm::granted, "Bluetooth is off", false},
        {"a name holding \"off\"", true, "Quintalis", "advertising as Office PC", Perm::granted, "On", true},
        {"advertising", true, "Quintalis", "advertising as Desk", Perm::granted, "On", true},
        {"connected, any case", true, "Quintalis", "1 CONNECTED, advertising as Desk", Perm::granted, "On", true},
        {"powered on", true, "Quintalis", "powered on", Perm::granted, "On", true},
        {"allowed but not yet up", true, "Quintalis", "unknown", Perm::granted, "Starting\u2026", false},
        {"other engine needs no permission here", true, "Skiffline", "advertising as Desk", Perm::notAsked, "On", true},
        {"other engine even when denied here", true, "Skiffline", "advertising as Desk", Perm::denied, "On", true},
        {"other engine, still starting", true, "Skiffline", "unknown", Perm::notAsked, "Starting\u2026", false},
    };
    for (const auto& c : cases) {
        AppValues values;
        values.engineUp = c.engineUp;
        values.engineOwner = c.owner;
        values.bluetoothState = c.state;
        values.bluetoothPerm = c.perm;
        EXPECT_EQ(values.bluetoothSummary(), c.summary) << c.what;
        EXPECT_EQ(values.bluetoothReady(), c.ready) << c.what;
        EXPECT_EQ(values.stepDone(1), c.ready) << c.what;
    }
}

// What a first run on an ordinary desktop meets, each with a next step.
TEST(AppValues, EveryBluetoothStateTheEngineReportsSaysWhatToDo) {
    struct Case {
        const char* state;
        int pairing;
        const char* summary;
        std::optional<std::string> advice;
    };
    const Case cases[] = {
        {"bluetooth unavailable (2): bluetoothd is not running", 0, "bluetoothd is not running",
         "Start the Bluetooth service: sudo systemctl start bluetooth"},
        {"bluetooth unavailable (1): bluetoothd stopped", 0, "bluetoothd is not running",
         "Start the Bluetooth service: sudo systemctl start bluetooth"},
        {"bluetooth unavailable (2): no Bluetooth adapter", 0, "No Bluetooth adapter",
         "Plug in a Bluetooth adapter, or unblock it: rfkill unblock bluetooth"},
        {"bluetooth off", 0, "Bluetooth is off", "Turn Bluetooth on in your desktop's Bluetooth settings."},
        {"bluetooth not allowed (add this user to the bluetooth group)", 0, "Not allowed",
         "Add your user to the bluetooth group (sudo adduser $USER bluetooth), then log in again."},
        {"advertising failed: org.bluez.Error.Failed", 0, "Can't be used",
         "The engine says: advertising failed: org.bluez.Error.Failed"},
        {"bluetooth unavailable (2)", 0, "Can't be used", "The engine says: bluetooth unavailable (2)"},
        {"bluetooth unavailable (0)", 0, "Starting\u2026", std::nullopt},
        {"starting", 0, "Starting\u2026", std::nullopt},
        {"advertising as Desk", 0, "On", std::nullopt},
        {"advertising as Failed Lab PC", 0, "On", std::nullopt},
        {"advertising as Desk", 75, "On, ready to pair",
         "On the iPhone, open Settings \u203a Bluetooth and tap this computer's name (75 s left)."},
    };
    for (const auto& c : cases) {
        AppValues values;
        values.engineUp = true;
        values.bluetoothPerm = Perm::granted;
        values.bluetoothState = c.state;
        values.pairingSeconds = c.pairing;
        EXPECT_EQ(values.bluetoothSummary(), c.summary) << c.state;
        EXPECT_EQ(values.bluetoothAdvice(), c.advice) << c.state;
    }
}

TEST(AppValues, AdvertisedNameFollowsTheMarker) {
    const std::pair<const char*, const char*> cases[] = {
        {"advertising as Kitchen Mac", "Kitchen Mac"},
        {"1 connected, advertising as  Desk \n", "Desk"},
        {"advertising as ", "Quintalis"},
        {"advertising as   ", "Quintalis"},
        {"powered on", "Quintalis"},
        {"advertising as Mac, advertising as Other", "Mac, advertising as Other"},
    };
    for (auto [state, name] : cases) {
        AppValues values;
        values.bluetoothState = state;
        EXPECT_EQ(values.advertisedName(), name) << state;
    }
}

TEST(AppValues, ConnectionAndScreenSource) {
    struct Case {
        const char* what;
        std::vector<AppValues::Phone> phones;
        std::vector<std::string> hosts;
        bool connected;
        bool anyHost;
    };
    const Case cases[] = {
        {"nothing", {}, {}, false, false},
        {"one host, no phones", {}, {"A"}, true, true},
        {"two hosts, no phones", {}, {"A", "B"}, false, true},
        {"a phone tied to a host", {phone("x", false), phone("y", true)}, {}, true, true},
        {"one host but an untied phone", {phone("x", false)}, {"A"}, false, true},
    };
    for (const auto& c : cases) {
        AppValues values;
        values.phones = c.phones;
        values.hosts = c.hosts;
        EXPECT_EQ(values.phoneConnected(), c.connected) << c.what;
        EXPECT_EQ(values.stepDone(3), c.connected) << c.what;
        EXPECT_EQ(values.anyBluetoothHost(), c.anyHost) << c.what;
    }

    AppValues values;
    EXPECT_EQ(values.screenSource(), Source::none);
    values.airplayWindow = "";  // a window without an owner still counts
    EXPECT_EQ(values.screenSource(), Source::none) << "no screen permission yet";
    values.screenPerm = Perm::granted;
    EXPECT_EQ(values.screenSource(), Source::airplay);
    EXPECT_FALSE(values.screenReady()) << "the user chose the cable";
    values.linkChoice = Link::airplay;
    EXPECT_TRUE(values.screenReady());
    values.phones = {phone("first", false), phone("second", true)};
    EXPECT_EQ(values.screenSource(), Source::usb) << "a cable screen wins";
    EXPECT_EQ(values.usbPhone()->id, "first");
    values.linkChoice = Link::cable;
    EXPECT_TRUE(values.stepDone(2));
}

TEST(AppValues, StepsAndOtherEngine) {
    AppValues values;
    for (int step : {0, 1, 2, 3, 4, 5, 6, 7, -1}) EXPECT_FALSE(values.stepDone(step)) << step;
    values.assistiveTouchOn = true;
    values.codexAdded = true;
    values.setupDone = true;
    EXPECT_TRUE(values.stepDone(4));
    EXPECT_TRUE(values.stepDone(5));
    EXPECT_TRUE(values.stepDone(6));
    EXPECT_FALSE(values.stepDone(7));

    values.engineOwner = "Skiffline";
    EXPECT_FALSE(values.usingOtherEngine()) << "an engine that is down is nobody's";
    values.engineUp = true;
    EXPECT_TRUE(values.usingOtherEngine());
    values.engineOwner = "Quintalis";
    EXPECT_FALSE(values.usingOtherEngine());
    EXPECT_FALSE(values.portTaken());
    values.engineOwner = "";
    EXPECT_FALSE(values.usingOtherEngine()) << "a reply without \"app\" is no engine";
    EXPECT_TRUE(values.portTaken());
}

TEST(Permissions, OneMappingForEveryAuthorization) {
    EXPECT_EQ(permFrom(BluetoothAuthorization::notDetermined), Perm::notAsked);
    EXPECT_EQ(permFrom(BluetoothAuthorization::restricted), Perm::denied);
    EXPECT_EQ(permFrom(BluetoothAuthorization::denied), Perm::denied);
    EXPECT_EQ(permFrom(BluetoothAuthorization::allowedAlways), Perm::granted);
    EXPECT_EQ(permFrom(static_cast<BluetoothAuthorization>(9)), Perm::unknown);
    EXPECT_EQ(permFrom(CaptureAuthorization::notDetermined), Perm::notAsked);
    EXPECT_EQ(permFrom(CaptureAuthorization::restricted), Perm::denied);
    EXPECT_EQ(permFrom(CaptureAuthorization::denied), Perm::denied);
    EXPECT_EQ(permFrom(CaptureAuthorization::authorized), Perm::granted);
}

TEST(StatusReplies, EngineMembersTakeTheirDefaultsWhenMissingOrMistyped) {
    auto full = readEngineStatus(JSON::parse(R"({
        "app": "Quintalis", "bluetooth": "advertising as Desk", "paused": true, "pairing": 42,
        "devices": [{"id": "S1", "name": "Ann's iPhone", "bluetooth": true, "width": 1179, "height": 2556.0},
                    {"id": "S2"}],
        "hosts": ["H1", "H2"], "unmatchedHosts": ["H2"]})"));
    EXPECT_EQ(full.owner, "Quintalis");
    EXPECT_EQ(full.bluetooth, "advertising as Desk");
    EXPECT_EQ(full.paused, true);
    EXPECT_EQ(full.pairingSeconds, 42);
    ASSERT_EQ(full.phones.size(), 2u);
    EXPECT_EQ(full.phones[0], (AppValues::Phone{"S1", "Ann's iPhone", true, 1179, 2556}));
    EXPECT_EQ(full.phones[1], (AppValues::Phone{"S2", "iPhone", false, std::nullopt, std::nullopt}));
    EXPECT_EQ(full.hosts, (std::vector<std::string>{"H1", "H2"}));
    EXPECT_EQ(full.unmatchedHosts, (std::vector<std::string>{"H2"}));

    auto mistyped = readEngineStatus(JSON::parse(R"({
        "app": 7, "bluetooth": null, "paused": "yes", "pairing": -5,
        "devices": [{"id": 5, "name": ["x"], "bluetooth": 1, "width": "1179", "height": 2556.5}],
        "hosts": ["H1", 2], "unmatchedHosts": "H2"})"));
    EXPECT_EQ(mistyped.owner, "") << "no engine of any make";
    EXPECT_EQ(mistyped.bluetooth, "unknown");
    EXPECT_EQ(mistyped.paused, std::nullopt);
    EXPECT_EQ(mistyped.pairingSeconds, 0);
    ASSERT_EQ(mistyped.phones.size(), 1u);
    EXPECT_EQ(mistyped.phones[0], (AppValues::Phone{"", "iPhone", false, std::nullopt, std::nullopt}));
    EXPECT_TRUE(mistyped.hosts.empty()) << "one entry of another type voids the list";
    EXPECT_TRUE(mistyped.unmatchedHosts.empty());

    EXPECT_TRUE(readEngineStatus(JSON::parse(R"({"devices": [{"id": "S1"}, 3]})")).phones.empty());
}

TEST(StatusReplies, AirPlayWindowAndPermission) {
    auto shown = readAirPlayStatus(JSON::parse(
        R"({"permission": true, "candidates": [{}, {}], "window": {"owner": "UxPlay", "number": 3}})"));
    EXPECT_EQ(shown.candidates, 2);
    EXPECT_EQ(shown.window, "UxPlay");
    EXPECT_TRUE(shown.permission);
    EXPECT_EQ(shown.refusal, "");
    auto refused = readAirPlayStatus(JSON::parse(R"({"permission": false, "error": "needs XWayland"})"));
    EXPECT_EQ(refused.refusal, "needs XWayland");
    EXPECT_EQ(readAirPlayStatus(JSON::parse(R"({"permission": true, "error": "no window yet"})")).refusal, "")
        << "only a refusal explains a missing permission";

    auto ownerless = readAirPlayStatus(JSON::parse(R"({"window": {"number": 3}, "permission": 1})"));
    EXPECT_EQ(ownerless.window, "");
    EXPECT_FALSE(ownerless.permission);
    EXPECT_EQ(ownerless.candidates, 0);

    auto none = readAirPlayStatus(JSON::parse(R"({"window": "UxPlay", "candidates": 4})"));
    EXPECT_EQ(none.window, std::nullopt);
    EXPECT_EQ(none.candidates, 0);
}

}  // namespace
