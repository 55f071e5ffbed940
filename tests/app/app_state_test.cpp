#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <thread>

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

void write(const std::filesystem::path& file, const std::string& text, bool executable = false) {
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file) << text;
    if (executable) std::filesystem::permissions(file, std::filesystem::perms(0755));
}

// One program of this user, as the test names it, listens on every port asked of.
class FakeRunningPrograms final : public RunningPrograms {
public:
    std::vector<RunningProgram> listeningOn(const std::vector<uint16_t>&) override {
        return {{13419, "python3", "/usr/bin/python3"}};
    }
    bool isRunning(const RunningProgram&) override { return true; }
    void terminate(const RunningProgram&, bool) override { ADD_FAILURE() << "polls end nothing"; }
};

class AppStateTest : public ::testing::Test, protected StubbedServices {
protected:
    AppStateTest() {
        host.home = home.path();
        host.variables["SHELL"] = "/bin/false";
        engineService.answerJSON(kFullStatus);
        airplayService.answerJSON(R"({"ok": true, "permission": false, "candidates": []})");
    }

    AppState::Collaborators with(Engine& own, RunningPrograms* programs = nullptr, ReceiverKeeper* keeper = nullptr) {
        return {own, defaults, {radio, cameras, windows}, ai, login, receiver, main, programs, keeper};
    }
    AppState& state() {
        if (!state_) {
            state_ = std::make_unique<AppState>(with(engine));
            state_->addObserver([this] { ++told; });
        }
        return *state_;
    }
    const AppValues& values() { return state().values(); }

    // One refresh, run until everything it started has been published.
    void refresh(AppState* app = nullptr) {
        bool done = false;
        (app ? *app : state()).refresh([&done] { done = true; });
        ASSERT_TRUE(main.runUntil([&done] { return done; }));
    }

    TempDir home;
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

TEST_F(AppStateTest, FollowsTheEngineAndForgetsAllItSaidOnceItIsGone) {
    refresh();
    EXPECT_TRUE(values().engineUp);
    EXPECT_EQ(values().phones, std::vector<AppValues::Phone>({{"S1", "Ann's iPhone", true, 1179, 2556}}));
    EXPECT_EQ(values().hosts, std::vector<std::string>{"H1"});
    int toldOnce = told;
    refresh();
    EXPECT_EQ(told, toldOnce) << "nothing changed, nobody told";

    // Whatever is not a JSON object is no engine; an object without "app"
    // comes from a program that is no engine, even one that speaks of
    // Bluetooth. Nothing of the engine before outlives either.
    for (const char* body : {"<html><body>It works</body></html>", "[1, 2]",
                             R"({"bluetooth": "advertising as Desk", "devices": [{"id": "S1"}], "hosts": ["H1"]})"}) {
        engineService.answerJSON(kFullStatus);
        refresh();
        ASSERT_TRUE(values().bluetoothReady());
        engineService.answerJSON(body, 503);
        refresh();
        EXPECT_TRUE(values().phones.empty()) << body;
        EXPECT_TRUE(values().hosts.empty()) << body;
        EXPECT_EQ(values().bluetoothState, "starting") << body;
        EXPECT_FALSE(values().usingOtherEngine()) << body;
    }
    EXPECT_TRUE(values().portTaken()) << "something answers there";

    engineService.answerJSON(R"({"app": "Skiffline", "bluetooth": "advertising as Desk"})");
    refresh();
    EXPECT_TRUE(values().usingOtherEngine());

    takeDown("QUINTALIS_ENGINE_URL");
    radio.allowed = BluetoothAuthorization::denied;
    refresh();
    EXPECT_FALSE(values().engineUp);
    EXPECT_FALSE(values().usingOtherEngine());
    EXPECT_EQ(values().bluetoothSummary(), "Not allowed") << "what this computer says still counts";
}

TEST_F(AppStateTest, TakesThePortBackWhenItsHolderGoesAndNamesAStrangerThatKeepsIt) {
    FakeRunningPrograms programs;
    // Another copy of Quintalis this app relied on, then a program that is no engine.
    for (bool isEngine : {true, false}) {
        SCOPED_TRACE(isEngine);
        auto holder = std::make_unique<StubService>();
        holder->answerJSON(isEngine ? R"({"app": "Quintalis"})" : "<html><body>It works</body></html>");
        FakeHostEnvironment portHost;
        portHost.variables["QUINTALIS_ENGINE_PORT"] = std::to_string(holder->port());
        Engine own{portHost, defaults, info, answeringAtOnce([](const HTTPRequest&) {
                       return HTTPResponse::json(JSON{{"bluetooth", "advertising as Desk"}});
                   })};
        own.start();
        AppState app(with(own, &programs));

        refresh(&app);
        refresh(&app);  // however often it asks, the port stays the holder's
        EXPECT_NE(own.mode(), Engine::Mode::own());
        if (isEngine) {
            EXPECT_FALSE(app.values().portHeld) << "an engine to use, not a stranger";
        } else {
            EXPECT_EQ(app.values().portHeld, "Port " + std::to_string(holder->port()) +
                                                 " is used by python3 (pid 13419). Quit that program, or start "
                                                 "Quintalis with QUINTALIS_ENGINE_PORT set to a free port.");
        }

        holder.reset();
        refresh(&app);
        EXPECT_EQ(own.mode(), Engine::Mode::own()) << "taken back at the first poll nobody answers";
        EXPECT_FALSE(app.values().portHeld);
        refresh(&app);
        EXPECT_EQ(app.values().bluetoothSummary(), "On");
    }
}

// A hung engine costs one request however often the timer fires, and
// counts as down once its time is up.
TEST_F(AppStateTest, AnEngineThatNeverAnswersIsAskedOnceAndIsDown) {
    refresh();
    ASSERT_TRUE(values().engineUp);
    engineService.holdAnswers();
    bool firstDone = false;
    bool secondDone = false;
    state().refresh([&] { firstDone = true; });
    ASSERT_TRUE(main.runUntil([this] { return engineService.requests().size() == 2; }));
    state().refresh([&] { secondDone = true; });
    main.runPending();
    EXPECT_TRUE(secondDone) << "it started nothing of its own to wait for";
    ASSERT_TRUE(main.runUntil([&] { return firstDone; }));  // gives up after its 1.5 s
    EXPECT_FALSE(values().engineUp);
    engineService.releaseAnswers();
    EXPECT_EQ(engineService.requests().size(), 2u);
}

TEST_F(AppStateTest, TakesThePauseOfThisEngineOnlyAndNeverOverTheUsersUntick) {
    engineService.answerJSON(R"({"app": "Skiffline", "paused": true})");
    refresh();
    EXPECT_FALSE(values().paused) << "another product's pause is its own";

    // Preferences that cannot be read pause the engine, which says so.
    defaults.setUnreadable("/home/ann/.config/quintalis/defaults.json can't be read (not valid JSON)");
    engineService.answerJSON(R"({"app": "Quintalis", "paused": true})");
    refresh();
    EXPECT_TRUE(values().paused);
    EXPECT_EQ(values().pauseProblem, "/home/ann/.config/quintalis/defaults.json can't be read (not valid JSON)");
    EXPECT_EQ(defaults.boolValue("paused"), std::nullopt) << "shown, never stored";

    // The user unticks while a poll is on its way: its old answer changes nothing.
    defaults.setUnreadable(std::nullopt);
    bool done = false;
    state().refresh([&done] { done = true; });
    state().setPaused(false);
    ASSERT_TRUE(main.runUntil([&done] { return done; }));
    EXPECT_FALSE(values().paused);
    EXPECT_FALSE(engine.paused());
    EXPECT_EQ(values().pauseProblem, std::nullopt) << "the file reads again";
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
    EXPECT_EQ(airplayService.requests().size(), 1u);
    EXPECT_EQ(values().airplayWindow, "UxPlay");
    EXPECT_EQ(values().screenPerm, Perm::granted) << "the service's capture counts for the app";

    takeDown("QUINTALIS_AIRPLAY_URL");
    refresh();
    EXPECT_FALSE(values().airplayUp);
    EXPECT_EQ(values().airplayWindow, std::nullopt);

    // Back on the cable, with no phone on it but windows that can be captured.
    host.variables["QUINTALIS_AIRPLAY_URL"] = airplayService.url();
    state().setLinkChoice(Link::cable);
    engineService.answerJSON(R"({"app": "Quintalis", "devices": []})");
    windows.setUnavailable(std::nullopt);
    refresh();
    EXPECT_EQ(airplayService.requests().size(), 2u);
}

// Until the user picks a link, the one that can work here is shown: where
// USB capture is refused and windows can be captured, that is AirPlay. A
// pick is kept whatever this computer allows.
TEST_F(AppStateTest, ReadsPermissionsOnEveryRefreshAndTheLinkFollowsThemUntilPicked) {
    radio.allowed = BluetoothAuthorization::restricted;
    cameras.status = CaptureAuthorization::denied;
    cameras.reason = "no permission to open the iPhone's USB device";
    windows.setUnavailable("DISPLAY is not set");
    refresh();
    EXPECT_EQ(values().bluetoothPerm, Perm::denied);
    EXPECT_EQ(values().cameraProblem, "no permission to open the iPhone's USB device");
    EXPECT_EQ(values().screenPerm, Perm::notAsked);
    EXPECT_EQ(values().linkChoice, Link::cable) << "AirPlay's windows cannot be captured either";

    radio.allowed = BluetoothAuthorization::allowedAlways;
    windows.setUnavailable(std::nullopt);
    refresh();
    EXPECT_EQ(values().bluetoothPerm, Perm::granted);
    EXPECT_EQ(values().linkChoice, Link::airplay);
    EXPECT_EQ(defaults.stringValue("link"), std::nullopt) << "not the user's pick";

    state().setLinkChoice(Link::cable);
    state_.reset();  // a new run reads the pick back
    refresh();
    EXPECT_EQ(values().linkChoice, Link::cable);
}

// Registrations, the claude command, a CODEX_HOME that only the login
// shell's profile sets, launch at login and the receiver are looked at
// again every fourth refresh.
TEST_F(AppStateTest, ChecksRegistrationsAndTheReceiverOnEveryFourthRefresh) {
    const auto codexHome = home.path() / "codex-home";
    write(home.path() / "login-shell",
          "#!/bin/sh\n[ \"$2\" = 'command -v claude' ] && exit 1\nprintf %s '" + codexHome.string() + "'\n", true);
    host.variables["SHELL"] = (home.path() / "login-shell").string();
    write(codexHome / "config.toml", "[mcp_servers.quintalis]\ncommand = \"/bin/true\"\n");
    write(home.path() / ".claude.json", R"({"mcpServers": {"quintalis": {"command": "/bin/true"}}})");
    receiver.on = true;
    login.enabled = true;
    state().setLinkChoice(Link::airplay);
    refresh();
    EXPECT_TRUE(values().claudeCodeAdded);
    EXPECT_TRUE(values().codexAdded);
    EXPECT_EQ(values().codexConfig, (codexHome / "config.toml").string());
    EXPECT_EQ(values().claudePath, std::nullopt);
    EXPECT_TRUE(values().launchAtLogin);
    EXPECT_EQ(values().airplayReceiverOn, true);

    const auto claude = home.path() / ".local/bin/claude";
    write(claude, "#!/bin/sh\n", true);
    std::filesystem::remove(home.path() / ".claude.json");
    receiver.on = std::nullopt;
    login.enabled = false;
    for (int tick = 2; tick <= 4; ++tick) refresh();
    EXPECT_TRUE(values().claudeCodeAdded);
    EXPECT_EQ(receiver.asked, 1);
    refresh();
    EXPECT_FALSE(values().claudeCodeAdded);
    EXPECT_EQ(values().claudePath, claude.string());
    EXPECT_FALSE(values().launchAtLogin);
    EXPECT_EQ(values().airplayReceiverOn, std::nullopt);

    state().setLinkChoice(Link::cable);
    for (int tick = 6; tick <= 9; ++tick) refresh();
    EXPECT_EQ(receiver.asked, 2) << "the receiver matters only for AirPlay";
}

TEST_F(AppStateTest, KeepsWhatTheUserSetAcrossLaunches) {
    state().setAssistiveTouchOn(true);
    state().setStep(4);
    state().setSetupDone(true);
    AppState relaunched(with(engine));
    EXPECT_TRUE(relaunched.values().assistiveTouchOn);
    EXPECT_EQ(relaunched.values().step, 4);
    EXPECT_TRUE(relaunched.values().setupDone);

    // A switch the desktop refuses shows what the desktop says, and why in the log.
    LogCapture logged;
    state().setLaunchAtLogin(true);
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

// After a restart or a login the receiver runs without the wizard, and a
// receiver that stops is seen at the next refresh.
TEST_F(AppStateTest, KeepsTheAirPlayReceiverFromLaunchWhileAirPlayIsTheLink) {
    FakeReceiverProcess uxplay;
    ReceiverKeeper keeper{uxplay, clock, "Desk"};
    defaults.setString("link", "airplay");
    AppState app(with(engine, nullptr, &keeper));
    app.startPolling();
    EXPECT_TRUE(app.values().airplayReceiverInstalled);
    EXPECT_EQ(uxplay.starts, 1);
    uxplay.exits.push_back("exited with status 1: DNS-SD (Avahi) is not available");
    app.refresh();
    EXPECT_EQ(app.values().receiverProblem, "UxPlay stopped: exited with status 1: DNS-SD (Avahi) is not available");

    app.setLinkChoice(Link::cable);
    clock.advance(ReceiverKeeper::kFirstWait);
    app.refresh();
    EXPECT_EQ(uxplay.starts, 1) << "a cable needs no receiver";
    EXPECT_EQ(app.values().receiverProblem, std::nullopt);
}

// The setup window's blocking clicks share the model's queue: their work
// runs off the main thread, their outcome on it, and never once the model
// (and with it the window) has gone.
TEST_F(AppStateTest, BlockingWorkReturnsToTheMainThreadOnlyWhileTheModelLives) {
    const auto mainThread = std::this_thread::get_id();
    std::thread::id workedOn;
    std::atomic<bool> worked = false;
    bool applied = false;
    state().runBlocking([&]() -> Task {
        workedOn = std::this_thread::get_id();
        return [&] { applied = std::this_thread::get_id() == mainThread; };
    });
    ASSERT_TRUE(main.runUntil([&] { return applied; }));
    EXPECT_NE(workedOn, mainThread);

    applied = false;
    state().runBlocking([&]() -> Task {
        worked = true;
        return [&] { applied = true; };
    });
    state_.reset();  // waits for the queue, so the outcome is already posted
    EXPECT_TRUE(worked);
    main.runPending();
    EXPECT_FALSE(applied);
}

}  // namespace
