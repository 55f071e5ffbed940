#include <gtest/gtest.h>

#include "mirror/airplay_server.h"
#include "platform/linux/xcb_window_server.h"
#include "platform/linux/xcb_window_streams.h"
#include "support/no_text.h"
#include "support/test_window.h"
#include "support/xvfb.h"

using namespace quintalis;
using namespace quintalis::testing;

namespace {

const std::string kNoWindow =
    "no AirPlay mirroring window: on the iPhone open Control Center \u203a Screen Mirroring \u203a choose this "
    "computer";

EnvironmentReader environment(std::map<std::string, std::string> values) {
    return [values](const std::string& name) -> std::optional<std::string> {
        auto found = values.find(name);
        if (found == values.end()) return std::nullopt;
        return found->second;
    };
}

// The capture service choosing among real windows of a private X server.
// Each window says who it belongs to through its class, as a receiver's does.
class AirPlayChoiceTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(Xvfb::display().empty()) << "Xvfb did not start";
        x = XConnection::open(Xvfb::display());
        ASSERT_TRUE(x);
    }

    std::unique_ptr<TestWindow> window(const std::string& title, const std::string& className, bool map = true,
                                       int width = 300, int height = 600) {
        auto made = std::make_unique<TestWindow>(*x, 10, 10, width, height, map);
        made->setTitle(title);
        made->setClass(className, className);
        return made;
    }

    static JSON ask(AirPlayServer& service, const std::string& path, int* status = nullptr) {
        AirPlayReply reply;
        auto keep = [&](AirPlayReply r) { reply = std::move(r); };
        service.handle(path, {}, AirPlayResponder{keep, [] {}, [] { return false; }, {}});
        if (status) *status = reply.status;
        return parseJSON(reply.body).value_or(JSON());
    }

    static int64_t captured(AirPlayServer& service) {
        auto capture = service.capture();
        return capture ? static_cast<int64_t>(capture->windowID()) : -1;
    }

    std::shared_ptr<XConnection> x;
    XDisplayLink link{Xvfb::display()};
    XcbWindowServer server{link};
    XcbWindowStreams streams{link};
    CaptureBackends backends{server, streams, Clock::real(), environment({}), "help"};
    NoText text;
    AirPlayServer service{backends, text, std::nullopt};
};

}  // namespace

TEST_F(AirPlayChoiceTest, ATitleAloneIsListedButTheReceiverIsCapturedAndABetterOneTakesOver) {
    auto browser = window("iPhone 15 review - Web Browser", "Web-Browser", true, 900, 700);
    JSON status = ask(service, "/status");
    ASSERT_EQ(status["candidates"].size(), 1u) << status;
    EXPECT_EQ(status["candidates"][0]["id"], browser->number());
    EXPECT_TRUE(status["candidates"][0]["note"].is_string()) << status;
    EXPECT_FALSE(status.contains("window")) << "a title is no evidence";
    EXPECT_EQ(status["error"], kNoWindow);

    auto uxplay = window("UxPlay@desk", "UxPlay");
    EXPECT_EQ(captured(service), uxplay->number()) << "the receiver appearing later is taken";
    status = ask(service, "/status");
    EXPECT_EQ(status["window"]["id"], uxplay->number());
    EXPECT_FALSE(status["window"].contains("note"));

    auto agent = window("", "AirPlayUIAgent");
    EXPECT_EQ(captured(service), agent->number()) << "a better receiver takes over at the next request";
    agent->destroy();
    EXPECT_EQ(captured(service), uxplay->number());

    // Asked for by number or by title, the title-only window is captured.
    AirPlayServer fixed{backends, text, browser->number()};
    EXPECT_EQ(captured(fixed), browser->number());
    CaptureBackends titled{server, streams, Clock::real(), environment({{"QUINTALIS_AIRPLAY_TITLE", "review"}}),
                           "help"};
    AirPlayServer byTitle{titled, text, std::nullopt};
    EXPECT_EQ(captured(byTitle), browser->number());
}

TEST_F(AirPlayChoiceTest, AHiddenReceiverIsNamedAtOnceAndOneOnScreenIsPreferred) {
    auto hidden = window("UxPlay@desk", "UxPlay", false);
    int status = 0;
    JSON frame = ask(service, "/frame.jpg", &status);
    EXPECT_EQ(status, 503);
    EXPECT_EQ(frame["error"], kAirPlayWindowHidden);
    EXPECT_EQ(ask(service, "/status")["error"], kAirPlayWindowHidden);

    // Scored a little lower (no telling title), but it shows something.
    auto shown = window("Receiver", "airplay-viewer");
    EXPECT_EQ(captured(service), shown->number());
    shown->destroy();
    EXPECT_EQ(captured(service), -1);

    hidden->map();
    EXPECT_EQ(captured(service), hidden->number());
    hidden->unmap();
    EXPECT_EQ(captured(service), -1) << "a capture of a window gone from the screen is dropped";
    EXPECT_EQ(ask(service, "/status")["error"], kAirPlayWindowHidden);
}

TEST(AirPlayWithoutComposite, PermissionIsFalseWithTheReason) {
    ASSERT_FALSE(Xvfb::displayWithoutComposite().empty()) << "Xvfb did not start";
    auto x = XConnection::open(Xvfb::displayWithoutComposite());
    ASSERT_TRUE(x);
    TestWindow receiver(*x, 0, 0, 300, 600);
    receiver.setClass("uxplay", "UxPlay");

    XDisplayLink link{Xvfb::displayWithoutComposite()};
    XcbWindowServer server{link};
    XcbWindowStreams streams{link};
    CaptureBackends backends{server, streams, Clock::real(), environment({}), "help"};
    NoText text;
    AirPlayServer service{backends, text, std::nullopt};
    AirPlayReply reply;
    auto keep = [&](AirPlayReply r) { reply = std::move(r); };
    service.handle("/status", {}, AirPlayResponder{keep, [] {}, [] { return false; }, {}});
    JSON status = parseJSON(reply.body).value_or(JSON());
    EXPECT_EQ(status["permission"], false);
    EXPECT_EQ(status["error"], "Screen capture isn't available: the X server has no Composite extension, which "
                               "capturing a window needs");
    ASSERT_EQ(status["candidates"].size(), 1u) << "windows are still listed";
    EXPECT_FALSE(service.capture());
}
