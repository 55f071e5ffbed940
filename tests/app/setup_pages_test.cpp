#include <gtest/gtest.h>

#include <algorithm>

#include "app/model/setup_pages.h"

using namespace quintalis;
using Perm = AppValues::Perm;

namespace {

// Every text a page shows, in order, with its marks as they stand.
std::vector<std::string> texts(const SetupPage& page) {
    std::vector<std::string> out{page.eyebrow, page.title};
    auto add = [&out](const std::optional<SetupButton>& button) {
        if (button) out.push_back(button->label);
    };
    for (const auto& block : page.blocks) {
        if (auto* p = std::get_if<Paragraph>(&block)) out.push_back(p->text);
        if (auto* b = std::get_if<Buttons>(&block)) {
            for (const auto& button : b->buttons) out.push_back(button.label);
        }
        if (auto* rows = std::get_if<CheckRows>(&block)) {
            for (const auto& row : rows->rows) out.insert(out.end(), {row.title, row.detail});
        }
        if (auto* c = std::get_if<Callout>(&block)) {
            out.insert(out.end(), {c->title, c->text});
            add(c->button);
        }
        if (auto* ai = std::get_if<AIRow>(&block)) add(ai->copyButton);
    }
    return out;
}

bool shows(const SetupPage& page, const std::string& text) {
    auto all = texts(page);
    return std::find(all.begin(), all.end(), text) != all.end();
}

// The button of a page that asks for `action`, wherever it sits.
std::optional<SetupButton> buttonFor(const SetupPage& page, SetupAction action) {
    for (const auto& block : page.blocks) {
        std::vector<std::optional<SetupButton>> found;
        if (auto* b = std::get_if<Buttons>(&block)) found.assign(b->buttons.begin(), b->buttons.end());
        if (auto* ai = std::get_if<AIRow>(&block)) found = {ai->button, ai->copyButton};
        for (const auto& button : found) {
            if (button && button->action == action) return button;
        }
    }
    return std::nullopt;
}

std::vector<CheckRow> rows(const SetupPage& page) {
    std::vector<CheckRow> out;
    for (const auto& block : page.blocks) {
        if (auto* r = std::get_if<CheckRows>(&block)) out.insert(out.end(), r->rows.begin(), r->rows.end());
    }
    return out;
}

bool menuShows(const AppValues& values, const std::string& line) {
    auto menu = menuLines(values, "1.0").status;
    return std::find(menu.begin(), menu.end(), line) != menu.end();
}

}  // namespace

// Two buttons drawn as the way on leave the user guessing, and Return can
// press only one: each page has at most one primary button, its own while
// it offers one, else the bar's.
TEST(SetupPagesTest, EachPageHasOnePrimaryButtonAndNavigationStaysInRange) {
    AppValues done;
    done.engineUp = true;
    done.bluetoothPerm = Perm::granted;
    done.bluetoothState = "advertising as Desk";
    done.phones = {{"S1", "Ann's iPhone", true, 1179, 2556}};
    done.assistiveTouchOn = true;
    SetupContext looked;
    looked.look = TryIt::Result{nullptr, "AirPlay", {"Settings"}, "390\u00d7844"};
    for (const auto& [values, context] :
         std::vector<std::pair<AppValues, SetupContext>>{{AppValues{}, {}}, {done, {}}, {done, looked}}) {
        for (int step = 0; step <= kSetupSteps; ++step) {
            AppValues at = values;
            at.step = step;
            auto page = setupPage(step, at, context);
            auto bar = setupBottomBar(at, page);
            int primaries = bar.forwardPrimary ? 1 : 0;
            for (const auto& block : page.blocks) {
                if (auto* b = std::get_if<Buttons>(&block)) {
                    for (const auto& button : b->buttons) primaries += button.primary;
                }
            }
            EXPECT_LE(primaries, 1) << "step " << step;
        }
    }
    // Once paired, and once looked, the bar's button leads on.
    done.step = 3;
    EXPECT_TRUE(setupBottomBar(done, setupPage(3, done, {})).forwardPrimary);
    done.step = 6;
    EXPECT_FALSE(setupBottomBar(done, setupPage(6, done, {})).forwardPrimary);
    EXPECT_TRUE(setupBottomBar(done, setupPage(6, done, looked)).forwardPrimary);
    EXPECT_TRUE(setupBottomBar(done).finishes);

    for (int step : {0, 9}) {
        done.step = step;
        EXPECT_FALSE(setupBottomBar(done).shown) << step;
    }
    EXPECT_EQ(stepBack(0), 0);
    EXPECT_EQ(stepForward(kSetupSteps), kSetupSteps);
}

TEST(SetupPagesTest, AnotherProgramOnThePortIsNamedAndOnlyAnEngineCanBeSwitched) {
    AppValues values;
    values.engineUp = true;
    values.engineOwner = "Quintalis Beta";
    values.bluetoothState = "advertising as Desk";
    values.bluetoothPerm = Perm::denied;
    SetupContext context;
    auto page = setupPage(1, values, context);
    EXPECT_EQ(rows(page)[0].state, CheckState::done) << "another engine needs no permission here";
    EXPECT_TRUE(buttonFor(page, SetupAction::allowBluetooth) == std::nullopt);
    EXPECT_TRUE(shows(page, "Switch to Quintalis"));
    EXPECT_TRUE(shows(setupPage(2, values, context), "Switch to Quintalis"));
    context.switchMessage = "Nothing to quit.";
    EXPECT_FALSE(shows(setupPage(1, values, context), "Switch to Quintalis"));
    context.switchMessage.clear();

    // A program that is no engine on the port is never named as one, and its word is no permission.
    values.engineOwner = "";
    page = setupPage(1, values, context);
    EXPECT_TRUE(shows(page, "Another program answers on Quintalis's port, so Quintalis's engine is not running."));
    EXPECT_EQ(rows(page)[0].state, CheckState::problem);

    // Once its holder is known it is named, on the page and in the menu, with nothing to switch.
    const std::string held = "Port 7390 is used by python3 (pid 13419). Quit that program, or start Quintalis "
                             "with QUINTALIS_ENGINE_PORT set to a free port.";
    values.engineUp = false;
    values.portHeld = held;
    page = setupPage(1, values, context);
    EXPECT_TRUE(shows(page, held));
    EXPECT_FALSE(shows(page, "Switch to Quintalis"));
    EXPECT_TRUE(menuShows(values, held));
}

// Each problem says what to do about it where the user looks, and no page
// offers a button that does nothing.
TEST(SetupPagesTest, ProblemsSayWhatToDoOnThePageAndInTheMenu) {
    AppValues values;
    values.engineUp = true;
    values.bluetoothPerm = Perm::granted;
    values.bluetoothState = "bluetooth unavailable (2): bluetoothd is not running";
    auto page = setupPage(1, values, {});
    EXPECT_FALSE(buttonFor(page, SetupAction::allowBluetooth)) << "Bluetooth starts by itself once allowed";
    EXPECT_EQ(rows(page)[1].state, CheckState::problem);
    EXPECT_EQ(rows(page)[1].detail,
              "bluetoothd is not running. Start the Bluetooth service: sudo systemctl start bluetooth");
    EXPECT_TRUE(menuShows(values, "Start the Bluetooth service: sudo systemctl start bluetooth"));
    values.bluetoothState = "off";
    EXPECT_EQ(rows(setupPage(1, values, {}))[1].button,
              (SetupButton{"Open Bluetooth settings", SetupAction::openBluetoothSettings}));
    values.bluetoothPerm = Perm::notAsked;
    EXPECT_TRUE(buttonFor(setupPage(1, values, {}), SetupAction::allowBluetooth));

    // A pause the user never chose says why and how to end it.
    values.paused = true;
    values.pauseProblem = "/home/ann/.config/quintalis/defaults.json can't be read (not valid JSON)";
    EXPECT_TRUE(menuShows(values, "Paused because " + *values.pauseProblem));
    EXPECT_TRUE(menuShows(values, "Untick Pause control to start afresh; the damaged file is kept"));
    values.paused = false;
    EXPECT_FALSE(menuShows(values, "Paused because " + *values.pauseProblem)) << "nothing to explain once control runs";

    values = {};
    values.cameraPerm = Perm::denied;
    values.cameraProblem = "no permission to open the iPhone's USB device: install the udev rule";
    auto refused = rows(setupPage(2, values, {}))[0];
    EXPECT_EQ(refused.state, CheckState::problem);
    EXPECT_EQ(refused.detail, "No permission to open the iPhone's USB device: install the udev rule.");
    EXPECT_EQ(refused.button, (SetupButton{"Use AirPlay", SetupAction::chooseAirPlay}));

    values.linkChoice = AppValues::Link::airplay;
    values.airplayReceiverInstalled = false;
    EXPECT_FALSE(shows(setupPage(2, values, {}), "Start AirPlay receiver")) << "not installed";
    values.airplayReceiverInstalled = true;
    values.receiverProblem = "UxPlay stopped: exited with status 1: DNS-SD (Avahi) is not available";
    auto stopped = setupPage(2, values, {});
    EXPECT_TRUE(shows(stopped, "Start AirPlay receiver"));
    EXPECT_EQ(rows(stopped)[0].state, CheckState::problem);
    EXPECT_EQ(rows(stopped)[0].detail, *values.receiverProblem);
    EXPECT_TRUE(menuShows(values, *values.receiverProblem));
    values.screenRefusal = "Screen capture isn't available to Quintalis: capturing a window needs XWayland";
    EXPECT_EQ(rows(setupPage(2, values, {}))[1].detail, values.screenRefusal);

    // A settings file that could not be merged leaves the entry to paste, with a Copy button.
    SetupContext context;
    context.claudeDesktopSnippet = "\"quintalis\": {}";
    EXPECT_EQ(buttonFor(setupPage(5, values, context), SetupAction::copyClaudeDesktop)->label, "Copy");
    context.lookError = "No picture yet.";
    EXPECT_EQ(rows(setupPage(6, values, context))[0].state, CheckState::problem);
}

TEST(SetupPagesTest, ALongActionRunsOnceAndItsButtonSaysSoUntilTheAnswer) {
    AppValues values;
    values.claudePath = "/usr/bin/claude";
    SetupContext context;
    context.installed = false;
    const std::tuple<int, SetupAction, const char*, const char*> cases[] = {
        {0, SetupAction::install, "Install for this user", "Installing\u2026"},
        {5, SetupAction::addClaudeCode, "Add to Claude Code", "Adding\u2026"},
        {5, SetupAction::addClaudeDesktop, "Add to Claude Desktop", "Adding\u2026"},
    };
    for (const auto& [step, action, idle, busy] : cases) {
        EXPECT_TRUE(beginAction(context, action)) << idle;
        EXPECT_FALSE(beginAction(context, action)) << idle << ": a second click starts nothing";
        EXPECT_EQ(buttonFor(setupPage(step, values, context), action), (SetupButton{busy, action, false, false}))
            << idle;
        endAction(context, action);
        EXPECT_EQ(buttonFor(setupPage(step, values, context), action), (SetupButton{idle, action})) << idle;
        EXPECT_TRUE(beginAction(context, action)) << idle << ": runs again after its answer";
    }
    // Each runs on its own: adding one client leaves the other's button alone.
    endAction(context, SetupAction::addClaudeDesktop);
    EXPECT_TRUE(buttonFor(setupPage(5, values, context), SetupAction::addClaudeDesktop)->enabled);
    EXPECT_FALSE(buttonFor(setupPage(5, values, context), SetupAction::addClaudeCode)->enabled);
}

TEST(SetupPagesTest, TheWindowStartsWithinTheWorkArea) {
    EXPECT_EQ(setupWindowSize(1920, 1050), (WindowSize{kSetupWidth, kSetupHeight}));
    // 1920x1080 at twice the scale, less a 32-pixel panel.
    EXPECT_EQ(setupWindowSize(960, 508), (WindowSize{kSetupWidth, 508}));
    EXPECT_EQ(setupWindowSize(0, 0), (WindowSize{kSetupMinWidth, kSetupMinHeight})) << "an unknown area";
    EXPECT_LE(kSetupMinHeight, 508) << "the least size itself fits there";
}

TEST(SetupPagesTest, BoldMarksBecomeMarkupAndNothingElseDoes) {
    EXPECT_EQ(boldMarkup("Tap **Trust** & <go>"), "Tap <b>Trust</b> &amp; &lt;go&gt;");
    EXPECT_EQ(boldMarkup("a ** b"), "a ** b");
    EXPECT_EQ(boldMarkup("Ann's \"phone\""), "Ann&apos;s &quot;phone&quot;");
}
