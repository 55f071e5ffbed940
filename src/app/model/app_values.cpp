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
    return allowed && !noEngine() &&
           (contains(state, "advertising") || contains(state, "connected") || contains(state, "powered on"));
}

std::string AppValues::bluetoothSummary() const {
    if (bluetoothPerm == Perm::denied && !usingOtherEngine()) return "Not allowed";
    // Nothing can start Bluetooth then, so "Starting…" would wait for ever.
    if (noEngine()) return "Quintalis's engine is not running";
    // Only the state itself, not the computer's name after it: "advertising
    // as Office PC" is on.
    std::string state = asciiLowercase(bluetoothState.substr(0, bluetoothState.find(kAdvertisingAs)));
    if (contains(state, "off")) return "Bluetooth is off";
    if (bluetoothReady()) return "On";
    if (bluetoothPerm != Perm::granted && !usingOtherEngine()) return "Waiting for permission";
    return "Starting\u2026";
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
