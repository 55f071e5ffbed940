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

EnvironmentReader noOverrides() {
    return [](const std::string&) -> std::optional<std::string> { return std::nullopt; };
}

JSON ask(AirPlayServer& service, const std::string& path, int* status = nullptr) {
    AirPlayReply reply;
    auto keep = [&](AirPlayReply r) { reply = std::move(r); };
    service.handle(path, {}, AirPlayResponder{keep, [] {}, [] { return false; }, {}});
    if (status) *status = reply.status;
    return parseJSON(reply.body).value_or(JSON());
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

    std::unique_ptr<TestWindow> window(const std::string& title, const std::string& className, bool map = true) {
        auto made = std::make_unique<TestWindow>(*x, 10, 10, 300, 600, map);
        made->setTitle(title);
        made->setClass(className, className);
        return made;
    }

    static int64_t captured(AirPlayServer& service) {
        auto capture = service.capture();
        return capture ? static_cast<int64_t>(capture->windowID()) : -1;
    }

    std::shared_ptr<XConnection> x;
    XDisplayLink link{Xvfb::display()};
    XcbWindowServer server{link};
    XcbWindowStreams streams{link};
    CaptureBackends backends{server, streams, Clock::real(), noOverrides(), "help"};
    NoText text;
    AirPlayServer service{backends, text, std::nullopt};
};

}  // namespace

// Which window wins is the mirror's policy; here the X server's own
// answer, whether a receiver is mapped.
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
