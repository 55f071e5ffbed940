#include <gtest/gtest.h>

#include "imaging/codecs.h"
#include "imaging/image_ops.h"
#include "mirror/render_frame.h"
#include "platform/linux/xcb_window_server.h"
#include "platform/linux/xcb_window_streams.h"
#include "simulator/virtual_phone.h"
#include "support/engine_process.h"
#include "support/find_colour.h"
#include "support/no_text.h"
#include "support/picture_difference.h"
#include "support/temp_dir.h"
#include "support/xvfb.h"

using namespace quintalis;
using namespace quintalis::testing;

// The program shows a phone in a real receiver window on the X server. Its
// own AirPlay service crops the phone out and tells when a tap through the
// engine has settled; the real listing and capture find the same window and
// follow it until the program goes.
TEST(AirPlayReceiver, TheProgramsReceiverWindowIsServedCapturedAndFollowed) {
    ASSERT_FALSE(Xvfb::display().empty()) << "Xvfb did not start";
    setenv("DISPLAY", Xvfb::display().c_str(), 1);
    TempDir home;
    EngineProcess engine("phone:airplay", home.path());
    JSON status;
    ASSERT_TRUE(engine.waitFor([&] {
        status = engine.json(engine.airplayGet("/status"));
        return status["frame"]["content"]["method"] == "edges";
    })) << status.dump() << engine.log();
    EXPECT_EQ(status["window"]["title"], "AirPlay: Simulated iPhone");
    auto reply = engine.airplayGet("/frame.png?maxEdge=2000");
    ASSERT_EQ(reply.status, 200) << reply.body;
    auto picture = decodeImage(reply.body);
    ASSERT_TRUE(picture);
    simulator::PhoneSetup setup;
    setup.airplay = true;
    simulator::VirtualPhone twin(0, setup);
    EXPECT_LT(meanDifference(*picture, scaled(*twin.frame(), picture->width(), picture->height())), 8.0);

    XDisplayLink link(Xvfb::display());
    XcbWindowServer server(link);
    XcbWindowStreams streams(link);
    const EnvironmentReader noVariables = [](const std::string&) { return std::nullopt; };
    auto candidates = airplayCandidates(server.windows(), noVariables);
    ASSERT_FALSE(candidates.empty());
    EXPECT_EQ(candidates.front().window.bundle, "quintalis-airplay-receiver");
    EXPECT_EQ((std::pair{candidates.front().window.width, candidates.front().window.height}), (std::pair{600.0, 1000.0}));
    CaptureBackends backends{server, streams, Clock::real(), noVariables, "help"};
    WindowCapture capture(candidates.front(), backends);
    capture.start();
    NoText text;
    ASSERT_TRUE(engine.waitFor([&] {
        return renderFrame(capture, {.maxDim = 2000, .png = true, .crop = true, .withOCR = false}, text).result["ok"] == true;
    }));

    // A tap on Settings through Bluetooth, by fractions of the screen, as an agent sends it.
    ASSERT_TRUE(engine.waitFor([&] { return engine.json(engine.get("/status"))["hosts"].size() == 1; })) << engine.log();
    auto settings = findColour(*picture, 0x8E8E93);
    ASSERT_TRUE(settings);
    const int64_t before = Clock::real().wallMillis();
    auto tap = engine.post("/tap", {{"x", static_cast<double>(settings->first) / picture->width()},
                                    {"y", static_cast<double>(settings->second) / picture->height()},
                                    {"fraction", true}});
    ASSERT_EQ(tap.status, 200) << tap.body;
    EXPECT_TRUE(engine.waitFor([&] { return engine.truth()[0]["app"] == "Settings"; })) << engine.truth().dump();
    EXPECT_TRUE(engine.waitFor([&] {
        return engine.json(engine.airplayGet("/wait?since=" + std::to_string(before)))["settled"] == true;
    }));
    JSON changes = engine.json(engine.airplayGet("/changes?since=" + std::to_string(before)));
    ASSERT_FALSE(changes["changes"].empty()) << changes.dump();
    EXPECT_GT(changes["changes"][0], static_cast<double>(before));
    EXPECT_TRUE(engine.waitFor([&] { return !capture.changeTimes(static_cast<double>(before)).empty(); }, 5));

    engine.stop();
    EXPECT_TRUE(engine.waitFor([&] { return capture.stoppedError() == "window closed"; }, 5))
        << "the window goes with the program";
}
