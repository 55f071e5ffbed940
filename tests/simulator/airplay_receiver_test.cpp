#include <gtest/gtest.h>

#include <filesystem>

#include "imaging/codecs.h"
#include "imaging/image_ops.h"
#include "mirror/render_frame.h"
#include "simulator/simulator.h"
#include "support/eventually.h"
#include "support/no_text.h"
#include "support/picture_difference.h"

using namespace quintalis;
using namespace quintalis::simulator;
using namespace quintalis::testing;

namespace {

PhoneSetup overAirPlay() {
    PhoneSetup setup;
    setup.airplay = true;
    return setup;
}

}  // namespace

TEST(HeadlessReceiver, ListsTheWindowAndStreamsThePhonesPicture) {
    Simulator simulator({PhoneSetup{}, overAirPlay()});
    ASSERT_TRUE(simulator.windowServer());
    EXPECT_EQ(simulator.cameras().discover().size(), 1u) << "the AirPlay phone is not on the cable";
    EXPECT_EQ(simulator.groundTruth()["phones"][1]["airplay"], true);

    auto windows = simulator.windowServer()->windows();
    ASSERT_EQ(windows.size(), 1u);
    EXPECT_EQ(windows[0].title, "AirPlay: Simulated iPhone 2");
    EXPECT_EQ(windows[0].bundle, "quintalis-airplay-receiver");
    EXPECT_EQ(windows[0].pid, getpid());
    // Whole, as the X server's list names a real receiver's owner, though
    // this test's name is longer than the kernel keeps.
    EXPECT_EQ(windows[0].owner, std::filesystem::read_symlink("/proc/self/exe").filename().string());
    auto candidates = airplayCandidates(windows, [](const std::string&) { return std::nullopt; });
    ASSERT_EQ(candidates.size(), 1u);

    CaptureBackends backends{*simulator.windowServer(), *simulator.windowStreams(), Clock::real(),
                             [](const std::string&) { return std::nullopt; }, "help"};
    WindowCapture capture(candidates[0], backends);
    capture.start();
    // The first frame may be the empty window; the phone's picture follows.
    NoText text;
    RenderedFrame rendered;
    ASSERT_TRUE(eventually([&] {
        rendered = renderFrame(capture, {.maxDim = 2000, .png = true, .crop = true, .withOCR = false}, text);
        return rendered.result["ok"] == true && rendered.result["content"]["method"] == "edges";
    })) << rendered.result.dump();
    auto picture = decodeImage(rendered.data);
    ASSERT_TRUE(picture);
    // The same phone, drawn on its own, scaled to the crop.
    VirtualPhone twin(1, overAirPlay());
    auto own = twin.frame();
    PixelBuffer expected = scaled(*own, picture->width(), picture->height());
    EXPECT_LT(meanDifference(*picture, expected), 8.0);
    EXPECT_NEAR(static_cast<double>(picture->width()) / picture->height(), 1170.0 / 2532, 0.01);
    capture.stop();
}
