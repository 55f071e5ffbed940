#pragma once

#include <optional>
#include <set>
#include <string>
#include <variant>
#include <vector>

#include "app/model/app_values.h"
#include "app/model/try_it.h"

namespace quintalis {

// What each page of the setup window says and offers, as plain values drawn
// from the app's values and from what happened in the window itself. The
// window only lays these out and forwards clicks, so every text and every
// choice here is tested without a display.

// What a click asks for. The window carries it out.
enum class SetupAction {
    getStarted,
    install,
    switchEngines,
    allowBluetooth,
    openBluetoothSettings,
    chooseCable,
    chooseAirPlay,
    startAirPlayReceiver,
    confirmAssistiveTouch,
    addClaudeCode,
    copyClaudeCommand,
    addClaudeDesktop,
    copyCodex,
    copyClaudeDesktop,
    takeLook,
    openPairingWindow,
    togglePause,
    quit,
};

enum class CheckState { done, waiting, problem };

struct SetupButton {
    std::string label;
    SetupAction action;
    bool primary = false;
    bool enabled = true;  // false while its action runs
    bool operator==(const SetupButton&) const = default;
};

// Texts may carry **bold** marks.
struct Paragraph {
    std::string text;
    bool note = false;  // smaller and quieter
    bool operator==(const Paragraph&) const = default;
};
struct NumberedLines {
    std::vector<std::string> lines;
    bool operator==(const NumberedLines&) const = default;
};
struct Buttons {
    std::vector<SetupButton> buttons;
    bool operator==(const Buttons&) const = default;
};
// One live check: a title, an optional detail and a mark. A row with an
// action is the user's own confirmation and is clicked as a whole.
struct CheckRow {
    std::string title;
    std::string detail;
    CheckState state = CheckState::waiting;
    std::optional<SetupButton> button;
    std::optional<SetupAction> clickAction;
    bool operator==(const CheckRow&) const = default;
};
struct CheckRows {
    std::vector<CheckRow> rows;
    bool operator==(const CheckRows&) const = default;
};
struct ChoiceCard {
    std::string title;
    std::string subtitle;
    bool selected = false;
    SetupAction action;
    bool operator==(const ChoiceCard&) const = default;
};
struct ChoiceCards {
    std::vector<ChoiceCard> cards;
    bool operator==(const ChoiceCards&) const = default;
};
// A boxed aside ("Good to know", the other-engine notice).
struct Callout {
    std::string title;
    std::string text;
    std::optional<SetupButton> button;
    bool operator==(const Callout&) const = default;
};
// One AI client: what adding it does, its button and its check mark.
struct AIRow {
    std::string title;
    std::string detail;
    bool added = false;
    std::optional<SetupButton> button;
    std::optional<std::string> snippet;  // selectable text to paste
    std::optional<SetupButton> copyButton;
    std::string message;  // the last result of its button
    bool operator==(const AIRow&) const = default;
};
enum class Illustration { phone, bluetoothList };
struct Picture {
    Illustration kind;
    bool operator==(const Picture&) const = default;
};
// The try-it look's picture and what was read on it.
struct LookResult {
    TryIt::Result result;
    std::string caption;  // where the picture came from, and its size
    bool operator==(const LookResult&) const = default;
};

using PageBlock =
    std::variant<Paragraph, NumberedLines, Buttons, CheckRows, ChoiceCards, Callout, AIRow, Picture, LookResult>;

struct SetupPage {
    std::string eyebrow;  // "Step 1 of 6"; empty on the welcome page
    std::string title;
    std::vector<PageBlock> blocks;
    bool operator==(const SetupPage&) const = default;
};

// What happened in the window that the app's values do not hold: replies of
// the buttons, copies, the look's outcome, and facts of this computer.
struct SetupContext {
    std::string computerName = "this computer";
    // False on a desktop with no tray to show the status icon in: the window
    // then offers what the icon's menu would.
    bool statusIconShown = true;
    std::string version;
    bool installed = true;
    std::string installMessage;
    std::string switchMessage;
    std::string bluetoothMessage;  // what opening the Bluetooth settings did
    std::string airplayMessage;
    std::string pairingMessage;
    // The name a paired phone lists this computer under (the Bluetooth
    // adapter's alias), once the engine has said; empty until then.
    std::string bluetoothAlias;
    std::string claudeCodeMessage;
    std::string claudeDesktopMessage;
    // The entry to add by hand when the settings file could not be merged.
    std::string claudeDesktopSnippet;
    bool copiedClaudeDesktop = false;
    bool copiedClaudeCommand = false;
    bool copiedCodex = false;
    std::string codexSnippet;
    // The long actions under way (installing, adding an AI client): each
    // runs once at a time, its button disabled and saying so.
    std::set<SetupAction> running;
    bool looking = false;
    std::optional<TryIt::Result> look;
    std::string lookError;
};

constexpr int kSetupSteps = 6;
// The window's own size, and the least it can be made: small enough for a
// 1920x1080 screen at twice the scale (960x540 logical pixels, less a panel),
// where the pages scroll and the bottom bar stays in reach.
constexpr int kSetupWidth = 880;
constexpr int kSetupHeight = 680;
constexpr int kSetupMinWidth = 720;
constexpr int kSetupMinHeight = 460;

struct WindowSize {
    int width = 0;
    int height = 0;
    bool operator==(const WindowSize&) const = default;
};
// The window's first size on a work area of that many logical pixels: its
// own size where that fits, else the work area, never below the least.
WindowSize setupWindowSize(int areaWidth, int areaHeight);

// Marks a long action as under way; false when it already is, so that a
// second click starts nothing.
bool beginAction(SetupContext& context, SetupAction action);
void endAction(SetupContext& context, SetupAction action);

// The rail titles of pages 1 to 6.
const std::vector<std::string>& setupStepTitles();

// The page shown for `step`; any number outside 0-6 shows the welcome page.
SetupPage setupPage(int step, const AppValues& values, const SetupContext& context);

struct RailEntry {
    int number;
    std::string title;
    bool done;
    bool current;
    bool operator==(const RailEntry&) const = default;
};
struct Rail {
    std::vector<RailEntry> entries;
    std::vector<std::string> status;  // the three summary lines
    std::string version;              // "Version 1.2"
    bool operator==(const Rail&) const = default;
};
Rail setupRail(const AppValues& values, const std::string& version);

// The bar under pages 1 to 6.
struct BottomBar {
    bool shown = false;
    std::string forward;  // "Continue", "Skip for now" or "Finish"
    bool forwardPrimary = false;
    bool finishes = false;
    bool operator==(const BottomBar&) const = default;
};
BottomBar setupBottomBar(const AppValues& values);
// The bar under `page`, leaving the page one primary button: the page's
// own while it offers one, else the bar's. Return presses it.
BottomBar setupBottomBar(const AppValues& values, const SetupPage& page);
// Where Back and the forward button go from `step`.
int stepBack(int step);
int stepForward(int step);

// The tray menu, top to bottom; hidden lines are left out.
struct MenuLines {
    std::vector<std::string> status;  // the lines above the first divider, at most seven
    std::string version;              // "Quintalis 1.2"
};
MenuLines menuLines(const AppValues& values, const std::string& version);

// Markdown's **bold** as Pango markup, everything else escaped.
std::string boldMarkup(const std::string& text);

}  // namespace quintalis
