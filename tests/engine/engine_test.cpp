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

    std::unique_ptr<Engine> make(uint16_t port) {
        host.variables["QUINTALIS_ENGINE_PORT"] = std::to_string(port);
        Engine::StartHooks hooks;
        hooks.phoneSide = {[this] { calls.push_back("registry"); }, [this] { return bluetoothAllowed; },
                           [this] { calls.push_back("bluetooth"); }, [this] { return screensAllowed; },
                           [this] { calls.push_back("screens"); }};
        // The AirPlay port is probed on every start: a free one, so no peer on this machine answers.
        host.variables.try_emplace("QUINTALIS_AIRPLAY_PORT", std::to_string(freePort()));
        hooks.airplay = {[this] {
                             calls.push_back("airplay");
                             return std::make_unique<AirPlayServer>(captures, noText, std::nullopt);
                         },
                         [this] { return screenCaptureAllowed; }, &mainThread};
        return std::make_unique<Engine>(host, defaults, info, answeringAtOnce(routes), hooks);
    }
};

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

TEST(Engine, PortsComeFromTheEnvironmentByTheStrictRule) {
    struct Case {
        std::optional<std::string> text;
        uint16_t port;
    };
    const Case cases[] = {{"8000", 8000}, {"+8000", 8000}, {"0", 0},      {"65535", 65535}, {"70000", 7390},
                          {"65536", 7390}, {"abc", 7390},  {"-1", 7390}, {"", 7390},       {"++80", 7390},
                          {" 80", 7390},   {"80 ", 7390},  {"8o", 7390}, {std::nullopt, 7390}};
    for (const auto& c : cases) EXPECT_EQ(parsePort(c.text, 7390), c.port) << c.text.value_or("(absent)");

    EngineFixture fixture;
    fixture.host.variables["QUINTALIS_AIRPLAY_PORT"] = "7400";
    auto engine = fixture.make(8000);
    EXPECT_EQ(engine->port(), 8000);
    EXPECT_EQ(engine->airplayPort(), 7400);
    EXPECT_EQ(engine->baseURL(), "http://127.0.0.1:8000");
    EXPECT_EQ(engine->airplayURL(), "http://127.0.0.1:7400");
}

TEST(Engine, PortsAndStartUpSayWhatHappens) {
    LogCapture logs;
    {
        EngineFixture fixture;
        fixture.host.variables["QUINTALIS_AIRPLAY_PORT"] = "abc";
        fixture.host.variables["QUINTALIS_ENGINE_PORT"] = "";
        Engine engine(fixture.host, fixture.defaults, fixture.info, answeringAtOnce(EngineFixture::routes));
        EXPECT_EQ(engine.port(), 7390);
        EXPECT_EQ(engine.airplayPort(), 7391);
        EXPECT_TRUE(logs.contains("ignoring QUINTALIS_AIRPLAY_PORT=abc: not a port number"));
        EXPECT_TRUE(logs.contains("ignoring QUINTALIS_ENGINE_PORT=: not a port number"));
    }
    EngineFixture fixture;
    auto engine = fixture.make(0);
    engine->start();
    ASSERT_TRUE(engine->listeningPort());
    EXPECT_NE(*engine->listeningPort(), 0);
    EXPECT_TRUE(logs.contains("engine: listening on http://127.0.0.1:" + std::to_string(*engine->listeningPort())));
}

TEST(Engine, URLOverridesAreUsedWhenTheyAreHTTPURLs) {
    EngineFixture fixture;
    auto engine = fixture.make(7390);
    fixture.host.variables["QUINTALIS_ENGINE_URL"] = "http://10.0.0.2:9000/";
    EXPECT_EQ(engine->baseURL(), "http://10.0.0.2:9000/");
    for (std::string bad : {"not a url", "ftp://host/", "http://", "http:// space", ""}) {
        fixture.host.variables["QUINTALIS_ENGINE_URL"] = bad;
        EXPECT_EQ(engine->baseURL(), "http://127.0.0.1:7390") << bad;
    }
}

TEST(WhoAnswers, NamesEachKindOfPeer) {
    struct Case {
        int status;
        std::string body;
        std::string name;
    };
    const Case cases[] = {
        {200, R"({"app":"Quintalis","bluetooth":"poweredOn"})", "Quintalis"},
        {200, R"({"bluetooth":"poweredOn","devices":[]})", "another app"},
        {200, R"({"app":"quintalis-mirror"})", "Quintalis Mirror"},
        {200, "<html>hello</html>", "another app"},
        {404, "<html>Not Found</html>", "another app"},
        {200, R"([{"app":"Quintalis"}])", "another app"},
    };
    for (const auto& c : cases) {
        auto peer = peerAnswering(c.status, c.body);
        EXPECT_EQ(whoAnswers(peer->boundPort()), c.name) << c.body;
    }
    EXPECT_FALSE(whoAnswers(freePort()));
    // One that accepts and never answers names nobody; that the call
    // returns at all shows the overall wait ended it.
    SilentListener silent;
    EXPECT_FALSE(whoAnswers(silent.port()));
}


TEST(Engine, LeavesThePortToAnotherEngineAndStartsNoPhoneSide) {
    LogCapture logs;
    auto other = peerAnswering(200, R"({"app":"Quintalis"})");
    EngineFixture fixture;
    auto engine = fixture.make(other->boundPort());
    engine->start();
    EXPECT_EQ(engine->mode(), Engine::Mode::external("Quintalis"));
    EXPECT_EQ(fixture.calls, (std::vector<std::string>{"airplay"}));
    engine->startBluetooth();
    engine->startScreens();
    EXPECT_EQ(fixture.calls, (std::vector<std::string>{"airplay"}));
    EXPECT_FALSE(engine->listeningPort());

    // A headless one leaves the AirPlay service to it too.
    EngineFixture headless;
    auto leaving = headless.make(other->boundPort());
    leaving->start(Engine::WhenServedElsewhere::leave);
    EXPECT_EQ(leaving->mode(), Engine::Mode::external("Quintalis"));
    EXPECT_TRUE(headless.calls.empty());
    EXPECT_TRUE(logs.contains("engine: port " + std::to_string(other->boundPort()) +
                              " is served by Quintalis; nothing to do here"));
}

TEST(Engine, StartingAgainTakesThePortOnceTheEngineItUsedOrLostToHasGone) {
    // Another engine answered; once it has gone, this one serves the port and its phone side.
    auto other = peerAnswering(200, R"({"app":"Quintalis"})");
    const uint16_t port = other->boundPort();
    EngineFixture fixture;
    auto engine = fixture.make(port);
    engine->start();
    ASSERT_EQ(engine->mode(), Engine::Mode::external("Quintalis"));
    other.reset();
    engine->start();
    EXPECT_EQ(engine->mode(), Engine::Mode::own());
    EXPECT_EQ(whoAnswers(port), "Quintalis");
    EXPECT_EQ(fixture.calls, (std::vector<std::string>{"airplay", "registry", "bluetooth", "screens"}));

    // A port this process could not bind is tried again as well.
    auto squatter = std::make_unique<SilentListener>();
    EngineFixture loser;
    auto second = loser.make(squatter->port());
    second->start();
    ASSERT_EQ(second->mode().kind, Engine::Mode::Kind::failed);
    squatter.reset();
    second->start();
    EXPECT_EQ(second->mode(), Engine::Mode::own());
    EXPECT_EQ(loser.calls, (std::vector<std::string>{"airplay", "registry", "bluetooth", "screens"}));
}

TEST(Engine, OwnsAFreePortAndServesStatus) {
    EngineFixture fixture;
    fixture.bundle.values["CFBundleShortVersionString"] = "1.4";
    auto engine = fixture.make(freePort());
    engine->start();
    engine->start();  // a second start changes nothing
    ASSERT_EQ(engine->mode(), Engine::Mode::own());
    EXPECT_EQ(fixture.calls, (std::vector<std::string>{"registry", "bluetooth", "screens", "airplay"}));

    auto status = parseReply(roundTrip(engine->port(), "GET /status HTTP/1.1\r\n\r\n"));
    EXPECT_EQ(status.status, 200);
    EXPECT_EQ(status.body,
              R"({"app":"Quintalis","bluetooth":"starting","devices":[],"paused":false,"version":"1.4"})");
    EXPECT_EQ(whoAnswers(engine->port()), "Quintalis");

    auto unknown = parseReply(roundTrip(engine->port(), "POST /status HTTP/1.1\r\n\r\n"));
    EXPECT_EQ(unknown.status, 404);
    EXPECT_EQ(unknown.body, R"({"app":"Quintalis","error":"not found","paused":false,"version":"1.4"})");
    EXPECT_EQ(parseReply(roundTrip(engine->port(), "GET /tap HTTP/1.1\r\n\r\n")).body, R"({"error":"not found"})");
}

TEST(Engine, PauseRefusesActionsButNotReading) {
    EngineFixture fixture;
    auto engine = fixture.make(freePort());
    engine->start();
    engine->setPaused(true);
    auto tap = parseReply(roundTrip(engine->port(), "POST /tap HTTP/1.1\r\n\r\n"));
    EXPECT_EQ(tap.status, 423);
    EXPECT_EQ(tap.body,
              "{\"error\":\"Quintalis is paused: the owner turned off control in the Quintalis menu "
              "(tray menu \u203a turn off Pause control)\"}");
    auto status = parseReply(roundTrip(engine->port(), "GET / HTTP/1.1\r\n\r\n"));
    EXPECT_EQ(status.status, 200);
    EXPECT_NE(status.body.find(R"("paused":true)"), std::string::npos);
    // Only POSTs to action paths are gated.
    EXPECT_EQ(parseReply(roundTrip(engine->port(), "GET /tap HTTP/1.1\r\n\r\n")).status, 404);
    engine->setPaused(false);
    EXPECT_EQ(parseReply(roundTrip(engine->port(), "POST /tap HTTP/1.1\r\n\r\n")).status, 404);
}

TEST(Engine, UnreadablePreferencesPauseControl) {
    EngineFixture fixture;
    auto engine = fixture.make(freePort());
    engine->start();
    fixture.defaults.setUnreadable("/home/tester/.config/quintalis/defaults.json can't be read (not valid JSON)");
    auto tap = parseReply(roundTrip(engine->port(), "POST /tap HTTP/1.1\r\n\r\n"));
    EXPECT_EQ(tap.status, 423);
    EXPECT_EQ(tap.body, R"x({"error":"control is paused: \/home\/tester\/.config\/quintalis\/defaults.json can't be )x"
                        R"x(read (not valid JSON)"})x");
    auto status = parseReply(roundTrip(engine->port(), "GET /status HTTP/1.1\r\n\r\n"));
    EXPECT_NE(status.body.find(R"("paused":true)"), std::string::npos);
    fixture.defaults.setUnreadable(std::nullopt);
    EXPECT_EQ(parseReply(roundTrip(engine->port(), "POST /tap HTTP/1.1\r\n\r\n")).status, 404);
}

TEST(Engine, DisabledByEnvironment) {
    EngineFixture fixture;
    fixture.host.variables["QUINTALIS_NO_ENGINE"] = "1";
    auto engine = fixture.make(freePort());
    engine->start();
    EXPECT_EQ(engine->mode(), Engine::Mode::failed("engine disabled (QUINTALIS_NO_ENGINE=1)"));
    EXPECT_TRUE(fixture.calls.empty());
}

TEST(Engine, APortHeldByANonHTTPProgramFailsInsteadOfClaimingIt) {
    LogCapture logs;
    SilentListener squatter;
    EngineFixture fixture;
    auto engine = fixture.make(squatter.port());
    engine->start();
    EXPECT_EQ(engine->mode(), Engine::Mode::failed("can't listen on 127.0.0.1:" + std::to_string(squatter.port()) +
                                                   ": Address already in use"));
    EXPECT_EQ(fixture.calls, (std::vector<std::string>{"airplay"}));
    EXPECT_TRUE(logs.contains("http failed on 127.0.0.1:" + std::to_string(squatter.port()) + ": Address already in use"));
}

TEST(Engine, TakesThePortBackOnceTheProgramThatHeldItIsGone) {
    LogCapture logs;
    // Another copy of Quintalis with both ports, which later quits.
    EngineFixture first;
    auto other = first.make(freePort());
    other->start();
    ASSERT_EQ(other->mode(), Engine::Mode::own());
    EngineFixture fixture;
    fixture.host.variables["QUINTALIS_AIRPLAY_PORT"] = std::to_string(other->airplayPort());
    auto engine = fixture.make(other->port());
    engine->start();
    ASSERT_EQ(engine->mode(), Engine::Mode::external("Quintalis"));
    EXPECT_EQ(engine->takePortBack(), Engine::Retake::stillHeld) << "the other copy still listens";
    EXPECT_EQ(engine->mode(), Engine::Mode::external("Quintalis"));
    EXPECT_TRUE(fixture.calls.empty());

    other.reset();
    EXPECT_EQ(engine->takePortBack(), Engine::Retake::taken);
    EXPECT_EQ(engine->mode(), Engine::Mode::own());
    EXPECT_EQ(engine->airplayMode(), Engine::Mode::own());
    EXPECT_EQ(fixture.calls, (std::vector<std::string>{"registry", "bluetooth", "screens", "airplay"}));
    EXPECT_EQ(whoAnswers(engine->port()), "Quintalis");
    EXPECT_TRUE(logs.contains("engine: Quintalis left port " + std::to_string(engine->port()) +
                              "; serving it here now"));
    EXPECT_EQ(engine->takePortBack(), Engine::Retake::notTried) << "its own now";

    // A program that never spoke HTTP: the same, once it lets go.
    auto squatter = std::make_unique<SilentListener>();
    EngineFixture second;
    auto late = second.make(squatter->port());
    late->start();
    EXPECT_EQ(late->takePortBack(), Engine::Retake::stillHeld);
    EXPECT_EQ(late->mode().kind, Engine::Mode::Kind::failed);
    squatter.reset();
    EXPECT_EQ(late->takePortBack(), Engine::Retake::taken);
    EXPECT_EQ(late->mode(), Engine::Mode::own());

    // Neither a disabled engine nor one never started takes anything.
    EngineFixture disabled;
    disabled.host.variables["QUINTALIS_NO_ENGINE"] = "1";
    auto off = disabled.make(freePort());
    off->start();
    EXPECT_EQ(off->takePortBack(), Engine::Retake::notTried);
    EngineFixture idle;
    EXPECT_EQ(idle.make(freePort())->takePortBack(), Engine::Retake::notTried);
}

// A mirror or another copy may hold only the AirPlay service's port: once
// it goes, the engine that serves its own port serves that one too.
TEST(Engine, TakesTheAirPlayPortBackAlone) {
    LogCapture logs;
    EngineFixture first;
    auto other = first.make(freePort());
    other->start();
    EngineFixture fixture;
    fixture.host.variables["QUINTALIS_AIRPLAY_PORT"] = std::to_string(other->airplayPort());
    auto engine = fixture.make(freePort());
    engine->start();
    ASSERT_EQ(engine->mode(), Engine::Mode::own());
    ASSERT_EQ(engine->airplayMode().kind, Engine::Mode::Kind::external);
    EXPECT_EQ(engine->takeAirPlayPortBack(), Engine::Retake::stillHeld);
    const std::string holder = engine->airplayMode().text;
    other.reset();
    EXPECT_EQ(engine->takeAirPlayPortBack(), Engine::Retake::taken);
    EXPECT_EQ(engine->airplayMode(), Engine::Mode::own());
    EXPECT_TRUE(logs.contains("airplay: " + holder + " left port " + std::to_string(engine->airplayPort()) +
                              "; serving it here now"));
    EXPECT_EQ(engine->takeAirPlayPortBack(), Engine::Retake::notTried) << "its own now";

    // A holder that never spoke HTTP, the same.
    auto squatter = std::make_unique<SilentListener>();
    EngineFixture second;
    second.host.variables["QUINTALIS_AIRPLAY_PORT"] = std::to_string(squatter->port());
    auto late = second.make(freePort());
    late->start();
    EXPECT_EQ(late->takeAirPlayPortBack(), Engine::Retake::stillHeld);
    squatter.reset();
    EXPECT_EQ(late->takeAirPlayPortBack(), Engine::Retake::taken);

    // An engine that uses another's takes neither port by itself.
    EngineFixture third;
    auto owner = third.make(freePort());
    owner->start();
    EngineFixture fourth;
    fourth.host.variables["QUINTALIS_AIRPLAY_PORT"] = std::to_string(freePort());
    auto user = fourth.make(owner->port());
    user->start();
    EXPECT_EQ(user->takeAirPlayPortBack(), Engine::Retake::notTried);
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

namespace {

ParsedReply airplayGet(const Engine& engine, const std::string& target) {
    return parseReply(roundTrip(engine.airplayPort(), "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"));
}

}  // namespace

TEST(InAppAirPlay, ASecondCopyLeavesBothPortsToTheFirst) {
    EngineFixture first;
    auto owner = first.make(freePort());
    owner->start();
    ASSERT_EQ(owner->airplayMode(), Engine::Mode::own());
    EXPECT_EQ(parseJSON(airplayGet(*owner, "/status").body).value()["app"], "quintalis-mirror");

    EngineFixture second;
    second.host.variables["QUINTALIS_AIRPLAY_PORT"] = std::to_string(owner->airplayPort());
    auto copy = second.make(owner->port());
    copy->start();
    EXPECT_EQ(copy->mode(), Engine::Mode::external("Quintalis"));
    EXPECT_EQ(copy->airplayMode(), Engine::Mode::external("Quintalis Mirror"));
    EXPECT_TRUE(second.calls.empty()) << "no service of its own";
}

TEST(InAppAirPlay, QuitDropsTheCaptureAndTheAppKeepsServing) {
    EngineFixture fixture;
    fixture.windows.setWindows({receiverWindow()});
    auto engine = fixture.make(freePort());
    engine->start();
    ASSERT_EQ(airplayGet(*engine, "/status").status, 200);
    ASSERT_TRUE(fixture.streams.running());
    fixture.streams.deliver(receiverFrame());
    EXPECT_EQ(airplayGet(*engine, "/frame.jpg").status, 200);

    EXPECT_EQ(airplayGet(*engine, "/quit").body, R"({"ok":true})");
    EXPECT_FALSE(fixture.streams.running());
    EXPECT_EQ(engine->airplayMode(), Engine::Mode::own());
    EXPECT_EQ(parseReply(roundTrip(engine->port(), "GET /status HTTP/1.1\r\n\r\n")).status, 200);

    // The next frame request opens a new capture, which has no frame yet.
    EXPECT_EQ(parseJSON(airplayGet(*engine, "/frame").body).value()["error"], "no frame yet from the AirPlay window");
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
    EXPECT_EQ(fixture.mainThread.delays().size(), 1u);
}

TEST(InAppAirPlay, APortHeldByANonHTTPProgramFailsTheServiceAlone) {
    SilentListener squatter;
    EngineFixture fixture;
    fixture.host.variables["QUINTALIS_AIRPLAY_PORT"] = std::to_string(squatter.port());
    auto engine = fixture.make(freePort());
    engine->start();
    EXPECT_EQ(engine->mode(), Engine::Mode::own());
    EXPECT_EQ(engine->airplayMode(), Engine::Mode::failed("can't listen on 127.0.0.1:" +
                                                          std::to_string(squatter.port()) + ": Address already in use"));
}
