#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include "bluetooth/report_map.h"
#include "engine/http_server.h"
#include "engine/airplay_service.h"
#include "imaging/codecs.h"
#include "mcp/service_phone_access.h"
#include "support/engine_api.h"
#include "support/fake_clock.h"
#include "support/fake_windows.h"
#include "support/no_text.h"
#include "support/raw_http.h"

using namespace quintalis;
using namespace quintalis::mcp;
using quintalis::testing::pointerAt;
using quintalis::testing::TestPhone;
using quintalis::testing::testPhone;

namespace {

// The engine on a loopback port over fake phones, each matched to its host.
struct EngineOnLoopback : quintalis::testing::API {
    explicit EngineOnLoopback(std::vector<TestPhone> phones) : API(std::move(phones)) { rig.devices.match(false, false); }
    std::string url() { return "http://127.0.0.1:" + std::to_string(engine->port()); }
};

// The program's own AirPlay service over a fake window server that shows a receiver window.
struct AirPlayOnLoopback {
    AirPlayOnLoopback() {
        windows.setWindows({quintalis::testing::receiverWindow()});
        server.capture();
        streams.deliver(quintalis::testing::receiverFrame());
    }
    std::string url() { return "http://127.0.0.1:" + std::to_string(listener->boundPort()); }

    quintalis::testing::FakeWindowServer windows;
    quintalis::testing::FakeWindowStreams streams;
    quintalis::testing::FakeClock clock;
    CaptureBackends captures{windows, streams, clock, [](const std::string&) { return std::nullopt; },
                             "Screen capture isn't available"};
    quintalis::testing::NoText text;
    AirPlayServer server{captures, text, std::nullopt};
    std::unique_ptr<HTTPServer> listener =
        serveHTTP(0, [this](const std::string& path, const AirPlayQuery& query, const AirPlayResponder& responder) {
            server.handle(path, query, responder);
        });
};

const Cancellation& none = Cancellation::never();

std::string nobody() { return "http://127.0.0.1:" + std::to_string(quintalis::testing::freePort()); }

}  // namespace

TEST(ServicePhoneAccess, PhonesOnUSBAreSeenAndDrivenThroughTheEngine) {
    TestPhone phone = testPhone(1, "Desk iPhone");
    EngineOnLoopback engine({phone});
    HTTPClient http;
    FixedEngineLink accessLink(engine.url(), nobody());
    ServicePhoneAccess access(http, accessLink);

    auto list = access.phones(none);
    ASSERT_EQ(list.phones.size(), 1u);
    const Phone& found = list.phones[0];
    EXPECT_EQ(found.id, phone.id);
    EXPECT_EQ(found.seen, Phone::Seen::usb);
    EXPECT_TRUE(found.bluetooth);
    EXPECT_EQ(found.screen, (ImageSize{1170, 2532}));

    auto picture = access.look(found, 600, none);
    EXPECT_EQ(picture.image, (ImageSize{277, 600}));
    EXPECT_EQ(decodeImage(picture.jpeg)->width(), 277);

    SettleRule rule;
    rule.since = engine.rig.clock.wallMillis();
    access.act(found, "/tap", JSON{{"x", 0.25}, {"y", 0.5}}, none);
    // The tap, then the pointer to its resting place.
    auto pointer = engine.rig.sent(phone.host, 2);
    ASSERT_GE(pointer.size(), 2u);
    EXPECT_EQ(pointer[pointer.size() - 2], pointerAt(0.25, 0.5));
    EXPECT_GE(access.waitToSettle(found, rule, none)["changes"].get<int>(), 1);
    EXPECT_THROW(access.act(found, "/type", JSON::object(), none), PhoneError);  // the engine's 400, as an error
}

TEST(ServicePhoneAccess, AnAirPlayPhoneIsSeenByTheServiceAndDrivenByItsOwnHostOnly) {
    TestPhone usb = testPhone(1, "Desk iPhone");
    TestPhone mirrored = testPhone(2, "Mirrored iPhone");
    EngineOnLoopback engine({usb});
    AirPlayOnLoopback airplay;
    HTTPClient http;
    FixedEngineLink accessLink(engine.url(), airplay.url());
    ServicePhoneAccess access(http, accessLink);

    // Without a host of its own it is seen but cannot be driven.
    auto list = access.phones(none);
    ASSERT_EQ(list.phones.size(), 2u);
    EXPECT_FALSE(list.phones[1].bluetooth);
    try {
        access.act(list.phones[1], "/home", JSON::object(), none);
        ADD_FAILURE() << "an AirPlay phone without a host";
    } catch (const PhoneError& error) {
        EXPECT_NE(std::string(error.what()).find("UxPlay@desk (seen over AirPlay) has no Bluetooth connection"),
                  std::string::npos);
    }

    engine.rig.connect(mirrored);  // on Bluetooth, not on USB
    list = access.phones(none);
    ASSERT_EQ(list.phones.size(), 2u);
    const Phone& phone = list.phones[1];
    EXPECT_EQ(phone.id, "airplay");
    EXPECT_EQ(phone.seen, Phone::Seen::airplay);
    EXPECT_EQ(phone.host, mirrored.host.string());
    EXPECT_EQ(phone.screen, (ImageSize{448, 972}));

    EXPECT_EQ(access.look(phone, 486, none).image, (ImageSize{224, 486}));
    access.act(phone, "/tap", JSON{{"x", 0.5}, {"y", 0.75}}, none);
    auto pointer = engine.rig.sent(mirrored.host, 2);
    ASSERT_GE(pointer.size(), 2u);
    EXPECT_EQ(pointer[pointer.size() - 2], pointerAt(0.5, 0.75));
    EXPECT_TRUE(engine.rig.sent(usb.host, 2).empty());
    SettleRule rule;
    rule.since = airplay.clock.wallMillis();
    auto settled = access.waitToSettle(phone, rule, none);
    EXPECT_EQ(settled["settled"], true);
    EXPECT_EQ(settled["since_ms"], 900) << "waited from the moment asked for";

    airplay.streams.end("the X display closed");  // the next capture has no frame yet
    EXPECT_THROW(access.look(phone, 1200, none), PhoneError);
    // Two hosts without a USB phone: either may be the mirrored one, so neither is driven.
    TestPhone another = testPhone(3, "Other iPhone");
    engine.rig.connect(another);
    list = access.phones(none);
    EXPECT_FALSE(list.phones.at(1).host);
    EXPECT_NE(list.problems.at(0).find("2 Bluetooth connections belong to no USB phone"), std::string::npos);
    // Without a window the service's reason is kept for the model.
    airplay.windows.setUnavailable("DISPLAY is not set");
    list = access.phones(none);
    EXPECT_EQ(list.phones.size(), 1u);
    EXPECT_EQ(list.problems, std::vector<std::string>{"AirPlay: Screen capture isn't available"});
}

TEST(ServicePhoneAccess, SaysWhenQuintalisIsNotThere) {
    HTTPClient http;
    std::string engine = nobody();
    FixedEngineLink accessLink(engine, nobody());
    ServicePhoneAccess access(http, accessLink);
    try {
        access.phones(none);
        ADD_FAILURE() << "phones without an engine";
    } catch (const PhoneError& error) {
        EXPECT_EQ(std::string(error.what()),
                  "Quintalis is not running: nothing answers at " + engine + ". Open Quintalis and try again.");
    }
    // Some other program on the engine's port.
    HTTPServer stranger(0, [](const HTTPRequest&) { return HTTPResponse::json(JSON{{"hello", 1}}); });
    stranger.start();
    std::string url = "http://127.0.0.1:" + std::to_string(stranger.boundPort());
    FixedEngineLink confusedLink(url, nobody());
    ServicePhoneAccess confused(http, confusedLink);
    try {
        confused.phones(none);
        ADD_FAILURE() << "phones from a stranger";
    } catch (const PhoneError& error) {
        EXPECT_EQ(std::string(error.what()).rfind("Something other than Quintalis answers at " + url, 0), 0u);
    }
}

namespace {

// An engine that moves: nothing answers at first, and reviving finds it.
class MovingLink final : public EngineLink {
public:
    MovingLink(std::string later) : later_(std::move(later)) {}
    std::string engineURL() const override { return now_; }
    std::string airplayURL() const override { return nobody_; }
    std::optional<std::string> revive() override {
        if (later_.empty()) return std::nullopt;
        now_ = later_;
        return "This server has started its own Quintalis engine.";
    }
    bool starting() const override { return false; }

private:
    std::string later_;
    std::string nobody_ = nobody();
    std::string now_ = nobody();
};

}  // namespace

TEST(ServicePhoneAccess, AServerWhoseEngineWentAwayTakesOver) {
    TestPhone phone = testPhone(1, "Desk iPhone");
    EngineOnLoopback engine({phone});
    HTTPClient http;
    // A question is simply asked again of the engine that took over.
    MovingLink moving(engine.url());
    ServicePhoneAccess access(http, moving);
    Phone found = access.phones(none).phones.at(0);

    // An action under way may be partly done: it fails once, saying so.
    MovingLink again(engine.url());
    ServicePhoneAccess acting(http, again);
    try {
        acting.act(found, "/home", JSON::object(), none);
        ADD_FAILURE() << "an action whose engine went away";
    } catch (const PhoneError& error) {
        EXPECT_NE(std::string(error.what()).find("went away during this action, which may be only partly done. This "
                                                 "server has started its own Quintalis engine."),
                  std::string::npos)
            << error.what();
    }
    acting.act(found, "/home", JSON::object(), none);  // and then works

    MovingLink nowhere("");
    ServicePhoneAccess lost(http, nowhere);
    EXPECT_THROW(lost.phones(none), PhoneError);
}

TEST(ServicePhoneAccess, ACancelEndsARequestUnderWayAtOnce) {
    // A wait that answers only when the test lets it.
    std::mutex mutex;
    std::condition_variable changed;
    bool arrived = false;
    bool released = false;
    HTTPServer slow(0, [&](const HTTPRequest&) {
        std::unique_lock lock(mutex);
        arrived = true;
        changed.notify_all();
        changed.wait(lock, [&] { return released; });
        return HTTPResponse::json(JSON{{"settled", true}});
    });
    slow.start();
    std::string url = "http://127.0.0.1:" + std::to_string(slow.boundPort());
    HTTPClient http;
    Cancellation stop;
    std::thread cancel([&] {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return arrived; });
        stop.cancel();
    });
    EXPECT_THROW(http.get(url + "/wait", std::chrono::seconds(600), stop), Cancelled);
    cancel.join();
    {
        std::lock_guard lock(mutex);
        released = true;
    }
    changed.notify_all();
    // Cancelled before it starts, a request is not sent at all.
    EXPECT_THROW(http.get(url + "/wait", std::chrono::seconds(1), stop), Cancelled);
}
