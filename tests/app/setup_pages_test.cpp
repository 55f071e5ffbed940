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
        if (auto* n = std::get_if<NumberedLines>(&block)) out.insert(out.end(), n->lines.begin(), n->lines.end());
        if (auto* b = std::get_if<Buttons>(&block)) {
            for (const auto& button : b->buttons) out.push_back(button.label);
        }
        if (auto* rows = std::get_if<CheckRows>(&block)) {
            for (const auto& row : rows->rows) {
                out.push_back(row.title);
                out.push_back(row.detail);
                add(row.button);
            }
        }
        if (auto* c = std::get_if<Callout>(&block)) {
            out.push_back(c->text);
            add(c->button);
        }
        if (auto* ai = std::get_if<AIRow>(&block)) {
            out.insert(out.end(), {ai->title, ai->detail, ai->message});
            add(ai->button);
            add(ai->copyButton);
        }
    }
    return out;
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

bool shows(const SetupPage& page, const std::string& text) {
    auto all = texts(page);
    return std::find(all.begin(), all.end(), text) != all.end();
}

std::vector<CheckRow> rows(const SetupPage& page) {
    std::vector<CheckRow> out;
    for (const auto& block : page.blocks) {
        if (auto* r = std::get_if<CheckRows>(&block)) out.insert(out.end(), r->rows.begin(), r->rows.end());
    }
    return out;
}

AppValues otherEngine() {
    AppValues values;
    values.engineUp = true;
    values.engineOwner = "Quintalis Beta";
    values.bluetoothState = "advertising as Desk";
    values.bluetoothPerm = Perm::denied;
    return values;
}

}  // namespace

TEST(SetupPagesTest, ForwardButtonFollowsTheStepAndNavigationStaysInRange) {
    AppValues values;
    values.step = 0;
    EXPECT_FALSE(setupBottomBar(values).shown);
    values.step = 9;
    EXPECT_FALSE(setupBottomBar(values).shown);
    EXPECT_EQ(setupPage(9, values, {}).title, "Let your AI use your iPhone");

    values.step = 4;
    EXPECT_EQ(setupBottomBar(values).forward, "Skip for now");
    EXPECT_FALSE(setupBottomBar(values).forwardPrimary);
    values.assistiveTouchOn = true;
    EXPECT_EQ(setupBottomBar(values).forward, "Continue");
    EXPECT_TRUE(setupBottomBar(values).forwardPrimary);
    values.step = 6;
    EXPECT_EQ(setupBottomBar(values).forward, "Finish");
    EXPECT_TRUE(setupBottomBar(values).finishes);

    EXPECT_EQ(stepBack(1), 0);
    EXPECT_EQ(stepBack(0), 0);
    EXPECT_EQ(stepForward(5), 6);
    EXPECT_EQ(stepForward(6), 6);
    for (int step = 1; step <= kSetupSteps; ++step) {
        auto page = setupPage(step, values, {});
        EXPECT_EQ(page.eyebrow, "Step " + std::to_string(step) + " of 6");
        // The screen page's title is longer than its rail entry.
        if (step != 2) {
            EXPECT_EQ(page.title, setupStepTitles()[step - 1]);
        }
    }
}

// Two buttons drawn as the way on leave the user guessing, and Return can
// press only one: each page has at most one primary button, its own while
// it offers one, else the bar's.
TEST(SetupPagesTest, EachPageHasOnePrimaryButton) {
    AppValues done;
    done.engineUp = true;
    done.bluetoothPerm = Perm::granted;
    done.bluetoothState = "advertising as Desk";
    done.phones = {{"S1", "Ann's iPhone", true, 1179, 2556}};
    done.hosts = {"H1"};
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
}

TEST(SetupPagesTest, RailAndMenuSayWhatTheValuesSay) {
    AppValues values;
    values.step = 3;
    values.assistiveTouchOn = true;
    Rail rail = setupRail(values, "1.4");
    ASSERT_EQ(rail.entries.size(), 6u);
    EXPECT_TRUE(rail.entries[3].done);
    EXPECT_FALSE(rail.entries[0].done);
    EXPECT_TRUE(rail.entries[2].current);
    EXPECT_EQ(rail.status, (std::vector<std::string>{"iPhone not connected", "Screen: not yet",
                                                     "Bluetooth: Quintalis's engine is not running"}));
    EXPECT_EQ(rail.version, "Version 1.4");

    MenuLines menu = menuLines(values, "1.4");
    EXPECT_EQ(menu.status, (std::vector<std::string>{"iPhone not connected", "Screen: not showing",
                                                     "Bluetooth: Quintalis's engine is not running"}));
    EXPECT_EQ(menu.version, "Quintalis 1.4");
    AppValues busy = otherEngine();
    busy.paused = true;
    busy.hosts = {"H"};
    EXPECT_EQ(menuLines(busy, "1.4").status,
              (std::vector<std::string>{"iPhone connected", "Screen: not showing", "Bluetooth: On",
                                        "Control paused \u2014 your AI can look, not tap",
                                        "Using Quintalis Beta for the iPhone"}));

    // A pause the user never chose says why and how to end it.
    busy.pauseProblem = "/home/ann/.config/quintalis/defaults.json can't be read (not valid JSON)";
    auto lines = menuLines(busy, "1.4").status;
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[4], "Paused because /home/ann/.config/quintalis/defaults.json can't be read (not valid JSON)");
    EXPECT_EQ(lines[5], "Untick Pause control to start afresh; the damaged file is kept");
    busy.paused = false;
    EXPECT_EQ(menuLines(busy, "1.4").status.size(), 4u) << "nothing to explain once control runs";
}

TEST(SetupPagesTest, AnotherEngineCountsAsAllowedAndCanBeAskedToQuit) {
    AppValues values = otherEngine();
    SetupContext context;
    auto page = setupPage(1, values, context);
    EXPECT_EQ(rows(page)[0].state, CheckState::done);
    EXPECT_TRUE(shows(page, "\u201cQuintalis Beta\u201d is already running the iPhone connection on this computer, so "
                            "Quintalis is using it."));
    EXPECT_TRUE(shows(page, "Switch to Quintalis"));
    EXPECT_TRUE(shows(setupPage(2, values, context), "Switch to Quintalis"));
    EXPECT_FALSE(shows(setupPage(3, values, context), "Switch to Quintalis"));

    context.switchMessage = "Nothing to quit.";
    page = setupPage(1, values, context);
    EXPECT_TRUE(shows(page, "Nothing to quit."));
    EXPECT_FALSE(shows(page, "Switch to Quintalis"));

    // A program that is no engine on the port is never named as one.
    values.engineOwner = "";
    context.switchMessage.clear();
    page = setupPage(1, values, context);
    EXPECT_TRUE(shows(page, "Another program answers on Quintalis's port, so Quintalis's engine is not running."));
    EXPECT_TRUE(shows(page, "Switch to Quintalis"));
    EXPECT_EQ(rows(page)[0].state, CheckState::problem) << "its word is no permission";
    EXPECT_EQ(rows(page)[1].state, CheckState::waiting);

    // Once its holder is known it is named, with the way out, on the page
    // and in the menu; with nothing to switch.
    const std::string held = "Port 7390 is used by python3 (pid 13419). Quit that program, or start Quintalis "
                             "with QUINTALIS_ENGINE_PORT set to a free port.";
    values.engineUp = false;
    values.portHeld = held;
    page = setupPage(1, values, context);
    EXPECT_TRUE(shows(page, held));
    EXPECT_FALSE(shows(page, "Switch to Quintalis"));
    auto menu = menuLines(values, "1.0").status;
    EXPECT_NE(std::find(menu.begin(), menu.end(), held), menu.end());
    values.portHeld.reset();
    values.engineUp = true;

    values.engineOwner = "Quintalis";
    values.bluetoothState = "off";
    page = setupPage(1, values, context);
    EXPECT_EQ(rows(page)[0].state, CheckState::problem);
    EXPECT_EQ(rows(page)[0].button->action, SetupAction::openBluetoothSettings);
    EXPECT_EQ(rows(page)[1].detail, "Turn Bluetooth on in your desktop's Bluetooth settings.");
}

// Without bluetoothd the page must not claim Bluetooth is allowed and
// starting for ever, nor offer a button that does nothing.
TEST(SetupPagesTest, BluetoothPageLeadsOnFromEveryState) {
    AppValues values;
    values.engineUp = true;
    values.bluetoothPerm = Perm::granted;
    values.bluetoothState = "bluetooth unavailable (2): bluetoothd is not running";
    SetupContext context;
    auto page = setupPage(1, values, context);
    EXPECT_FALSE(buttonFor(page, SetupAction::allowBluetooth)) << "Bluetooth starts by itself once allowed";
    EXPECT_EQ(rows(page)[0].state, CheckState::done);
    EXPECT_EQ(rows(page)[1].state, CheckState::problem);
    EXPECT_EQ(rows(page)[1].detail,
              "bluetoothd is not running. Start the Bluetooth service: sudo systemctl start bluetooth");

    auto menu = menuLines(values, "1.0").status;
    EXPECT_NE(std::find(menu.begin(), menu.end(), "Bluetooth: bluetoothd is not running"), menu.end());
    EXPECT_NE(std::find(menu.begin(), menu.end(), "Start the Bluetooth service: sudo systemctl start bluetooth"),
              menu.end());

    values.bluetoothState = "bluetooth unavailable (2): no Bluetooth adapter";
    EXPECT_EQ(rows(setupPage(1, values, context))[1].detail,
              "No Bluetooth adapter. Plug in a Bluetooth adapter, or unblock it: rfkill unblock bluetooth");

    values.bluetoothState = "bluetooth not allowed (add this user to the bluetooth group)";
    page = setupPage(1, values, context);
    EXPECT_EQ(rows(page)[0].state, CheckState::problem) << "the service's word counts, not only this computer's";
    EXPECT_NE(rows(page)[0].detail.find("sudo adduser $USER bluetooth"), std::string::npos);

    values.bluetoothState = "advertising as Desk";
    values.pairingSeconds = 30;
    page = setupPage(1, values, context);
    EXPECT_EQ(rows(page)[1].state, CheckState::done);
    EXPECT_EQ(rows(page)[1].detail,
              "On the iPhone, open Settings \u203a Bluetooth and tap this computer's name (30 s left).");

    // Where asking can still change something, the button is there.
    values.bluetoothPerm = Perm::notAsked;
    EXPECT_TRUE(buttonFor(setupPage(1, values, context), SetupAction::allowBluetooth));
    // A desktop without Bluetooth settings is said so where the button was.
    SetupContext none;
    none.bluetoothMessage = "No Bluetooth settings were found on this desktop.";
    EXPECT_TRUE(shows(setupPage(1, AppValues{}, none), none.bluetoothMessage));
}

TEST(SetupPagesTest, ScreenPageOffersWhatThisComputerHas) {
    AppValues values;
    SetupContext context;
    context.computerName = "Desk";
    // The cable card says whether capture over USB works on this computer.
    values.cameraPerm = Perm::granted;
    auto cable = setupPage(2, values, context);
    EXPECT_FALSE(shows(cable, "Use AirPlay"));
    ASSERT_EQ(rows(cable).size(), 2u);
    EXPECT_EQ(rows(cable)[0].title, "USB screen capture works here");
    EXPECT_EQ(rows(cable)[0].state, CheckState::done);
    EXPECT_EQ(rows(cable)[1].title, "Looking for your iPhone\u2026");
    values.phones = {{"S1", "Ann's iPhone", false, 1179, 2556}};
    cable = setupPage(2, values, context);
    EXPECT_EQ(rows(cable)[1].title, "Ann's iPhone found");

    values.cameraPerm = Perm::denied;
    values.cameraProblem = "no permission to open the iPhone's USB device: install the udev rule with `sudo quintalis "
                           "install-udev-rule`, then plug the iPhone in again";
    auto refused = rows(setupPage(2, values, context))[0];
    EXPECT_EQ(refused.title, "USB screen capture is not allowed here");
    EXPECT_EQ(refused.state, CheckState::problem);
    EXPECT_EQ(refused.detail, "No permission to open the iPhone's USB device: install the udev rule with `sudo "
                              "quintalis install-udev-rule`, then plug the iPhone in again.");
    EXPECT_EQ(refused.button, (SetupButton{"Use AirPlay", SetupAction::chooseAirPlay}));

    values = {};
    values.linkChoice = AppValues::Link::airplay;
    values.airplayReceiverInstalled = false;
    auto airplay = setupPage(2, values, context);
    EXPECT_TRUE(shows(airplay, "Install the AirPlay receiver UxPlay: **sudo apt install uxplay**"));
    EXPECT_TRUE(shows(airplay, "On the iPhone: **Control Center \u203a Screen Mirroring \u203a Desk**. Same Wi\u2011Fi on "
                               "both."));
    EXPECT_FALSE(shows(airplay, "Start AirPlay receiver"));
    values.airplayReceiverInstalled = true;
    EXPECT_TRUE(shows(setupPage(2, values, context), "Start AirPlay receiver"));
    // Nobody holds the receiver's port until the app has looked.
    const std::string held = "Another program holds the AirPlay receiver's port.";
    EXPECT_EQ(rows(setupPage(2, values, context))[0].detail, "");
    values.airplayReceiverLooked = true;
    EXPECT_EQ(rows(setupPage(2, values, context))[0].detail, held);
    // A receiver that stops says why, on the page and in the menu.
    const std::string why = "UxPlay stopped: exited with status 1: DNS-SD (Avahi) is not available";
    values.receiverProblem = why;
    auto stopped = rows(setupPage(2, values, context))[0];
    EXPECT_EQ(stopped.state, CheckState::problem);
    EXPECT_EQ(stopped.detail, why);
    auto menu = menuLines(values, "1.0").status;
    EXPECT_NE(std::find(menu.begin(), menu.end(), why), menu.end());
    values.receiverProblem.reset();
    values.airplayReceiverOn = true;
    values.screenPerm = Perm::granted;
    values.airplayWindow = "UxPlay";
    airplay = setupPage(2, values, context);
    EXPECT_FALSE(shows(airplay, "Start AirPlay receiver"));
    auto checks = rows(airplay);
    ASSERT_EQ(checks.size(), 3u);
    EXPECT_EQ(checks[0].title, "AirPlay receiver is running");
    EXPECT_EQ(checks[1].title, "Screen capture available");
    EXPECT_EQ(checks[2].title, "Your iPhone's screen is showing");
    for (const auto& row : checks) EXPECT_EQ(row.state, CheckState::done);

    // The capture service says why windows cannot be captured, and so does the row.
    values.screenPerm = Perm::notAsked;
    values.screenRefusal = "Screen capture isn't available to Quintalis: capturing a window needs XWayland";
    EXPECT_EQ(rows(setupPage(2, values, context))[1].detail, values.screenRefusal);
}

TEST(SetupPagesTest, PairingAndAssistiveTouchRows) {
    AppValues values;
    values.bluetoothState = "advertising as Desk PC";
    auto page = setupPage(3, values, {});
    EXPECT_TRUE(shows(page, "Under **Other Devices**, tap **Desk PC**."));
    EXPECT_EQ(rows(page).size(), 1u);
    values.phones = {{"S1", "Ann's iPhone", false, 1179, 2556}};
    values.hosts = {"H1"};
    page = setupPage(3, values, {});
    ASSERT_EQ(rows(page).size(), 2u);
    EXPECT_EQ(rows(page)[0].title, "Connected");
    EXPECT_EQ(rows(page)[1].title, "Matching Bluetooth to the screen");
    values.phones[0].bluetooth = true;
    EXPECT_EQ(rows(setupPage(3, values, {}))[1].title, "Matched to the screen");

    // Pairing waits for the user's click; the phone then lists the computer by the adapter's alias.
    SetupContext context;
    EXPECT_TRUE(shows(setupPage(3, values, context), "Let the iPhone pair"));
    EXPECT_TRUE(shows(setupPage(3, values, context),
                      "Once paired, it is listed under My Devices with this computer's name: its Bluetooth name, not "
                      "Desk PC. Listed there but Not Connected? Tap \u24d8 \u203a Forget This Device and pair again."));
    context.bluetoothAlias = "ann-laptop";
    context.pairingMessage = "Pairing is open for 120 seconds: tap Desk PC on the iPhone now.";
    page = setupPage(3, values, context);
    EXPECT_TRUE(shows(page, context.pairingMessage));
    EXPECT_TRUE(shows(page, "Once paired, it is listed under My Devices with this computer's name: its Bluetooth name, "
                            "\u201cann-laptop\u201d, not Desk PC. Listed there but Not Connected? Tap \u24d8 \u203a "
                            "Forget This Device and pair again."));

    auto touch = rows(setupPage(4, values, {}));
    EXPECT_EQ(touch[0].clickAction, SetupAction::confirmAssistiveTouch);
    EXPECT_EQ(touch[0].state, CheckState::waiting);
}

TEST(SetupPagesTest, AIRowsAndTheLookShowWhatTheirButtonsDid) {
    AppValues values;
    SetupContext context;
    context.installed = false;
    auto page = setupPage(5, values, context);
    EXPECT_TRUE(shows(page, "Tip: install Quintalis for this user first, so this link keeps working."));
    EXPECT_TRUE(shows(page, "Copy command"));
    EXPECT_FALSE(shows(page, "Add to Claude Code"));
    context.copiedClaudeCommand = true;
    context.copiedCodex = true;
    page = setupPage(5, values, context);
    EXPECT_TRUE(shows(page, "Copied. Paste it into a terminal and press Return."));
    EXPECT_TRUE(shows(page, "Copied"));
    values.claudePath = "/usr/bin/claude";
    values.claudeCodeAdded = true;
    context.claudeCodeMessage = "Added to Claude Code.";
    page = setupPage(5, values, context);
    EXPECT_TRUE(shows(page, "Add again"));
    EXPECT_TRUE(shows(page, "Added to Claude Code."));

    // A settings file that could not be merged leaves the entry to paste, with a Copy button.
    EXPECT_FALSE(buttonFor(page, SetupAction::copyClaudeDesktop));
    context.claudeDesktopSnippet = "\"quintalis\": {}";
    page = setupPage(5, values, context);
    EXPECT_EQ(buttonFor(page, SetupAction::copyClaudeDesktop)->label, "Copy");
    EXPECT_TRUE(std::any_of(page.blocks.begin(), page.blocks.end(), [](const PageBlock& block) {
        auto* row = std::get_if<AIRow>(&block);
        return row && row->title == "Claude Desktop" && row->snippet == "\"quintalis\": {}";
    }));
    context.copiedClaudeDesktop = true;
    EXPECT_EQ(buttonFor(setupPage(5, values, context), SetupAction::copyClaudeDesktop)->label, "Copied");

    EXPECT_TRUE(shows(setupPage(6, values, context), "Take a look"));
    // The look tries the other source when the chosen one gives nothing: it says which answered.
    for (const auto& [source, caption] : std::vector<std::pair<std::string, std::string>>{
             {"USB cable", "From the USB cable, 1179\u00d72556 pixels"}, {"AirPlay", "Over AirPlay, 1179\u00d72556 pixels"}}) {
        SetupContext looked;
        looked.look = TryIt::Result{nullptr, source, {"Settings"}, "1179\u00d72556"};
        auto result = setupPage(6, values, looked);
        auto found = std::find_if(result.blocks.begin(), result.blocks.end(),
                                  [](const PageBlock& block) { return std::holds_alternative<LookResult>(block); });
        ASSERT_NE(found, result.blocks.end());
        EXPECT_EQ(std::get<LookResult>(*found).caption, caption);
    }
    context.lookError = "No picture yet.";
    page = setupPage(6, values, context);
    EXPECT_TRUE(shows(page, "Look again"));
    EXPECT_EQ(rows(page)[0].state, CheckState::problem);
    context.looking = true;
    EXPECT_TRUE(shows(setupPage(6, values, context), "Looking\u2026"));
}

// Without a tray the icon's menu cannot be reached: the last page says so
// and offers its Pause and Quit.
TEST(SetupPagesTest, WithoutATrayTheLastPageOffersPauseAndQuit) {
    AppValues values;
    SetupContext context;
    EXPECT_FALSE(buttonFor(setupPage(6, values, context), SetupAction::quit));
    EXPECT_TRUE(shows(setupPage(0, values, context),
                      "About five minutes. You can pause control from the tray menu at any time."));
    context.statusIconShown = false;
    auto page = setupPage(6, values, context);
    EXPECT_EQ(buttonFor(page, SetupAction::togglePause)->label, "Pause control");
    EXPECT_EQ(buttonFor(page, SetupAction::quit)->label, "Quit Quintalis");
    EXPECT_TRUE(std::any_of(page.blocks.begin(), page.blocks.end(), [](const PageBlock& block) {
        auto* notice = std::get_if<Callout>(&block);
        return notice && notice->title == "No tray icon on this desktop";
    }));
    values.paused = true;
    EXPECT_EQ(buttonFor(setupPage(6, values, context), SetupAction::togglePause)->label, "Resume control");
    EXPECT_TRUE(shows(setupPage(0, values, context),
                      "About five minutes. You can pause control on the last page at any time."));
}

TEST(SetupPagesTest, ALongActionRunsOnceAndItsButtonSaysSoUntilTheAnswer) {
    const AppValues values = [] {
        AppValues made;
        made.claudePath = "/usr/bin/claude";
        return made;
    }();
    SetupContext context;
    context.installed = false;
    const std::tuple<int, SetupAction, const char*, const char*> cases[] = {
        {0, SetupAction::install, "Install for this user", "Installing\u2026"},
        {5, SetupAction::addClaudeCode, "Add to Claude Code", "Adding\u2026"},
        {5, SetupAction::addClaudeDesktop, "Add to Claude Desktop", "Adding\u2026"},
    };
    for (const auto& [step, action, idle, busy] : cases) {
        EXPECT_EQ(buttonFor(setupPage(step, values, context), action), (SetupButton{idle, action})) << idle;
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
    EXPECT_EQ(setupWindowSize(1280, 720 - 27), (WindowSize{kSetupWidth, 680}));
    EXPECT_EQ(setupWindowSize(0, 0), (WindowSize{kSetupMinWidth, kSetupMinHeight})) << "an unknown area";
    // The least size itself fits there.
    EXPECT_LE(kSetupMinWidth, 960);
    EXPECT_LE(kSetupMinHeight, 508);
}

TEST(SetupPagesTest, BoldMarksBecomeMarkupAndNothingElseDoes) {
    EXPECT_EQ(boldMarkup("Tap **Trust** & <go>"), "Tap <b>Trust</b> &amp; &lt;go&gt;");
    EXPECT_EQ(boldMarkup("a ** b"), "a ** b");
    EXPECT_EQ(boldMarkup("**x** and **y**"), "<b>x</b> and <b>y</b>");
    EXPECT_EQ(boldMarkup("Ann's \"phone\""), "Ann&apos;s &quot;phone&quot;");
}
