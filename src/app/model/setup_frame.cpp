#include <algorithm>

#include "app/model/setup_pages.h"

namespace quintalis {
namespace {

// The phone, its screen and Bluetooth in three lines; the rail and the menu
// word a missing screen differently.
std::vector<std::string> statusLines(const AppValues& values, const std::string& noScreen) {
    std::string screen = noScreen;
    if (values.screenSource() == AppValues::Source::usb) screen = "USB cable";
    if (values.screenSource() == AppValues::Source::airplay) screen = "AirPlay";
    return {values.phoneConnected() ? "iPhone connected" : "iPhone not connected", "Screen: " + screen,
            "Bluetooth: " + values.bluetoothSummary()};
}

}  // namespace

const std::vector<std::string>& setupStepTitles() {
    static const std::vector<std::string> titles{"Allow Bluetooth",        "Show the screen",  "Pair your iPhone",
                                                 "Turn on AssistiveTouch", "Connect your AI", "Try it"};
    return titles;
}

Rail setupRail(const AppValues& values, const std::string& version) {
    Rail rail;
    for (int number = 1; number <= kSetupSteps; ++number) {
        rail.entries.push_back(
            {number, setupStepTitles()[number - 1], values.stepDone(number), values.step == number});
    }
    rail.status = statusLines(values, "not yet");
    rail.version = "Version " + version;
    return rail;
}

BottomBar setupBottomBar(const AppValues& values) {
    BottomBar bar;
    bar.shown = values.step >= 1 && values.step <= kSetupSteps;
    if (!bar.shown) return bar;
    if (values.step == kSetupSteps) {
        bar.forward = "Finish";
        bar.forwardPrimary = true;
        bar.finishes = true;
    } else if (values.stepDone(values.step)) {
        bar.forward = "Continue";
        bar.forwardPrimary = true;
    } else {
        bar.forward = "Skip for now";
    }
    return bar;
}

BottomBar setupBottomBar(const AppValues& values, const SetupPage& page) {
    BottomBar bar = setupBottomBar(values);
    auto primary = [](const SetupButton& button) { return button.primary; };
    for (const auto& block : page.blocks) {
        if (const auto* buttons = std::get_if<Buttons>(&block)) {
            if (std::any_of(buttons->buttons.begin(), buttons->buttons.end(), primary)) bar.forwardPrimary = false;
        }
    }
    return bar;
}

WindowSize setupWindowSize(int areaWidth, int areaHeight) {
    return {std::clamp(areaWidth, kSetupMinWidth, kSetupWidth), std::clamp(areaHeight, kSetupMinHeight, kSetupHeight)};
}

int stepBack(int step) { return std::clamp(step - 1, 0, kSetupSteps); }

int stepForward(int step) { return std::clamp(step + 1, 0, kSetupSteps); }

MenuLines menuLines(const AppValues& values, const std::string& version) {
    MenuLines menu;
    menu.status = statusLines(values, "not showing");
    if (auto advice = values.bluetoothAdvice()) menu.status.push_back(*advice);
    if (values.paused) menu.status.push_back("Control paused \u2014 your AI can look, not tap");
    // A pause the user did not choose says why, and how to end it.
    if (values.paused && values.pauseProblem) {
        menu.status.push_back("Paused because " + *values.pauseProblem);
        menu.status.push_back("Untick Pause control to start afresh; the damaged file is kept");
    }
    if (values.usingOtherEngine()) menu.status.push_back("Using " + values.engineOwner + " for the iPhone");
    if (values.portHeld) menu.status.push_back(*values.portHeld);
    if (values.linkChoice == AppValues::Link::airplay && values.receiverProblem) {
        menu.status.push_back(*values.receiverProblem);
    }
    menu.version = "Quintalis " + version;
    return menu;
}

std::string boldMarkup(const std::string& text) {
    std::string out;
    bool bold = false;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '*' && i + 1 < text.size() && text[i + 1] == '*') {
            // An opening mark with no closing one is shown as it is.
            if (!bold && text.find("**", i + 2) == std::string::npos) {
                out += "**";
            } else {
                out += bold ? "</b>" : "<b>";
                bold = !bold;
            }
            ++i;
            continue;
        }
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&apos;"; break;
            default: out += c;
        }
    }
    return out;
}

}  // namespace quintalis
