#include "app/model/app_values.h"

#include <algorithm>

#include "app/model/unicode_text.h"
#include "base/text.h"

namespace quintalis {
namespace {

constexpr std::string_view kThisApp = "Quintalis";
constexpr std::string_view kAdvertisingAs = "advertising as ";

bool contains(const std::string& text, std::string_view part) { return text.find(part) != std::string::npos; }

}  // namespace

bool AppValues::usingOtherEngine() const { return engineUp && !engineOwner.empty() && engineOwner != kThisApp; }

bool AppValues::portTaken() const { return portHeld || (engineUp && engineOwner.empty()); }

bool AppValues::noEngine() const { return !engineUp || engineOwner.empty(); }

std::string AppValues::advertisedName() const {
    auto at = bluetoothState.find(kAdvertisingAs);
    if (at == std::string::npos) return std::string(kThisApp);
    std::string name = trimWhiteSpace(std::string_view(bluetoothState).substr(at + kAdvertisingAs.size()));
    return name.empty() ? std::string(kThisApp) : name;
}

bool AppValues::bluetoothReady() const {
    std::string state = asciiLowercase(bluetoothState);
    bool allowed = bluetoothPerm == Perm::granted || usingOtherEngine();
    // "advertising failed: …" is no radio at work; a computer's name may hold the word.
    bool failed = contains(state.substr(0, state.find(kAdvertisingAs)), "failed");
    return allowed && !noEngine() && !failed &&
           (contains(state, "advertising") || contains(state, "connected") || contains(state, "powered on"));
}

// What the engine's Bluetooth line says, in the words the app acts on.
AppValues::Radio AppValues::radio() const {
    // Only the state itself, not the computer's name after it: "advertising
    // as Office PC" is on.
    std::string state = asciiLowercase(bluetoothState.substr(0, bluetoothState.find(kAdvertisingAs)));
    if (bluetoothPerm == Perm::denied && !usingOtherEngine()) return Radio::notAllowed;
    // Nothing can start Bluetooth then, so "Starting…" would wait for ever.
    if (noEngine()) return Radio::noEngine;
    if (contains(state, "not allowed")) return Radio::notAllowed;
    if (contains(state, "bluetoothd")) return Radio::noService;
    if (contains(state, "no bluetooth adapter")) return Radio::noAdapter;
    if (contains(state, "off")) return Radio::off;
    if (bluetoothReady()) return pairingSeconds > 0 ? Radio::pairing : Radio::on;
    if (bluetoothPerm != Perm::granted && !usingOtherEngine()) return Radio::waiting;
    // "bluetooth unavailable (0)" is the bus not having answered yet.
    if (contains(state, "failed") || (contains(state, "unavailable") && !contains(state, "(0)"))) {
        return Radio::broken;
    }
    return Radio::starting;
}

std::string AppValues::bluetoothSummary() const {
    switch (radio()) {
        case Radio::notAllowed: return "Not allowed";
        case Radio::noEngine: return "Quintalis's engine is not running";
        case Radio::noService: return "bluetoothd is not running";
        case Radio::noAdapter: return "No Bluetooth adapter";
        case Radio::off: return "Bluetooth is off";
        case Radio::on: return "On";
        case Radio::pairing: return "On, ready to pair";
        case Radio::waiting: return "Waiting for permission";
        case Radio::broken: return "Can't be used";
        case Radio::starting: break;
    }
    return "Starting\u2026";
}

std::optional<std::string> AppValues::bluetoothAdvice() const {
    switch (radio()) {
        case Radio::notAllowed:
            return "Add your user to the bluetooth group (sudo adduser $USER bluetooth), then log in again.";
        case Radio::noService: return "Start the Bluetooth service: sudo systemctl start bluetooth";
        case Radio::noAdapter: return "Plug in a Bluetooth adapter, or unblock it: rfkill unblock bluetooth";
        case Radio::off: return "Turn Bluetooth on in your desktop's Bluetooth settings.";
        case Radio::pairing:
            return "On the iPhone, open Settings \u203a Bluetooth and tap this computer's name (" +
                   std::to_string(pairingSeconds) + " s left).";
        case Radio::broken: return "The engine says: " + bluetoothState;
        default: return std::nullopt;
    }
}

bool AppValues::phoneConnected() const {
    if (std::any_of(phones.begin(), phones.end(), [](const Phone& phone) { return phone.bluetooth; })) return true;
    return phones.empty() && hosts.size() == 1;
}

bool AppValues::anyBluetoothHost() const {
    return !hosts.empty() || std::any_of(phones.begin(), phones.end(), [](const Phone& phone) { return phone.bluetooth; });
}

const AppValues::Phone* AppValues::usbPhone() const { return phones.empty() ? nullptr : &phones.front(); }

bool AppValues::airplayReady() const { return screenPerm == Perm::granted && airplayWindow.has_value(); }

AppValues::Source AppValues::screenSource() const {
    if (usbPhone()) return Source::usb;
    if (airplayReady()) return Source::airplay;
    return Source::none;
}

bool AppValues::screenReady() const { return linkChoice == Link::cable ? usbPhone() != nullptr : airplayReady(); }

bool AppValues::aiConnected() const { return claudeCodeAdded || claudeDesktopAdded || codexAdded; }

AppValues::Link AppValues::defaultLink() const {
    return cameraPerm == Perm::denied && screenPerm == Perm::granted ? Link::airplay : Link::cable;
}

bool AppValues::stepDone(int number) const {
    switch (number) {
        case 1: return bluetoothReady();
        case 2: return screenReady();
        case 3: return phoneConnected();
        case 4: return assistiveTouchOn;
        case 5: return aiConnected();
        case 6: return setupDone;
        default: return false;
    }
}

}  // namespace quintalis
