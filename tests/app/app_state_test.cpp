#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <thread>
#include <map>

#include "app/model/app_state.h"
#include "platform/linux/posix_child_processes.h"
#include "support/fake_capture_devices.h"
#include "support/fake_clock.h"
#include "support/fake_desktop.h"
#include "support/fake_peripheral.h"
#include "support/fake_receiver_process.h"
#include "support/fake_windows.h"
#include "support/log_capture.h"
#include "support/manual_main_thread.h"
#include "support/stub_service.h"
#include "support/temp_dir.h"

using namespace quintalis;
using namespace quintalis::testing;
using Perm = AppValues::Perm;
using Link = AppValues::Link;

namespace {

constexpr const char* kFullStatus = R"({
    "app": "Quintalis", "version": "dev", "paused": false, "bluetooth": "1 connected, advertising as Desk",
    "devices": [{"id": "S1", "name": "Ann's iPhone", "bluetooth": true, "width": 1179, "height": 2556}],
    "hosts": ["H1"], "unmatchedHosts": []})";

void write(const std::filesystem::path& file, const std::string& text) {
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file) << text;
}

class AppStateTest : public ::testing::Test {
protected:
    AppStateTest() {
        host.home = home.path();
        host.variables["SHELL"] = "/bin/false";
        engineService.answerJSON(kFullStatus);
        airplayService.answerJSON(R"({"ok": true, "permission": false, "candidates": []})");
    }

    AppState& state() {
        if (!state_) {
            state_ = std::make_unique<AppState>(AppState::Collaborators{
                engine, defaults, {radio, cameras, windows}, ai, login, receiver, main});
            state_->addObserver([this] { ++told; });
        }
        return *state_;
    }
    const AppValues& values() { return state().values(); }

    // One refresh, run until everything it started has been published.
    void refresh() {
        bool done = false;
        state().refresh([&done] { done = true; });
        ASSERT_TRUE(main.runUntil([&done] { return done; }));
    }

    TempDir home;
    StubbedServices services;
    FakeHostEnvironment& host = services.host;
    MemoryDefaults& defaults = services.defaults;
    Engine& engine = services.engine;
    StubService& engineService = services.engineService;
    StubService& airplayService = services.airplayService;
    FakePeripheralRole radio;
    FakeCaptureDevices cameras;
    FakeWindowServer windows;
    PosixChildProcesses processes;
    FakeClock clock;
    // Registrations count when they start this copy, which must exist.
    AIConnect ai{host, processes, clock, [] { return std::filesystem::path("/bin/true"); }};
    FakeLaunchAtLogin login;
    FakeAirPlayReceiver receiver;
    ManualMainThread main;
    int told = 0;
    std::unique_ptr<AppState> state_;
};

TEST_F(AppStateTest, FollowsTheEngineAndFallsBackToAnAbsentOne) {
    refresh();
    EXPECT_TRUE(values().engineUp);
    EXPECT_EQ(values().engineOwner, "Quintalis");
    EXPECT_EQ(values().bluetoothState, "1 connected, advertising as Desk");
    ASSERT_EQ(values().phones.size(), 1u);
    EXPECT_EQ(values().phones[0], (AppValues::Phone{"S1", "Ann's iPhone", true, 1179, 2556}));
    EXPECT_EQ(values().hosts, std::vector<std::string>{"H1"});
    EXPECT_EQ(engineService.requests().back().path, "/status");
    int toldOnce = told;
    refresh();
    EXPECT_EQ(told, toldOnce) << "nothing changed, nobody told";

    // Whatever is not a JSON object is no engine, and nothing the engine
    // said before outlives it.
    for (const char* body : {"<html><body>It works</body></html>", "[1, 2]", ""}) {
        engineService.answerJSON(kFullStatus);
        refresh();
        ASSERT_EQ(values().bluetoothSummary(), "On");
        engineService.answerJSON(body);
        refresh();
        EXPECT_FALSE(values().engineUp) << body;
        EXPECT_TRUE(values().phones.empty()) << body;
        EXPECT_TRUE(values().hosts.empty()) << body;
        EXPECT_EQ(values().bluetoothState, "starting") << body;
        EXPECT_FALSE(values().bluetoothReady()) << body;
        EXPECT_EQ(values().bluetoothSummary(), "Quintalis's engine is not running") << body;
    }

    // An object without "app" comes from a program that is no engine, even
    // one that speaks of Bluetooth: nobody's phones, no other engine.
    engineService.answerJSON(R"({"bluetooth": "advertising as Desk", "devices": [{"id": "S1"}], "hosts": ["H1"]})",
                             503);
    refresh();
    EXPECT_TRUE(values().engineUp) << "something answers there";
    EXPECT_EQ(values().engineOwner, "");
    EXPECT_TRUE(values().portTaken());
    EXPECT_FALSE(values().usingOtherEngine());
    EXPECT_TRUE(values().phones.empty());
    EXPECT_TRUE(values().hosts.empty());
    EXPECT_EQ(values().bluetoothState, "starting");
    EXPECT_EQ(values().bluetoothSummary(), "Quintalis's engine is not running");

    engineService.answerJSON(R"({"app": "Skiffline", "bluetooth": "advertising as Desk"})");
    refresh();
    EXPECT_TRUE(values().usingOtherEngine()) << "an engine that names itself";

    services.takeDown("QUINTALIS_ENGINE_URL");
    radio.allowed = BluetoothAuthorization::notDetermined;
    refresh();
    EXPECT_FALSE(values().engineUp);
    EXPECT_EQ(values().engineOwner, "Quintalis") << "nobody's, as before the first answer";
    EXPECT_FALSE(values().usingOtherEngine());
    EXPECT_EQ(values().bluetoothSummary(), "Quintalis's engine is not running");
    radio.allowed = BluetoothAuthorization::denied;
    refresh();
    EXPECT_EQ(values().bluetoothSummary(), "Not allowed") << "what this computer says still counts";
}

// The programs of this user that listen on a port, as the test says.
class FakeRunningPrograms final : public RunningPrograms {
public:
    std::map<uint16_t, RunningProgram> listeners;

    std::vector<RunningProgram> listeningOn(const std::vector<uint16_t>& ports) override {
        std::vector<RunningProgram> found;
        for (auto port : ports) {
            if (listeners.count(port)) found.push_back(listeners[port]);
        }
        return found;
    }
    bool isRunning(const RunningProgram&) override { return true; }
    void terminate(const RunningProgram&, bool) override { ADD_FAILURE() << "polls end nothing"; }
};

TEST_F(AppStateTest, TakesThePortBackWhenItsHolderGoesAndNamesAStrangerThatKeepsIt) {
    FakeRunningPrograms programs;
    // The engine this app relied on (another copy of Quintalis), then
    // programs that are no engine: one answering JSON, one a web page.
    for (const char* holderSays : {R"({"app": "Quintalis", "bluetooth": "advertising as Desk"})", R"({"hello": 1})",
                                   "<html><body>It works</body></html>"}) {
        SCOPED_TRACE(holderSays);
        bool isEngine = std::string(holderSays).find("app") != std::string::npos;
        auto holder = std::make_unique<StubService>();
        holder->answerJSON(holderSays);
        programs.listeners[holder->port()] = {13419, "python3", "/usr/bin/python3"};
        FakeHostEnvironment portHost;
        portHost.variables["QUINTALIS_ENGINE_PORT"] = std::to_string(holder->port());
        Engine own{portHost, defaults, services.info, answeringAtOnce([](const HTTPRequest&) {
                       return HTTPResponse::json(JSON{{"bluetooth", "advertising as Desk"}});
                   })};
        own.start();
        ASSERT_NE(own.mode(), Engine::Mode::own());
        AppState app({own, defaults, {radio, cameras, windows}, ai, login, receiver, main, &programs});
        auto poll = [&] {
            bool done = false;
            app.refresh([&done] { done = true; });
            ASSERT_TRUE(main.runUntil([&done] { return done; }));
        };

        poll();
        poll();  // however often it asks, the port stays the holder's
        EXPECT_NE(own.mode(), Engine::Mode::own());
        std::string named = "Port " + std::to_string(holder->port()) +
                            " is used by python3 (pid 13419). Quit that program, or start Quintalis with "
                            "QUINTALIS_ENGINE_PORT set to a free port.";
        if (isEngine) {
            EXPECT_EQ(app.values().engineOwner, "Quintalis");
            EXPECT_FALSE(app.values().portHeld) << "an engine to use, not a stranger";
        } else {
            EXPECT_EQ(app.values().portHeld, named);
            EXPECT_TRUE(app.values().portTaken());
        }

        holder.reset();
        poll();
        EXPECT_EQ(own.mode(), Engine::Mode::own()) << "taken back at the first poll nobody answers";
        EXPECT_FALSE(app.values().portHeld);
        poll();
        EXPECT_TRUE(app.values().engineUp);
        EXPECT_EQ(app.values().engineOwner, "Quintalis");
        EXPECT_EQ(app.values().bluetoothSummary(), "On");
    }
}

TEST_F(AppStateTest, AnEngineThatNeverAnswersIsDown) {
    refresh();
    ASSERT_TRUE(values().engineUp);
    engineService.holdAnswers();
    refresh();  // gives up after its 1.5 s
    EXPECT_FALSE(values().engineUp);
    engineService.releaseAnswers();
}

TEST_F(AppStateTest, TakesThePauseOfThisEngineOnly) {
    engineService.answerJSON(R"({"app": "Skiffline", "paused": true})");
    refresh();
    EXPECT_FALSE(values().paused) << "another product's pause is its own";
    EXPECT_FALSE(engine.paused());

    engineService.answerJSON(R"({"app": "Quintalis", "paused": true})");
    refresh();
    EXPECT_TRUE(values().paused) << "paused through the engine's API";

    state().setPaused(false);
    EXPECT_FALSE(engine.paused()) << "the menu's toggle pauses this engine";
    EXPECT_FALSE(values().paused);
}

TEST_F(AppStateTest, APollNeverWritesAPauseOverTheUsersUntick) {
    // Preferences that cannot be read pause the engine, which says so.
    defaults.setUnreadable("/home/ann/.config/quintalis/defaults.json can't be read (not valid JSON)");
    engineService.answerJSON(R"({"app": "Quintalis", "paused": true})");
    EXPECT_TRUE(values().paused);
    EXPECT_EQ(values().pauseProblem, "/home/ann/.config/quintalis/defaults.json can't be read (not valid JSON)");
    refresh();
    EXPECT_TRUE(values().paused);
    EXPECT_EQ(defaults.boolValue("paused"), std::nullopt) << "shown, never stored";

    // The user unticks while a poll is on its way: its old answer changes nothing.
    defaults.setUnreadable(std::nullopt);
    bool done = false;
    state().refresh([&done] { done = true; });
    state().setPaused(false);
    ASSERT_TRUE(main.runUntil([&done] { return done; }));
    EXPECT_FALSE(values().paused);
    EXPECT_EQ(values().pauseProblem, std::nullopt) << "the file reads again";
    EXPECT_EQ(defaults.boolValue("paused"), false);

    engineService.answerJSON(R"({"app": "Quintalis", "paused": false})");
    for (int poll = 0; poll < 3; ++poll) refresh();
    EXPECT_FALSE(values().paused);
    EXPECT_EQ(defaults.boolValue("paused"), false);
}

TEST_F(AppStateTest, AsksTheAirPlayServiceOnlyWhenItMatters) {
    windows.setUnavailable("no display");
    refresh();  // a cable phone, the cable chosen
    EXPECT_TRUE(airplayService.requests().empty());

    airplayService.answerJSON(
        R"({"ok": true, "permission": true, "candidates": [{}, {}, {}], "window": {"owner": "UxPlay"}})");
    state().setLinkChoice(Link::airplay);
    refresh();
    ASSERT_EQ(airplayService.requests().size(), 1u);
    EXPECT_EQ(airplayService.requests()[0].path, "/status");
    EXPECT_TRUE(values().airplayUp);
    EXPECT_EQ(values().airplayCandidates, 3);
    EXPECT_EQ(values().airplayWindow, "UxPlay");
    EXPECT_EQ(values().screenPerm, Perm::granted) << "the service's capture counts for the app";

    services.takeDown("QUINTALIS_AIRPLAY_URL");
    refresh();
    EXPECT_FALSE(values().airplayUp);
    EXPECT_EQ(values().airplayWindow, std::nullopt);
    EXPECT_EQ(values().airplayCandidates, 3) << "kept from the last answer";

    // Back on the cable, with no phone on it but windows that can be captured.
    host.variables["QUINTALIS_AIRPLAY_URL"] = airplayService.url();
    state().setLinkChoice(Link::cable);
    engineService.answerJSON(R"({"app": "Quintalis", "devices": []})");
    windows.setUnavailable(std::nullopt);
    refresh();
    EXPECT_EQ(airplayService.requests().size(), 2u);
    EXPECT_EQ(values().airplayWindow, "UxPlay");
}

TEST_F(AppStateTest, ReadsPermissionsOnEveryRefresh) {
    radio.allowed = BluetoothAuthorization::restricted;
    cameras.status = CaptureAuthorization::notDetermined;
    windows.setUnavailable("DISPLAY is not set");
    refresh();
    EXPECT_EQ(values().bluetoothPerm, Perm::denied);
    EXPECT_EQ(values().cameraPerm, Perm::notAsked);
    EXPECT_EQ(values().screenPerm, Perm::notAsked);

    radio.allowed = BluetoothAuthorization::allowedAlways;
    cameras.status = CaptureAuthorization::denied;
    cameras.reason = "no permission to open the iPhone's USB device";
    windows.setUnavailable(std::nullopt);
    refresh();
    EXPECT_EQ(values().bluetoothPerm, Perm::granted);
    EXPECT_EQ(values().cameraPerm, Perm::denied);
    EXPECT_EQ(values().cameraProblem, "no permission to open the iPhone's USB device");
    EXPECT_EQ(values().screenPerm, Perm::granted);
}

// Until the user picks a link, the one that can work here is shown: where
// USB capture is refused and windows can be captured, that is AirPlay. A
// pick is kept whatever this computer allows.
TEST_F(AppStateTest, TheLinkFollowsWhatWorksHereUntilTheUserPicksOne) {
    cameras.status = CaptureAuthorization::authorized;
    refresh();
    EXPECT_EQ(values().linkChoice, Link::cable);
    cameras.status = CaptureAuthorization::denied;
    windows.setUnavailable("no display");
    refresh();
    EXPECT_EQ(values().linkChoice, Link::cable) << "AirPlay's windows cannot be captured either";
    windows.setUnavailable(std::nullopt);
    refresh();
    EXPECT_EQ(values().linkChoice, Link::airplay);
    EXPECT_EQ(defaults.stringValue("link"), std::nullopt) << "not the user's pick";

    state().setLinkChoice(Link::cable);
    refresh();
    EXPECT_EQ(values().linkChoice, Link::cable);
    // A new run reads the pick back.
    state_.reset();
    refresh();
    EXPECT_EQ(values().linkChoice, Link::cable);
}

TEST_F(AppStateTest, ChecksRegistrationsAndTheReceiverOnEveryFourthRefresh) {
    write(home.path() / ".claude.json", R"({"mcpServers": {"quintalis": {"command": "/bin/true"}}})");
    write(home.path() / ".codex/config.toml", "[mcp_servers.quintalis]\ncommand = \"/bin/true\"\n");
    receiver.on = true;
    login.enabled = true;
    state().setLinkChoice(Link::airplay);
    EXPECT_FALSE(values().airplayReceiverLooked);
    refresh();
    EXPECT_TRUE(values().airplayReceiverLooked);
    EXPECT_TRUE(values().claudeCodeAdded);
    EXPECT_FALSE(values().claudeDesktopAdded);
    EXPECT_TRUE(values().codexAdded);
    EXPECT_TRUE(values().aiConnected());
    EXPECT_TRUE(values().launchAtLogin);
    EXPECT_EQ(values().airplayReceiverOn, true);

    std::filesystem::remove(home.path() / ".claude.json");
    receiver.on = std::nullopt;
    login.enabled = false;
    for (int tick = 2; tick <= 4; ++tick) {
        refresh();
        EXPECT_TRUE(values().claudeCodeAdded) << tick;
        EXPECT_EQ(values().airplayReceiverOn, true) << tick;
    }
    EXPECT_EQ(receiver.asked, 1);
    refresh();
    EXPECT_EQ(state().tick(), 5);
    EXPECT_FALSE(values().claudeCodeAdded);
    EXPECT_FALSE(values().launchAtLogin);
    EXPECT_EQ(values().airplayReceiverOn, std::nullopt);

    state().setLinkChoice(Link::cable);
    for (int tick = 6; tick <= 9; ++tick) refresh();
    EXPECT_EQ(receiver.asked, 2) << "the receiver matters only for AirPlay";
}

TEST_F(AppStateTest, KeepsWhatTheUserSetAcrossLaunches) {
    state().setLinkChoice(Link::airplay);
    state().setAssistiveTouchOn(true);
    state().setStep(4);
    state().setSetupDone(true);
    EXPECT_EQ(defaults.stringValue("link"), "airplay");
    EXPECT_EQ(told, 4);
    state().setStep(4);
    EXPECT_EQ(told, 4) << "the same value again changes nothing";

    AppState relaunched({engine, defaults, {radio, cameras, windows}, ai, login, receiver, main});
    EXPECT_EQ(relaunched.values().linkChoice, Link::airplay);
    EXPECT_TRUE(relaunched.values().assistiveTouchOn);
    EXPECT_EQ(relaunched.values().step, 4);
    EXPECT_TRUE(relaunched.values().setupDone);

    defaults.setString("link", "usb");
    AppState unknownLink({engine, defaults, {radio, cameras, windows}, ai, login, receiver, main});
    EXPECT_EQ(unknownLink.values().linkChoice, Link::cable);
}

TEST_F(AppStateTest, LaunchAtLoginShowsWhatTheDesktopSays) {
    LogCapture logged;
    state().setLaunchAtLogin(true);
    EXPECT_TRUE(values().launchAtLogin);
    login.failure = "Permission denied";
    state().setLaunchAtLogin(false);
    EXPECT_TRUE(values().launchAtLogin);
    EXPECT_TRUE(logged.contains("launch at login: Permission denied"));
}

TEST_F(AppStateTest, PollsOnATimer) {
    state().startPolling();
    state().startPolling();
    EXPECT_EQ(state().tick(), 1);
    ASSERT_EQ(main.delays(), std::vector<Duration>{AppState::kPollInterval});
    ASSERT_TRUE(main.runUntil([this] { return values().engineUp; }));
    main.fireTimers();
    EXPECT_EQ(state().tick(), 2);
    EXPECT_EQ(main.delays().size(), 1u) << "each tick sets the next";
    ASSERT_TRUE(main.runUntil([this] { return engineService.requests().size() == 2; }));
}

// Claude installed or removed while the app runs, and a CODEX_HOME that
// only the login shell's profile sets, are seen with the registrations.
TEST_F(AppStateTest, LooksForClaudeAndCodexsFolderAgain) {
    const auto codexHome = home.path() / "codex-home";
    auto shell = home.path() / "login-shell";
    write(shell, "#!/bin/sh\n[ \"$2\" = 'command -v claude' ] && exit 1\nprintf %s '" + codexHome.string() + "'\n");
    std::filesystem::permissions(shell, std::filesystem::perms(0755));
    host.variables["SHELL"] = shell.string();
    write(codexHome / "config.toml", "[mcp_servers.quintalis]\ncommand = \"/bin/true\"\n");
    refresh();
    EXPECT_EQ(values().claudePath, std::nullopt);
    EXPECT_TRUE(values().codexAdded);
    EXPECT_EQ(values().codexConfig, (codexHome / "config.toml").string());

    const auto claude = home.path() / ".local/bin/claude";
    write(claude, "#!/bin/sh\n");
    std::filesystem::permissions(claude, std::filesystem::perms(0755));
    for (int tick = 2; tick <= 5; ++tick) refresh();
    EXPECT_EQ(values().claudePath, claude.string());
    std::filesystem::remove(claude);
    for (int tick = 6; tick <= 9; ++tick) refresh();
    EXPECT_EQ(values().claudePath, std::nullopt);
}

// After a restart or a login the receiver runs without the wizard, and a
// receiver that stops, or appears, is seen at the next refresh.
TEST_F(AppStateTest, KeepsTheAirPlayReceiverFromLaunchWhileAirPlayIsTheLink) {
    FakeReceiverProcess uxplay;
    uxplay.present = false;
    ReceiverKeeper keeper{uxplay, clock, "Desk"};
    defaults.setString("link", "airplay");
    AppState app({engine, defaults, {radio, cameras, windows}, ai, login, receiver, main, nullptr, &keeper});
    app.startPolling();
    EXPECT_FALSE(app.values().airplayReceiverInstalled);
    EXPECT_EQ(app.values().receiverProblem, "UxPlay is not installed. Install it with: sudo apt install uxplay");

    uxplay.present = true;  // installed while the app runs
    main.fireTimers();
    EXPECT_TRUE(app.values().airplayReceiverInstalled);
    EXPECT_EQ(uxplay.starts, 1);
    EXPECT_EQ(app.values().receiverProblem, std::nullopt);

    const std::string why = "exited with status 1: DNS-SD (Avahi) is not available";
    uxplay.exits.push_back(why);
    app.refresh();
    EXPECT_EQ(app.values().receiverProblem, "UxPlay stopped: " + why);

    app.setLinkChoice(Link::cable);
    clock.advance(ReceiverKeeper::kFirstWait);
    app.refresh();
    EXPECT_EQ(uxplay.starts, 1) << "a cable needs no receiver";
    EXPECT_EQ(app.values().receiverProblem, std::nullopt);
}

TEST_F(AppStateTest, OverlappingPollsShareOneRequest) {
    engineService.holdAnswers();
    bool firstDone = false;
    bool secondDone = false;
    state().refresh([&] { firstDone = true; });
    ASSERT_TRUE(main.runUntil([this] { return engineService.requests().size() == 1; }));
    state().refresh([&] { secondDone = true; });
    main.runPending();
    EXPECT_TRUE(secondDone) << "it started nothing of its own to wait for";
    engineService.releaseAnswers();
    ASSERT_TRUE(main.runUntil([&] { return firstDone; }));
    EXPECT_EQ(engineService.requests().size(), 1u);
    EXPECT_TRUE(values().engineUp);
}

TEST_F(AppStateTest, DemoShowsMadeUpValuesAndNeverPolls) {
    AppValues shown;
    shown.engineUp = true;
    shown.bluetoothState = "advertising as Studio";
    shown.step = 3;
    TryIt::Result look{std::make_shared<PixelBuffer>(2, 2), "AirPlay", {"Messages"}, "2\u00D72"};
    state().showDemo(shown, look);
    EXPECT_EQ(values(), shown);
    EXPECT_EQ(state().demoTryIt(), look);
    state().startPolling();
    refresh();
    EXPECT_EQ(state().tick(), 0);
    EXPECT_TRUE(main.delays().empty());
    EXPECT_TRUE(engineService.requests().empty());
    EXPECT_EQ(values(), shown);
}

// The setup window's blocking clicks share the model's queue: their work
// runs off the main thread, their outcome on it, and never once the model
// (and with it the window) has gone. The model itself is main-thread only.
TEST_F(AppStateTest, BlockingWorkReturnsToTheMainThreadOnlyWhileTheModelLives) {
    const auto mainThread = std::this_thread::get_id();
    std::thread::id workedOn;
    std::atomic<bool> worked = false;
    bool applied = false;
    state().runBlocking([&]() -> Task {
        workedOn = std::this_thread::get_id();
        worked = true;
        return [&] { applied = std::this_thread::get_id() == mainThread; };
    });
    ASSERT_TRUE(main.runUntil([&] { return applied; }));
    EXPECT_NE(workedOn, mainThread);

    applied = false;
    worked = false;
    state().runBlocking([&]() -> Task {
        worked = true;
        return [&] { applied = true; };
    });
    state_.reset();  // waits for the queue, so the outcome is already posted
    EXPECT_TRUE(worked);
    main.runPending();
    EXPECT_FALSE(applied);

#ifndef NDEBUG
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    AppState& model = state();
    EXPECT_DEATH(std::thread([&model] { model.setStep(2); }).join(), "ran off its queue main");
#endif
}

}  // namespace
