#include <gtest/gtest.h>

#include "commands/command_line.h"
#include "commands/snap.h"
#include "commands/usb_commands.h"
#include "commands/usb_screen.h"
#include "support/fake_capture_devices.h"
#include "support/fake_clock.h"
#include "support/no_text.h"
#include "support/temp_dir.h"

using namespace quintalis;
using namespace quintalis::testing;
using std::chrono::milliseconds;

namespace {

class USBCommandsTest : public ::testing::Test {
protected:
    std::string openFails(const std::vector<std::string>& args) {
        try {
            openSource(args, backends);
        } catch (const CommandFailure& failure) {
            return failure.what();
        }
        return "";
    }

    FakeCaptureDevices devices;
    NoText text;
    FakeClock clock;
    USBCommandBackends backends{devices, text, clock};
};

TEST_F(USBCommandsTest, CameraAccessIsAskedForOnceAndDenialEndsTheCommand) {
    const std::string denied =
        "camera access denied: add this user to the video group (sudo adduser $USER video) and log in again";
    devices.plug(iPhone("p1", "Alice's iPhone"));
    for (auto status : {CaptureAuthorization::denied, CaptureAuthorization::restricted}) {
        devices.status = status;
        EXPECT_EQ(openFails({}), denied);
    }
    devices.status = CaptureAuthorization::notDetermined;
    devices.grant = false;
    EXPECT_EQ(openFails({}), denied);
    devices.grant = true;
    EXPECT_TRUE(ensureCameraAccess(devices, clock));

    // An answer that never comes is waited for 60 s.
    devices.grant.reset();
    FakeClock waiting;
    EXPECT_FALSE(ensureCameraAccess(devices, waiting));
    EXPECT_EQ(waiting.elapsed(), std::chrono::seconds(60));
}

TEST_F(USBCommandsTest, PhonesAreFoundByIdOrNameAmongConnectedIPhones) {
    devices.plug({"cam", "Alice's iPhone", "USB Camera", true});  // not a phone, whatever its name
    devices.plug({"p0", "Bob's iPhone", "iOS Device", false});    // not connected yet
    devices.plug(iPhone("p1", "Alice's iPhone"));
    devices.plug(iPhone("p2", "Carol's iPhone"));
    auto find = [&](std::optional<std::string> id) {
        auto found = findIPhone(devices, clock, id, Duration::zero());
        return found ? found->uniqueID : "";
    };
    EXPECT_EQ(find(std::nullopt), "p1");
    EXPECT_EQ(find("Carol's iPhone"), "p2");
    EXPECT_EQ(find("Bob's iPhone"), "");
    // Named as the engine names them: the start of an id.
    EXPECT_EQ(find("P2"), "p2");
    // The start of two ids names neither.
    EXPECT_THROW(find("p"), CommandFailure);
    EXPECT_TRUE(devices.optedIn);
    EXPECT_EQ(iPhoneCaptureDevices(devices).size(), 2u);
}

TEST_F(USBCommandsTest, NoPhoneWithinTheTimeout) {
    const std::string none =
        "no iPhone screen found over USB: plug it in with a data cable, unlock it and tap Trust (then retry)";
    EXPECT_EQ(openFails({"--timeout", "2"}), none);
    EXPECT_EQ(clock.sleeps(), std::vector<Duration>(20, milliseconds(100)));  // one look every 0.1 s

}

TEST_F(USBCommandsTest, CaptureThatCannotStartNamesThePhone) {
    devices.plug(iPhone("p1", "Alice's iPhone"));
    devices.failNextCapture("p1");
    EXPECT_EQ(openFails({}), "cannot capture Alice's iPhone");  // said once, as the backend says it
    EXPECT_EQ(openFails({"--image", "/nonexistent.png"}), "cannot read /nonexistent.png");
    EXPECT_EQ(openFails({"--image", "/dev/zero"}), "cannot read /dev/zero");  // read for ever, before
}

TEST_F(USBCommandsTest, APhoneWithoutFramesIsOpenedAnywayAndSaysSoWhenSnapped) {
    devices.plug(iPhone("p1", "Alice's iPhone"));
    auto source = openSource({"--timeout", "1"}, backends);
    EXPECT_EQ(clock.elapsed(), std::chrono::seconds(1));  // waited the timeout for a first frame
    EXPECT_EQ(source->name(), "Alice's iPhone");
    EXPECT_EQ(source->id(), "p1");
    TempDir dir;
    const std::string path = (dir.path() / "a.png").string();
    EXPECT_EQ(snap(*source, path, 1000, false, text),
              (JSON{{"ok", false}, {"error", "no frame yet from Alice's iPhone (is the iPhone unlocked?)"}}));

    devices.push("p1", solidFrame(300, 200, 90));
    clock.advance(milliseconds(250));
    auto result = snap(*source, path, 1000, false, text);
    EXPECT_EQ(result["age_ms"], 250);
    EXPECT_EQ(result["w"], 300);
}

// A snapshot is sized as the engine's screenshot of the same limit is
// (imageSize), so pixel places read off it tap where they should.
TEST_F(USBCommandsTest, SnapshotsShrinkTheLongEdgeAsTheScreenshotDoes) {
    USBScreen screen(iPhone("p1", "Alice's iPhone"), devices, clock);
    devices.push("p1", solidFrame(1179, 2556, 120));
    TempDir dir;
    struct Case {
        int64_t maxDim;
        int w, h;
    };
    // 1179 × 1000 / 2556 = 461.3: the screenshot's 461, not 462.
    for (auto [maxDim, w, h] : {Case{1000, 461, 1000}, Case{2556, 1179, 2556}, Case{1, 1, 1}, Case{2555, 1179, 2555},
                                Case{int64_t{1} << 40, 1179, 2556}}) {
        const std::string path = (dir.path() / "shot.jpg").string();
        auto result = snap(screen, path, maxDim, false, text);
        EXPECT_EQ(result, (JSON{{"ok", true}, {"w", w}, {"h", h}, {"fw", 1179}, {"fh", 2556}, {"age_ms", 0}})) << maxDim;
    }
    EXPECT_EQ(snap(screen, (dir.path() / "x.jpg").string(), 0, false, text)["error"], "cannot scale frame");
    const std::string nowhere = (dir.path() / "missing" / "shot.png").string();
    EXPECT_EQ(snap(screen, nowhere, 1000, false, text)["error"], "cannot write " + nowhere);
    EXPECT_EQ(snap(screen, (dir.path() / "t.png").string(), 100, true, text)["ocr"], JSON::array());
}

}  // namespace
