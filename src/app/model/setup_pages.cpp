#include "app/model/setup_pages.h"

#include "base/text.h"

namespace quintalis {
namespace {

using Perm = AppValues::Perm;
using Link = AppValues::Link;

// A reason as the system words it ("no permission to open …") as a sentence.
std::string sentence(std::string text) {
    if (!text.empty() && text[0] >= 'a' && text[0] <= 'z') text[0] = static_cast<char>(text[0] - 'a' + 'A');
    if (!text.empty() && text.back() != '.') text += '.';
    return text;
}

CheckState doneOr(bool done, CheckState otherwise = CheckState::waiting) {
    return done ? CheckState::done : otherwise;
}

// A long action's button: while it runs, disabled and saying so.
SetupButton longAction(std::string label, SetupAction action, const SetupContext& context, const char* busy) {
    bool running = context.running.count(action) > 0;
    return SetupButton{running ? busy : std::move(label), action, false, !running};
}

SetupPage header(int step, std::string title) {
    return {"Step " + std::to_string(step) + " of " + std::to_string(kSetupSteps), std::move(title), {}};
}

// Shown on the Bluetooth and screen pages while another program serves the phone.
// The button ends only copies of Quintalis and names any other program.
void addOtherEngineNotice(SetupPage& page, const AppValues& values, const SetupContext& context) {
    if (!values.usingOtherEngine() && !values.portTaken()) return;
    std::string text =
        values.portTaken()
            ? "Another program answers on Quintalis's port, so Quintalis's engine is not running."
            : "\u201c" + values.engineOwner +
                  "\u201d is already running the iPhone connection on this computer, so Quintalis is using it.";
    Callout notice{"", text, SetupButton{"Switch to Quintalis", SetupAction::switchEngines}};
    // A holder that is named is no Quintalis: there is nothing to switch.
    if (values.portHeld) notice = Callout{"", *values.portHeld, std::nullopt};
    if (!context.switchMessage.empty()) {
        notice.text = context.switchMessage;
        notice.button.reset();
    }
    page.blocks.push_back(notice);
}

SetupPage welcome(const SetupContext& context) {
    SetupPage page{"", "Let your AI use your iPhone", {}};
    page.blocks.push_back(Paragraph{
        "Quintalis connects your iPhone to this computer, so Claude or Codex can see the screen and tap, swipe and "
        "type for you \u2014 like a person sitting next to you. Nothing to install on the phone."});
    page.blocks.push_back(NumberedLines{{
        "Allow Bluetooth, so this computer can act as the iPhone's keyboard and mouse",
        "Show the iPhone's screen \u2014 with a cable, or over Wi\u2011Fi with AirPlay",
        "Pair and turn on AssistiveTouch, then connect your AI",
    }});
    page.blocks.push_back(Picture{Illustration::phone});
    page.blocks.push_back(Paragraph{context.statusIconShown
                                        ? "About five minutes. You can pause control from the tray menu at any time."
                                        : "About five minutes. You can pause control on the last page at any time.",
                                    true});
    if (!context.installed) {
        page.blocks.push_back(
            Paragraph{"Quintalis works best installed for this user, so your AI can always find it.", true});
        page.blocks.push_back(
            Buttons{{longAction("Install for this user", SetupAction::install, context, "Installing\u2026")}});
        if (!context.installMessage.empty()) page.blocks.push_back(Paragraph{context.installMessage, true});
    }
    page.blocks.push_back(Buttons{{{"Get started", SetupAction::getStarted, true}}});
    return page;
}

SetupPage bluetooth(const AppValues& values, const SetupContext& context) {
    SetupPage page = header(1, "Allow Bluetooth");
    page.blocks.push_back(Paragraph{
        "Quintalis shows up on your iPhone as a Bluetooth keyboard and mouse. That's how your AI taps and types "
        "\u2014 the same way a real keyboard would."});
    // Once this computer lets Quintalis use Bluetooth the engine switches it
    // on by itself: the button would do nothing, so it goes.
    bool canAsk = values.bluetoothPerm != Perm::granted && !values.usingOtherEngine();
    page.blocks.push_back(Paragraph{
        canAsk ? "Quintalis uses this computer's Bluetooth adapter through BlueZ. Click Allow Bluetooth to switch it on."
               : "Quintalis uses this computer's Bluetooth adapter through BlueZ."});
    addOtherEngineNotice(page, values, context);
    if (canAsk) page.blocks.push_back(Buttons{{{"Allow Bluetooth", SetupAction::allowBluetooth, true}}});

    using Radio = AppValues::Radio;
    const Radio radio = values.radio();
    CheckRow permission{"Bluetooth allowed", "", CheckState::waiting, std::nullopt, std::nullopt};
    if (radio == Radio::notAllowed) {
        permission.state = CheckState::problem;
        permission.detail = "The Bluetooth service refused Quintalis. " + values.bluetoothAdvice().value_or("");
        permission.button = SetupButton{"Open Bluetooth settings", SetupAction::openBluetoothSettings};
    } else if (values.bluetoothPerm == Perm::granted || values.usingOtherEngine()) {
        permission.state = CheckState::done;
    }
    CheckRow radioRow{values.bluetoothReady() ? "Bluetooth is on and ready" : "Bluetooth is on", "",
                      doneOr(values.bluetoothReady()), std::nullopt, std::nullopt};
    // The radio's own state, whatever the permission: the user can fix both.
    bool radioOff = asciiLowercase(values.bluetoothState.substr(0, values.bluetoothState.find("advertising as")))
                        .find("off") != std::string::npos;
    if (radio == Radio::noEngine) {
        radioRow.detail = values.bluetoothSummary() + ".";
    } else if (!values.bluetoothReady() && radioOff) {
        radioRow.state = CheckState::problem;
        radioRow.detail = "Turn Bluetooth on in your desktop's Bluetooth settings.";
        radioRow.button = SetupButton{"Open Bluetooth settings", SetupAction::openBluetoothSettings};
    } else if (radio == Radio::pairing) {
        radioRow.detail = *values.bluetoothAdvice();
    } else if (radio != Radio::notAllowed && !values.bluetoothReady()) {
        if (auto advice = values.bluetoothAdvice()) {
            radioRow.state = CheckState::problem;
            radioRow.detail = values.bluetoothSummary() + ". " + *advice;
        }
    }
    page.blocks.push_back(CheckRows{{permission, radioRow}});
    if (!context.bluetoothMessage.empty()) page.blocks.push_back(Paragraph{context.bluetoothMessage, true});
    return page;
}

void addCableCard(SetupPage& page, const AppValues& values) {
    page.blocks.push_back(NumberedLines{{
        "Plug your iPhone into this computer with a USB\u2011C cable that carries data (some charging cables "
        "don't).",
        "Unlock it. If it asks **Trust This Computer?**, tap **Trust** and enter your passcode.",
    }});
    CheckRow phone{"Looking for your iPhone\u2026", "Cable in, phone unlocked, Trust tapped.", CheckState::waiting,
                   std::nullopt, std::nullopt};
    if (const auto* found = values.usbPhone()) {
        phone = {found->name + " found", "", CheckState::done, std::nullopt, std::nullopt};
    }
    // Nothing refuses the cable until a phone on it cannot be opened; then
    // the reason says what to change, and AirPlay is the way round it.
    CheckRow capture{"USB screen capture works here", "", doneOr(values.cameraPerm == Perm::granted),
                     std::nullopt, std::nullopt};
    if (values.cameraPerm == Perm::denied) {
        capture.title = "USB screen capture is not allowed here";
        capture.state = CheckState::problem;
        capture.detail = values.cameraProblem.empty() ? "This computer refuses Quintalis the iPhone's USB device."
                                                      : sentence(values.cameraProblem);
        capture.button = SetupButton{"Use AirPlay", SetupAction::chooseAirPlay};
    }
    page.blocks.push_back(CheckRows{{capture, phone}});
}

void addAirPlayCard(SetupPage& page, const AppValues& values, const SetupContext& context) {
    std::vector<std::string> lines;
    if (!values.airplayReceiverInstalled) {
        lines.push_back("Install the AirPlay receiver UxPlay: **sudo apt install uxplay**");
    }
    lines.push_back("Quintalis starts the **AirPlay receiver** while AirPlay is chosen, and keeps it running.");
    lines.push_back("On the iPhone: **Control Center \u203a Screen Mirroring \u203a " + context.computerName +
                    "**. Same Wi\u2011Fi on both.");
    page.blocks.push_back(NumberedLines{lines});
    if (values.airplayReceiverInstalled && values.airplayReceiverOn != true) {
        page.blocks.push_back(Buttons{{{"Start AirPlay receiver", SetupAction::startAirPlayReceiver}}});
    }
    if (!context.airplayMessage.empty()) page.blocks.push_back(Paragraph{context.airplayMessage, true});
    CheckRow receiver{"AirPlay receiver is running", "", doneOr(values.airplayReceiverOn == true), std::nullopt,
                      std::nullopt};
    if (values.receiverProblem && values.airplayReceiverOn != true) {
        receiver.state = CheckState::problem;
        receiver.detail = *values.receiverProblem;
    } else if (values.airplayReceiverLooked && values.airplayReceiverOn == std::nullopt) {
        receiver.detail = "Another program holds the AirPlay receiver's port.";
    }
    CheckRow capture{"Screen capture available", "",
                     doneOr(values.screenPerm == Perm::granted,
                            values.screenPerm == Perm::denied ? CheckState::problem : CheckState::waiting),
                     std::nullopt, std::nullopt};
    if (values.screenPerm == Perm::denied) capture.detail = "Quintalis can't read windows on this desktop (X11 is needed).";
    // The service's own reason says what to do, such as installing XWayland.
    if (values.screenPerm != Perm::granted && !values.screenRefusal.empty()) capture.detail = values.screenRefusal;
    CheckRow mirroring{values.airplayReady() ? "Your iPhone's screen is showing" : "Waiting for Screen Mirroring\u2026",
                       "", doneOr(values.airplayReady()), std::nullopt, std::nullopt};
    page.blocks.push_back(CheckRows{{receiver, capture, mirroring}});
}

SetupPage screen(const AppValues& values, const SetupContext& context) {
    SetupPage page = header(2, "Show the iPhone's screen");
    page.blocks.push_back(Paragraph{"Your AI needs to see what's on the phone. Pick how."});
    addOtherEngineNotice(page, values, context);
    bool cable = values.linkChoice == Link::cable;
    page.blocks.push_back(ChoiceCards{{
        {"With a cable", "Sharpest and fastest", cable, SetupAction::chooseCable},
        {"No cable (AirPlay)", "Over Wi\u2011Fi, with AirPlay", !cable, SetupAction::chooseAirPlay},
    }});
    if (cable) {
        addCableCard(page, values);
    } else {
        addAirPlayCard(page, values, context);
    }
    return page;
}

SetupPage pair(const AppValues& values, const SetupContext& context) {
    SetupPage page = header(3, "Pair your iPhone");
    page.blocks.push_back(Paragraph{"Now introduce the phone to its new keyboard and mouse. This happens once."});
    page.blocks.push_back(NumberedLines{{
        "Click **Let the iPhone pair**: for two minutes, this computer accepts a new keyboard pairing.",
        "On your iPhone, open **Settings \u203a Bluetooth**.",
        "Under **Other Devices**, tap **" + values.advertisedName() + "**.",
        "Tap **Pair**. If this computer asks too, click **Connect**.",
    }});
    // Once the phone is paired, Continue is the step's next move.
    page.blocks.push_back(Buttons{{{"Let the iPhone pair", SetupAction::openPairingWindow, !values.stepDone(3)}}});
    if (!context.pairingMessage.empty()) page.blocks.push_back(Paragraph{context.pairingMessage, true});
    page.blocks.push_back(Picture{Illustration::bluetoothList});
    // bluetoothd gives a connected phone the adapter's alias as the device's name.
    std::string shownAs = context.bluetoothAlias.empty() ? "its Bluetooth name"
                                                          : "its Bluetooth name, \u201c" + context.bluetoothAlias + "\u201d";
    page.blocks.push_back(Paragraph{
        "Once paired, it is listed under My Devices with this computer's name: " + shownAs + ", not " +
            values.advertisedName() +
            ". Listed there but Not Connected? Tap \u24d8 \u203a Forget This Device and pair again.",
        true});
    std::vector<CheckRow> rows;
    rows.push_back({values.anyBluetoothHost() ? "Connected" : "Waiting for your iPhone\u2026", "",
                    doneOr(values.anyBluetoothHost()), std::nullopt, std::nullopt});
    if (values.screenSource() == AppValues::Source::usb) {
        if (values.phoneConnected()) {
            rows.push_back({"Matched to the screen", "", CheckState::done, std::nullopt, std::nullopt});
        } else {
            rows.push_back({"Matching Bluetooth to the screen",
                            "Keep the iPhone unlocked with AssistiveTouch on (next step); Quintalis moves the "
                            "pointer a little to recognise it.",
                            CheckState::waiting, std::nullopt, std::nullopt});
        }
    }
    page.blocks.push_back(CheckRows{rows});
    return page;
}

SetupPage assistiveTouch(const AppValues& values) {
    SetupPage page = header(4, "Turn on AssistiveTouch");
    page.blocks.push_back(Paragraph{
        "An iPhone only shows a pointer for a mouse when AssistiveTouch is on. Without it, your AI can type but "
        "can't tap."});
    page.blocks.push_back(NumberedLines{{
        "On your iPhone, open **Settings \u203a Accessibility \u203a Touch**.",
        "Tap **AssistiveTouch** and switch it **on**.",
        "A small round pointer and a floating button appear. That's it.",
    }});
    page.blocks.push_back(Callout{
        "Good to know",
        "The floating button can fade into the background: AssistiveTouch \u203a Idle Opacity. For steady typing, "
        "set Settings \u203a General \u203a Keyboard \u203a Hardware Keyboard to U.S. and turn Auto\u2011Correction "
        "off. Auto\u2011Lock \u203a Never keeps the phone awake while your AI works.",
        std::nullopt});
    page.blocks.push_back(CheckRows{{{"AssistiveTouch is on", "This computer can't check this one for you.",
                                      doneOr(values.assistiveTouchOn), std::nullopt,
                                      SetupAction::confirmAssistiveTouch}}});
    return page;
}

SetupPage connectAI(const AppValues& values, const SetupContext& context) {
    SetupPage page = header(5, "Connect your AI");
    page.blocks.push_back(Paragraph{
        "Tell your AI app where Quintalis is. Pick the ones you use \u2014 you can add more later."});
    if (!context.installed) {
        page.blocks.push_back(
            Paragraph{"Tip: install Quintalis for this user first, so this link keeps working.", true});
    }
    AIRow code{"Claude Code", "Adds Quintalis for all your projects.", values.claudeCodeAdded, std::nullopt,
               std::nullopt, std::nullopt, context.claudeCodeMessage};
    if (values.claudePath) {
        code.button = longAction(values.claudeCodeAdded ? "Add again" : "Add to Claude Code",
                                 SetupAction::addClaudeCode, context, "Adding\u2026");
    } else {
        code.detail = "The claude command wasn't found. Copy the command and run it in a terminal.";
        code.copyButton = SetupButton{"Copy command", SetupAction::copyClaudeCommand};
        if (context.copiedClaudeCommand) code.message = "Copied. Paste it into a terminal and press Return.";
    }
    AIRow desktop{"Claude Desktop",
                  "Adds Quintalis to Claude's settings. Your other settings stay as they are, and a backup is kept.",
                  values.claudeDesktopAdded,
                  longAction(values.claudeDesktopAdded ? "Add again" : "Add to Claude Desktop",
                             SetupAction::addClaudeDesktop, context, "Adding\u2026"),
                  std::nullopt,
                  std::nullopt,
                  context.claudeDesktopMessage};
    if (!context.claudeDesktopSnippet.empty()) {
        desktop.snippet = context.claudeDesktopSnippet;
        desktop.copyButton = SetupButton{context.copiedClaudeDesktop ? "Copied" : "Copy", SetupAction::copyClaudeDesktop};
    }
    AIRow codex{"Codex",
                "Paste this into " + (values.codexConfig.empty() ? "~/.codex/config.toml" : values.codexConfig) + ":",
                values.codexAdded,
                std::nullopt,
                context.codexSnippet,
                SetupButton{context.copiedCodex ? "Copied" : "Copy", SetupAction::copyCodex},
                ""};
    page.blocks.push_back(code);
    page.blocks.push_back(desktop);
    page.blocks.push_back(codex);
    return page;
}

// Without a tray the status icon's menu is out of reach: its Pause and Quit
// are here, and starting Quintalis again brings this window back.
void addNoTrayNotice(SetupPage& page, const AppValues& values) {
    page.blocks.push_back(Callout{
        "No tray icon on this desktop",
        "This desktop shows no status icons (on GNOME, the AppIndicator extension adds them), so Quintalis has no "
        "menu there. It keeps running when this window closes: start Quintalis again to bring the window back.",
        std::nullopt});
    page.blocks.push_back(Buttons{{{values.paused ? "Resume control" : "Pause control", SetupAction::togglePause},
                                   {"Quit Quintalis", SetupAction::quit}}});
}

SetupPage tryIt(const AppValues& values, const SetupContext& context) {
    SetupPage page = header(6, "Try it");
    page.blocks.push_back(Paragraph{
        "Take one look at the iPhone, the way your AI will. Quintalis only looks \u2014 nothing is tapped or typed."});
    bool hadResult = context.look.has_value() || !context.lookError.empty();
    std::string label = context.looking ? "Looking\u2026" : hadResult ? "Look again" : "Take a look";
    // After a look, Finish is the step's next move.
    page.blocks.push_back(Buttons{{{label, SetupAction::takeLook, !hadResult}}});
    if (context.look) {
        page.blocks.push_back(Paragraph{"**Your AI can see your iPhone**"});
        // The look falls back to the other source: say which one answered.
        const auto& look = *context.look;
        std::string from = look.source == "AirPlay" ? "Over AirPlay" : "From the " + look.source;
        page.blocks.push_back(LookResult{look, from + ", " + look.pixels + " pixels"});
        page.blocks.push_back(Paragraph{
            "Now ask your AI something like: \u201cOpen Settings on my iPhone and tell me the iOS version.\u201d",
            true});
    } else if (!context.lookError.empty()) {
        page.blocks.push_back(CheckRows{{{context.lookError, "", CheckState::problem, std::nullopt, std::nullopt}}});
    }
    if (!context.statusIconShown) addNoTrayNotice(page, values);
    return page;
}

}  // namespace

bool beginAction(SetupContext& context, SetupAction action) { return context.running.insert(action).second; }

void endAction(SetupContext& context, SetupAction action) { context.running.erase(action); }

SetupPage setupPage(int step, const AppValues& values, const SetupContext& context) {
    switch (step) {
        case 1: return bluetooth(values, context);
        case 2: return screen(values, context);
        case 3: return pair(values, context);
        case 4: return assistiveTouch(values);
        case 5: return connectAI(values, context);
        case 6: return tryIt(values, context);
        default: return welcome(context);
    }
}

}  // namespace quintalis
