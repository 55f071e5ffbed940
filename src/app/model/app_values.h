#pragma once

#include <optional>
#include <string>
#include <vector>

namespace quintalis {

// Everything the menu and the setup wizard show, as plain values, and what
// follows from them. A copy is a snapshot: the wizard's pictures are drawn
// from made-up ones.
struct AppValues {
    // How the user chose to show the screen.
    enum class Link { cable, airplay };
    enum class Perm { unknown, granted, denied, notAsked };
    // Where the screen comes from now.
    enum class Source { usb, airplay, none };

    // One phone of the engine's list.
    struct Phone {
        std::string id;
        std::string name;
        bool bluetooth = false;  // a Bluetooth host is tied to it
        std::optional<int> width;
        std::optional<int> height;
        bool operator==(const Phone&) const = default;
    };

    bool engineUp = false;
    std::string engineOwner = "Quintalis";
    std::string bluetoothState = "starting";
    std::vector<Phone> phones;
    std::vector<std::string> hosts;
    std::vector<std::string> unmatchedHosts;
    int pairingSeconds = 0;  // while the engine lets a phone pair
    // What holds the engine's port when it is no engine this app can use,
    // with the way out: "Port 7390 is used by python3 (pid 13419). Quit …".
    std::optional<std::string> portHeld;
    bool airplayUp = false;
    std::optional<std::string> airplayWindow;
    int airplayCandidates = 0;
    // Nothing: another program holds the receiver's port, once looked.
    std::optional<bool> airplayReceiverOn;
    bool airplayReceiverLooked = false;
    bool airplayReceiverInstalled = true;  // uxplay can be found now
    // Why the receiver Quintalis keeps running is not running, or keeps stopping.
    std::optional<std::string> receiverProblem;
    Perm bluetoothPerm = Perm::unknown;
    Perm cameraPerm = Perm::unknown;  // USB screen capture
    std::string cameraProblem;        // why USB screen capture is refused here, while it is
    Perm screenPerm = Perm::unknown;
    // Why windows cannot be captured, as the AirPlay service said; "" when they can.
    std::string screenRefusal;
    bool bluetoothRequested = false;
    Link linkChoice = Link::cable;
    // The user picked linkChoice; until then it follows defaultLink().
    bool linkChosen = false;
    bool assistiveTouchOn = false;
    bool setupDone = false;
    int step = 0;
    bool paused = false;
    // Why the preferences cannot be read, which keeps control paused until
    // they can; nothing when they read fine.
    std::optional<std::string> pauseProblem;
    bool launchAtLogin = false;
    std::optional<std::string> claudePath;
    bool claudeCodeAdded = false;
    bool claudeDesktopAdded = false;
    bool codexAdded = false;
    std::string codexConfig;  // the file Codex reads; empty until looked up

    bool operator==(const AppValues&) const = default;

    // The link that can work on this computer: the cable, unless USB
    // capture is refused here while AirPlay's windows can be captured.
    Link defaultLink() const;

    // The Bluetooth states the user can tell apart.
    enum class Radio { starting, waiting, noEngine, notAllowed, noService, noAdapter, off, broken, on, pairing };
    Radio radio() const;

    // Another copy of this program, or another engine, serves the phone.
    bool usingOtherEngine() const;
    // A program that is no engine holds the engine's port.
    bool portTaken() const;
    // No engine answers: everything the engine would tell is unknown.
    bool noEngine() const;
    // The Bluetooth name the phone lists this computer under.
    std::string advertisedName() const;
    bool bluetoothReady() const;
    // One line for the menu and the wizard.
    std::string bluetoothSummary() const;
    // What the user does next for the state bluetoothSummary() names
    // ("Start the Bluetooth service: sudo systemctl start bluetooth");
    // nothing while it works or is starting.
    std::optional<std::string> bluetoothAdvice() const;
    bool phoneConnected() const;
    bool anyBluetoothHost() const;
    const Phone* usbPhone() const;
    bool airplayReady() const;
    Source screenSource() const;
    bool screenReady() const;
    bool aiConnected() const;
    // Whether the wizard's page 1 to 6 is done.
    bool stepDone(int step) const;
};

}  // namespace quintalis
