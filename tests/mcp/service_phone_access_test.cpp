#include <gtest/gtest.h>

#include "bluetooth/report_map.h"
#include "engine/http_server.h"
#include "engine/routes.h"
#include "imaging/codecs.h"
#include "mcp/service_phone_access.h"
#include "support/log_capture.h"
#include "support/phone_rig.h"
#include "support/raw_http.h"

using namespace quintalis;
using namespace quintalis::mcp;
using quintalis::testing::PhoneRig;
using quintalis::testing::TestPhone;
using quintalis::testing::testPhone;

namespace {

// The engine's routes on a loopback port, over fake phones.
struct EngineOnLoopback {
    explicit EngineOnLoopback(std::vector<TestPhone> phones) : rig(std::move(phones)) {
        server.start();
        rig.devices.match(false, false);
    }
    std::string url() { return "http://127.0.0.1:" + std::to_string(server.boundPort()); }

    quintalis::testing::LogCapture logs;
    PhoneRig rig;
    Routes routes{rig.peripheral, rig.devices, rig.clock};
    HTTPServer server{0, [this](const HTTPRequest& request, Responder reply) { routes.handle(request, reply); }};
};

// An AirPlay capture service as its routes are documented: a status, a
// frame and a wait, here with fixed answers.
struct FakeAirPlayService {
    FakeAirPlayService() { server.start(); }
    std::string url() { return "http://127.0.0.1:" + std::to_string(server.boundPort()); }

    HTTPResponse handle(const HTTPRequest& request) {
        std::lock_guard lock(mutex);
        if (request.path == "/status") return HTTPResponse::json(status);
        if (request.path == "/frame.jpg") {
            if (!frame) return HTTPResponse::json(JSON{{"ok", false}, {"error", "no frame yet from the AirPlay window"}}, 503);
            lastFrameQuery = request.query;
            HTTPResponse response;
            response.contentType = "image/jpeg";
            response.body = *frame;
            return response;
        }
        if (request.path == "/wait") {
            lastWaitQuery = request.query;
            return HTTPResponse::json(JSON{{"ok", true}, {"settled", true}, {"changes", 1}});
        }
        return HTTPResponse::json(JSON{{"ok", false}, {"error", "not found"}}, 404);
    }

    std::mutex mutex;
    JSON status{{"ok", true},
                {"app", "quintalis-mirror"},
                {"window", {{"id", 5}, {"owner", "uxplay"}, {"title", "UxPlay@desk"}}},
                {"frame", {{"w", 600}, {"h", 1000}, {"content", {{"x", 70}, {"y", 28}, {"w", 460}, {"h", 972}}}}}};
    std::optional<std::string> frame = encodeJPEG(PixelBuffer(230, 486), 80);
    std::map<std::string, std::string> lastFrameQuery;
    std::map<std::string, std::string> lastWaitQuery;
    HTTPServer server{0, [this](const HTTPRequest& request) { return handle(request); }};
};

std::string nobody() { return "http://127.0.0.1:" + std::to_string(quintalis::testing::freePort()); }

Bytes pointerAt(double x, double y) {
    return absolutePointerReport(0, pointerCoordinate(x), pointerCoordinate(y));
}

}  // namespace

TEST(ServicePhoneAccess, PhonesOnUSBAreSeenAndDrivenThroughTheEngine) {
    TestPhone phone = testPhone(1, "Desk iPhone");
    EngineOnLoopback engine({phone});
    HTTPClient http;
    ServicePhoneAccess access(http, engine.url(), nobody());

    auto list = access.phones();
    ASSERT_EQ(list.phones.size(), 1u);
    const Phone& found = list.phones[0];
    EXPECT_EQ(found.id, phone.id);
    EXPECT_EQ(found.name, "Desk iPhone");
    EXPECT_EQ(found.seen, Phone::Seen::usb);
    EXPECT_TRUE(found.bluetooth);
    EXPECT_EQ(found.screen, (ImageSize{1170, 2532}));
    EXPECT_TRUE(list.problems.empty());

    auto picture = access.look(found, 600);
    EXPECT_EQ(picture.screen, (ImageSize{1170, 2532}));
    EXPECT_EQ(picture.image, (ImageSize{277, 600}));
    auto decoded = decodeImage(picture.jpeg);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->width(), 277);

    SettleRule rule;
    rule.since = engine.rig.clock.wallMillis();
    access.act(found, "/tap", JSON{{"x", 0.25}, {"y", 0.5}});
    EXPECT_EQ(engine.rig.sent(phone.host, 2).back(), pointerAt(0.25, 0.5));
    auto settled = access.waitToSettle(found, rule);
    EXPECT_EQ(settled["settled"], true);
    EXPECT_GE(settled["changes"].get<int>(), 1);

    EXPECT_THROW(access.act(found, "/type", JSON::object()), PhoneError);  // the engine's 400, as an error
}

TEST(ServicePhoneAccess, AnAirPlayPhoneIsSeenByTheServiceAndDrivenByItsHost) {
    TestPhone usb = testPhone(1, "Desk iPhone");
    TestPhone mirrored = testPhone(2, "Mirrored iPhone");
    EngineOnLoopback engine({usb});
    engine.rig.connect(mirrored);  // on Bluetooth, not on USB
    FakeAirPlayService airplay;
    HTTPClient http;
    ServicePhoneAccess access(http, engine.url(), airplay.url());

    auto list = access.phones();
    ASSERT_EQ(list.phones.size(), 2u);
    const Phone& phone = list.phones[1];
    EXPECT_EQ(phone.id, "airplay");
    EXPECT_EQ(phone.name, "UxPlay@desk");
    EXPECT_EQ(phone.seen, Phone::Seen::airplay);
    EXPECT_EQ(phone.host, mirrored.host.string());
    EXPECT_TRUE(phone.bluetooth);
    EXPECT_EQ(phone.screen, (ImageSize{460, 972}));

    auto picture = access.look(phone, 486);
    EXPECT_EQ(airplay.lastFrameQuery, (std::map<std::string, std::string>{{"maxEdge", "486"}}));
    EXPECT_EQ(picture.image, (ImageSize{230, 486}));
    EXPECT_EQ(picture.screen, (ImageSize{460, 972}));

    access.act(phone, "/tap", JSON{{"x", 0.5}, {"y", 0.75}});
    EXPECT_EQ(engine.rig.sent(mirrored.host, 2).back(), pointerAt(0.5, 0.75));
    EXPECT_TRUE(engine.rig.sent(usb.host, 2).empty());

    SettleRule rule;
    rule.since = 1767225600000;
    rule.max = 4000;
    EXPECT_EQ(access.waitToSettle(phone, rule)["settled"], true);
    EXPECT_EQ(airplay.lastWaitQuery, (std::map<std::string, std::string>{
                                         {"since", "1767225600000"}, {"min", "250"}, {"quiet", "250"}, {"max", "4000"},
                                         {"first", "900"}}));

    airplay.frame.reset();
    try {
        access.look(phone, 1200);
        ADD_FAILURE() << "a frame without a picture";
    } catch (const PhoneError& error) {
        EXPECT_STREQ(error.what(), "AirPlay: no frame yet from the AirPlay window");
    }
}

TEST(ServicePhoneAccess, AnAirPlayPhoneWithoutItsOwnHostCannotBeDriven) {
    TestPhone usb = testPhone(1, "Desk iPhone");
    EngineOnLoopback engine({usb});
    FakeAirPlayService airplay;
    HTTPClient http;
    ServicePhoneAccess access(http, engine.url(), airplay.url());
    auto list = access.phones();
    ASSERT_EQ(list.phones.size(), 2u);
    EXPECT_FALSE(list.phones[1].bluetooth);
    try {
        access.act(list.phones[1], "/home", JSON::object());
        ADD_FAILURE() << "an AirPlay phone without a host";
    } catch (const PhoneError& error) {
        EXPECT_NE(std::string(error.what()).find("UxPlay@desk (seen over AirPlay) has no Bluetooth connection"),
                  std::string::npos);
    }

    // Without a window the service's reason is kept for the model.
    airplay.status = JSON{{"ok", true}, {"permission", false}, {"error", "Screen capture isn't available"}};
    list = access.phones();
    EXPECT_EQ(list.phones.size(), 1u);
    EXPECT_EQ(list.problems, std::vector<std::string>{"AirPlay: Screen capture isn't available"});
}

TEST(ServicePhoneAccess, SaysWhenQuintalisIsNotThere) {
    HTTPClient http;
    std::string engine = nobody();
    ServicePhoneAccess access(http, engine, nobody());
    try {
        access.phones();
        ADD_FAILURE() << "phones without an engine";
    } catch (const PhoneError& error) {
        EXPECT_EQ(std::string(error.what()),
                  "Quintalis is not running: nothing answers at " + engine + ". Open Quintalis and try again.");
    }
    Phone phone;
    phone.id = "x";
    EXPECT_THROW(access.act(phone, "/home", JSON::object()), PhoneError);

    // Some other program on the engine's port.
    HTTPServer stranger(0, [](const HTTPRequest&) { return HTTPResponse::json(JSON{{"hello", 1}}); });
    stranger.start();
    std::string url = "http://127.0.0.1:" + std::to_string(stranger.boundPort());
    ServicePhoneAccess confused(http, url, nobody());
    try {
        confused.phones();
        ADD_FAILURE() << "phones from a stranger";
    } catch (const PhoneError& error) {
        EXPECT_EQ(std::string(error.what()).rfind("Something other than Quintalis answers at " + url, 0), 0u);
    }
}
