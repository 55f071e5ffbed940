#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "engine/engine.h"
#include "engine/who_answers.h"
#include "support/eventually.h"
#include "support/fake_clock.h"
#include "support/fake_platform.h"
#include "support/fake_windows.h"
#include "support/log_capture.h"
#include "support/manual_main_thread.h"
#include "support/no_text.h"
#include "support/raw_http.h"

using namespace quintalis;
using namespace quintalis::testing;

namespace {

// A listener that accepts connections (through the kernel's backlog) and never answers.
class SilentListener {
public:
    SilentListener() {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(fd_, 16);
        socklen_t length = sizeof address;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
    }
    ~SilentListener() { ::close(fd_); }
    uint16_t port() const { return port_; }

private:
    int fd_;
    uint16_t port_;
};

struct EngineFixture {
    FakeHostEnvironment host;
    FakeBundleInfo bundle;
    MemoryDefaults defaults;
    AppInfo info{bundle, host};
    std::vector<std::string> calls;
    bool bluetoothAllowed = true;
    bool screensAllowed = true;
    bool screenCaptureAllowed = true;
    FakeWindowServer windows;
    FakeWindowStreams streams;
    FakeClock clock;
    ManualMainThread mainThread;
    CaptureBackends captures{windows, streams, clock, [](const std::string&) { return std::nullopt; }, "HELP"};
    NoText noText;

    static HTTPResponse routes(const HTTPRequest& request) {
        if (request.method == "GET" && (request.path == "/" || request.path == "/status")) {
            return HTTPResponse::json(JSON{{"bluetooth", "starting"}, {"devices", JSON::array()}});
        }
        return HTTPResponse::error("not found", 404);
    }

    std::unique_ptr<Engine> make(uint16_t port, std::optional<uint16_t> airplayPort = std::nullopt) {
        host.variables["QUINTALIS_ENGINE_PORT"] = std::to_string(port);
        // The AirPlay port is probed on every start: a free one, so no peer on this machine answers.
        host.variables["QUINTALIS_AIRPLAY_PORT"] = std::to_string(airplayPort.value_or(freePort()));
        Engine::StartHooks hooks;
        hooks.phoneSide = {[this] { calls.push_back("registry"); }, [this] { return bluetoothAllowed; },
                           [this] { calls.push_back("bluetooth"); }, [this] { return screensAllowed; },
                           [this] { calls.push_back("screens"); }};
        hooks.airplay = {[this] {
                             calls.push_back("airplay");
                             return std::make_unique<AirPlayServer>(captures, noText, std::nullopt);
                         },
                         [this] { return screenCaptureAllowed; }, &mainThread};
        return std::make_unique<Engine>(host, defaults, info, answeringAtOnce(routes), hooks);
    }
};

const std::vector<std::string> kEverything{"registry", "bluetooth", "screens", "airplay"};

ParsedReply get(uint16_t port, const std::string& target, const std::string& method = "GET") {
    return parseReply(roundTrip(port, method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"));
}

std::unique_ptr<HTTPServer> peerAnswering(int status, std::string body) {
    auto server = std::make_unique<HTTPServer>(0, [status, body](const HTTPRequest&) {
        HTTPResponse response;
        response.status = status;
        response.body = body;
        return response;
    });
    server->start();
    return server;
}

}  // namespace

TEST(Engine, PortsAndURLsComeFromTheEnvironmentByTheStrictRule) {
    const std::pair<std::optional<std::string>, uint16_t> cases[] = {
        {"+8000", 8000}, {"65535", 65535}, {"65536", 7390}, {"-1", 7390}, {" 80", 7390}, {"8o", 7390}, {std::nullopt, 7390}};
    for (const auto& [text, port] : cases) EXPECT_EQ(parsePort(text, 7390), port) << text.value_or("(absent)");

    LogCapture logs;
    EngineFixture fixture;
    fixture.host.variables["QUINTALIS_AIRPLAY_PORT"] = "abc";
    Engine defaults(fixture.host, fixture.defaults, fixture.info, answeringAtOnce(EngineFixture::routes));
    EXPECT_EQ(defaults.airplayPort(), 7391);
    EXPECT_TRUE(logs.contains("ignoring QUINTALIS_AIRPLAY_PORT=abc: not a port number"));

    auto engine = fixture.make(8000, 7400);
    EXPECT_EQ(engine->baseURL(), "http://127.0.0.1:8000");
    EXPECT_EQ(engine->airplayURL(), "http://127.0.0.1:7400");
    fixture.host.variables["QUINTALIS_ENGINE_URL"] = "http://10.0.0.2:9000/";
    EXPECT_EQ(engine->baseURL(), "http://10.0.0.2:9000/");
    for (std::string bad : {"ftp://host/", "http://", "http:// space"}) {
        fixture.host.variables["QUINTALIS_ENGINE_URL"] = bad;
        EXPECT_EQ(engine->baseURL(), "http://127.0.0.1:8000") << bad;
    }
}

TEST(WhoAnswers, NamesEachKindOfPeer) {
    const std::tuple<int, std::string, std::string> cases[] = {
        {200, R"({"app":"Quintalis","bluetooth":"poweredOn"})", "Quintalis"},
        {404, "<html>Not Found</html>", "another app"},
        {200, R"([{"app":"Quintalis"}])", "another app"},
    };
    for (const auto& [status, body, name] : cases) EXPECT_EQ(whoAnswers(peerAnswering(status, body)->boundPort()), name) << body;
    EXPECT_FALSE(whoAnswers(freePort()));
    // One that accepts and never answers names nobody; that the call
    // returns at all shows the overall wait ended it.
    SilentListener silent;
    EXPECT_FALSE(whoAnswers(silent.port()));
}

TEST(Engine, OwnsAFreePortServesStatusAndStartsEverythingOnce) {
    LogCapture logs;
    EngineFixture fixture;
    fixture.bundle.values["CFBundleShortVersionString"] = "1.4";
    auto engine = fixture.make(freePort());
    engine->start();
    engine->start();  // a second start changes nothing
    ASSERT_EQ(engine->mode(), Engine::Mode::own());
    EXPECT_EQ(fixture.calls, kEverything);
    EXPECT_TRUE(logs.contains("engine: listening on http://127.0.0.1:" + std::to_string(engine->port())));

    auto status = get(engine->port(), "/status");
    EXPECT_EQ(status.body, R"({"app":"Quintalis","bluetooth":"starting","devices":[],"paused":false,"version":"1.4"})");
    EXPECT_EQ(get(engine->port(), "/status", "POST").body,
              R"({"app":"Quintalis","error":"not found","paused":false,"version":"1.4"})");
    EXPECT_EQ(get(engine->port(), "/tap").body, R"({"error":"not found"})");
}

TEST(AppInfo, TheVersionAndTheComputersNameFallBackInTurn) {
    FakeBundleInfo bundle;
    FakeHostEnvironment host;
    AppInfo info(bundle, host);
    EXPECT_EQ(info.version(), "dev");
    bundle.values["CFBundleShortVersionString"] = "1.2";
    bundle.values["QuintalisVersion"] = "1.2.3";
    EXPECT_EQ(info.version(), "1.2.3");
    EXPECT_EQ(info.macName(), "Test Computer");
    host.name.reset();
    EXPECT_EQ(info.macName(), "this computer");
}

TEST(Engine, PauseAndUnreadablePreferencesRefuseActionsButNotReading) {
    EngineFixture fixture;
    auto engine = fixture.make(freePort());
    engine->start();
    engine->setPaused(true);
    auto tap = get(engine->port(), "/tap", "POST");
    EXPECT_EQ(tap.status, 423);
    EXPECT_EQ(tap.body,
              "{\"error\":\"Quintalis is paused: the owner turned off control in the Quintalis menu "
              "(tray menu \u203a turn off Pause control)\"}");
    EXPECT_NE(get(engine->port(), "/").body.find(R"("paused":true)"), std::string::npos);
    EXPECT_EQ(get(engine->port(), "/tap").status, 404);  // only POSTs to action paths are gated
    engine->setPaused(false);
    EXPECT_EQ(get(engine->port(), "/tap", "POST").status, 404);

    fixture.defaults.setUnreadable("defaults.json can't be read (not valid JSON)");
    EXPECT_EQ(get(engine->port(), "/tap", "POST").body,
              R"x({"error":"control is paused: defaults.json can't be read (not valid JSON)"})x");
    fixture.defaults.setUnreadable(std::nullopt);
    EXPECT_EQ(get(engine->port(), "/tap", "POST").status, 404);
}

TEST(Engine, LeavesBothPortsToAnotherCopyAndTakesThemOnceItHasGone) {
    LogCapture logs;
    EngineFixture first;
    auto other = first.make(freePort());
    other->start();
    EXPECT_EQ(get(other->airplayPort(), "/status").status, 200);

    EngineFixture fixture;
    auto engine = fixture.make(other->port(), other->airplayPort());
    engine->start();
    EXPECT_EQ(engine->mode(), Engine::Mode::external("Quintalis"));
    EXPECT_EQ(engine->airplayMode(), Engine::Mode::external("Quintalis Mirror"));
    engine->startBluetooth();
    engine->startScreens();
    EXPECT_TRUE(fixture.calls.empty()) << "no service of its own";
    EXPECT_FALSE(engine->listeningPort());
    EXPECT_EQ(engine->takePortBack(), Engine::Retake::stillHeld);

    other.reset();
    EXPECT_EQ(engine->takePortBack(), Engine::Retake::taken);
    EXPECT_EQ(engine->mode(), Engine::Mode::own());
    EXPECT_EQ(engine->airplayMode(), Engine::Mode::own());
    EXPECT_EQ(fixture.calls, kEverything);
    EXPECT_EQ(whoAnswers(engine->port()), "Quintalis");
    EXPECT_TRUE(logs.contains("engine: Quintalis left port " + std::to_string(engine->port()) + "; serving it here now"));
    EXPECT_EQ(engine->takePortBack(), Engine::Retake::notTried) << "its own now";

    // Starting again does the same; a headless copy leaves the AirPlay service to the other too.
    auto again = peerAnswering(200, R"({"app":"Quintalis"})");
    EngineFixture restarted;
    auto later = restarted.make(again->boundPort());
    later->start(Engine::WhenServedElsewhere::leave);
    EXPECT_TRUE(restarted.calls.empty());
    again.reset();
    later->start();
    EXPECT_EQ(later->mode(), Engine::Mode::own());
    EXPECT_EQ(restarted.calls, kEverything);
}

TEST(Engine, APortHeldByANonHTTPProgramFailsThatServiceUntilItLetsGo) {
    auto squatter = std::make_unique<SilentListener>();
    auto airplaySquatter = std::make_unique<SilentListener>();
    auto inUse = [](const SilentListener& held) {
        return Engine::Mode::failed("can't listen on 127.0.0.1:" + std::to_string(held.port()) + ": Address already in use");
    };
    EngineFixture fixture;
    auto engine = fixture.make(squatter->port());
    engine->start();
    EXPECT_EQ(engine->mode(), inUse(*squatter));
    EXPECT_EQ(fixture.calls, (std::vector<std::string>{"airplay"}));
    EXPECT_EQ(engine->takePortBack(), Engine::Retake::stillHeld);

    EngineFixture airplay;
    auto alone = airplay.make(freePort(), airplaySquatter->port());
    alone->start();
    EXPECT_EQ(alone->mode(), Engine::Mode::own());
    EXPECT_EQ(alone->airplayMode(), inUse(*airplaySquatter));
    EXPECT_EQ(alone->takeAirPlayPortBack(), Engine::Retake::stillHeld);

    squatter.reset();
    airplaySquatter.reset();
    EXPECT_EQ(engine->takePortBack(), Engine::Retake::taken);
    EXPECT_EQ(engine->mode(), Engine::Mode::own());
    EXPECT_EQ(alone->takeAirPlayPortBack(), Engine::Retake::taken);
    EXPECT_EQ(alone->airplayMode(), Engine::Mode::own());
    EXPECT_EQ(alone->takeAirPlayPortBack(), Engine::Retake::notTried) << "its own now";
}

TEST(Engine, OnlyAnEngineServingItsOwnPortTakesAnAirPlayPortBack) {
    EngineFixture owner;
    auto first = owner.make(freePort());
    first->start();
    EngineFixture user;
    auto second = user.make(first->port());
    second->start();
    EXPECT_EQ(second->takeAirPlayPortBack(), Engine::Retake::notTried);

    EngineFixture disabled;
    disabled.host.variables["QUINTALIS_NO_ENGINE"] = "1";
    auto off = disabled.make(freePort());
    off->start();
    EXPECT_EQ(off->mode(), Engine::Mode::failed("engine disabled (QUINTALIS_NO_ENGINE=1)"));
    EXPECT_EQ(off->takePortBack(), Engine::Retake::notTried);
    EXPECT_TRUE(disabled.calls.empty());
    EngineFixture idle;
    EXPECT_EQ(idle.make(freePort())->takePortBack(), Engine::Retake::notTried);
}

TEST(Engine, PhoneSideWaitsForPermissionsAndStartsOnce) {
    EngineFixture fixture;
    fixture.bluetoothAllowed = false;
    fixture.screensAllowed = false;
    auto engine = fixture.make(freePort());
    engine->start();
    EXPECT_EQ(fixture.calls, (std::vector<std::string>{"registry", "airplay"}));
    engine->startBluetooth();  // the wizard, once permission is granted
    engine->startBluetooth();
    engine->startScreens();
    EXPECT_EQ(fixture.calls, (std::vector<std::string>{"registry", "airplay", "bluetooth", "screens"}));
}

TEST(InAppAirPlay, QuitDropsTheCaptureAndTheAppKeepsServing) {
    EngineFixture fixture;
    fixture.windows.setWindows({receiverWindow()});
    auto engine = fixture.make(freePort());
    engine->start();
    ASSERT_EQ(get(engine->airplayPort(), "/status").status, 200);
    ASSERT_TRUE(fixture.streams.running());
    fixture.streams.deliver(receiverFrame());
    EXPECT_EQ(get(engine->airplayPort(), "/frame.jpg").status, 200);

    EXPECT_EQ(get(engine->airplayPort(), "/quit").body, R"({"ok":true})");
    EXPECT_FALSE(fixture.streams.running());
    EXPECT_EQ(engine->airplayMode(), Engine::Mode::own());
    EXPECT_EQ(get(engine->port(), "/status").status, 200);
    // The next frame request opens a new capture, which has no frame yet.
    EXPECT_EQ(get(engine->airplayPort(), "/frame").status, 503);
    EXPECT_TRUE(fixture.streams.running());
}

TEST(InAppAirPlay, WarmUpTicksOnTheMainThreadWhileAirPlayIsTheLinkAndCaptureIsAllowed) {
    EngineFixture fixture;
    fixture.windows.setWindows({receiverWindow()});
    auto engine = fixture.make(freePort());
    engine->start();
    // Each tick sets the next one, 1.5 s on.
    auto tick = [&] {
        ASSERT_EQ(fixture.mainThread.delays(), std::vector<Duration>{std::chrono::milliseconds(1500)});
        fixture.mainThread.fireTimers();
    };
    tick();
    fixture.defaults.setString("link", "cable");
    tick();
    fixture.defaults.setString("link", "airplay");
    fixture.screenCaptureAllowed = false;
    tick();
    EXPECT_FALSE(fixture.streams.started()) << "no link, another link, or no capture allowed";

    fixture.screenCaptureAllowed = true;
    tick();
    EXPECT_TRUE(eventually([&] { return fixture.streams.started() == 77u; }, 30));
}
