#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include "app/mcp_engine_link.h"
#include "base/main_run_loop.h"
#include "support/fake_clock.h"
#include "support/fake_platform.h"
#include "support/raw_http.h"

using namespace quintalis;
using namespace quintalis::testing;

namespace {

// The main run loop on a thread of its own, where `quintalis mcp` starts its engine.
class RunningMainLoop {
public:
    RunningMainLoop() : thread_([this] { loop.run(); }) {}
    ~RunningMainLoop() {
        loop.stop();
        thread_.join();
    }

    MainRunLoop loop;

private:
    std::thread thread_;
};

// A port bound by a socket that does not listen: nothing answers there, and
// nothing else can bind it, as when another server wins the race for it.
class HeldPort {
public:
    HeldPort() {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        socklen_t length = sizeof address;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
    }
    ~HeldPort() { ::close(fd_); }
    uint16_t port() const { return port_; }

private:
    int fd_;
    uint16_t port_;
};

// One process's engine on the shared port, as each `quintalis mcp` has.
struct Process {
    explicit Process(uint16_t port) {
        host.variables["QUINTALIS_ENGINE_PORT"] = std::to_string(port);
        host.variables["QUINTALIS_AIRPLAY_PORT"] = std::to_string(freePort());
        engine = std::make_unique<Engine>(host, defaults, info, answeringAtOnce([](const HTTPRequest&) {
                                              return HTTPResponse::json(JSON{{"devices", JSON::array()}});
                                          }));
    }

    FakeHostEnvironment host;
    FakeBundleInfo bundle;
    MemoryDefaults defaults;
    AppInfo info{bundle, host};
    std::unique_ptr<Engine> engine;
};

}  // namespace

TEST(MCPEngineLink, EveryLossOfTheEngineItUsesIsMetTheSameWay) {
    RunningMainLoop loop;
    HTTPClient http;
    FakeClock clock;

    // This server lost the race for the port; the winner serves it, then goes too.
    auto held = std::make_unique<HeldPort>();
    const uint16_t port = held->port();
    const std::string url = loopbackURL(port);
    Process mine(port);
    MCPEngineLink link(*mine.engine, http, mine.host, clock, loop.loop);
    link.connect();
    ASSERT_EQ(mine.engine->mode().kind, Engine::Mode::Kind::failed);
    held.reset();
    auto winner = std::make_unique<Process>(port);
    winner->engine->start();
    EXPECT_EQ(link.revive(), "Quintalis answers at " + url + " again.");
    winner.reset();
    EXPECT_EQ(link.revive(), "This server has started its own Quintalis engine at " + url + ".");
    EXPECT_EQ(mine.engine->mode(), Engine::Mode::own());

    // This server found another engine on the port when it revived; once
    // that one goes, it starts its own.
    Process other(freePort());
    other.engine->start();
    const uint16_t otherPort = *other.engine->listeningPort();
    Process second(otherPort);
    MCPEngineLink secondLink(*second.engine, http, second.host, clock, loop.loop);
    second.engine->start();
    ASSERT_EQ(second.engine->mode(), Engine::Mode::external("Quintalis"));
    other.engine.reset();
    EXPECT_EQ(secondLink.revive(),
              "This server has started its own Quintalis engine at " + loopbackURL(otherPort) + ".");
    EXPECT_EQ(second.engine->mode(), Engine::Mode::own());
}
