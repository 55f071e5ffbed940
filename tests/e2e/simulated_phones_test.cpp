#include <gtest/gtest.h>

#include "phones/pairings_store.h"
#include "simulator/virtual_phone.h"
#include "support/picture_difference.h"
#include "support/engine_process.h"
#include "support/phone_steps.h"

using namespace quintalis;
using namespace quintalis::testing;

namespace {

// Screen id to the central UUID of the same virtual phone.
std::map<std::string, std::string> truePairs(EngineProcess& engine) {
    std::map<std::string, std::string> pairs;
    for (const auto& phone : engine.truth()) pairs[phone["screenId"]] = phone["central"];
    return pairs;
}

}  // namespace

TEST(SimulatedPhones, MatchingPairsEachHostWithItsOwnScreenAndSurvivesARestart) {
    TempDir home;
    std::map<std::string, std::string> expected;
    {
        EngineProcess engine("2", home.path());
        ASSERT_TRUE(engine.waitFor([&] { return allPaired(engine, 2); })) << engine.log();
        expected = truePairs(engine);
        std::map<std::string, std::string> stored;
        for (const auto& [screen, host] : loadPairings(home.path() / "Skiffline" / "pairings.json", 0)) stored[screen] = host.string();
        EXPECT_EQ(stored, expected);

        auto forced = engine.json(engine.post("/match", {{"force", true}}));
        EXPECT_EQ(forced["matched"], JSON(expected)) << forced.dump();
        EXPECT_EQ(engine.stop(), 0);
    }
    EngineProcess again("2", home.path());
    ASSERT_TRUE(again.waitFor([&] { return allPaired(again, 2); })) << again.log();
    EXPECT_EQ(truePairs(again), expected);
    EXPECT_EQ(again.log().find("probe "), std::string::npos) << "a restart should need no probe";
}

TEST(SimulatedPhones, DrivingThePhone) {
    TempDir home;
    EngineProcess engine("1", home.path());
    ASSERT_TRUE(engine.waitFor([&] { return allPaired(engine, 1); })) << engine.log();

    openApp(engine, 0x8E8E93, "Settings");
    EXPECT_EQ(engine.post("/home").status, 200);
    ASSERT_TRUE(engine.waitFor([&] { return engine.truth()[0]["app"] == "Home"; }));

    openApp(engine, 0xF7C744, "Notes");
    auto typed = engine.post("/type", {{"text", "Hello, World!\nSecond line"}});
    ASSERT_EQ(typed.status, 200) << typed.body;
    EXPECT_TRUE(engine.waitFor([&] { return engine.truth()[0]["notesText"] == "Hello, World!\nSecond line"; }))
        << engine.truth().dump();
    engine.post("/key", {{"key", "backspace"}});
    EXPECT_TRUE(engine.waitFor([&] { return engine.truth()[0]["notesText"] == "Hello, World!\nSecond lin"; }));

    // A drag up from the bottom edge goes home too.
    engine.post("/swipe", {{"x1", 0.5}, {"y1", 0.995}, {"x2", 0.5}, {"y2", 0.6}, {"fraction", true}});
    ASSERT_TRUE(engine.waitFor([&] { return engine.truth()[0]["app"] == "Home"; }));

    openApp(engine, 0x9C8C7C, "Contacts");
    auto swipe = engine.post("/swipe", {{"x1", 0.5}, {"y1", 0.8}, {"x2", 0.5}, {"y2", 0.3}, {"fraction", true}});
    ASSERT_EQ(swipe.status, 200);
    EXPECT_TRUE(engine.waitFor([&] { return engine.truth()[0]["scroll"].value("Contacts", 0.0) > 100; }))
        << engine.truth().dump();
}

TEST(SimulatedPhones, ALockedPhoneHasNoScreenshot) {
    TempDir home;
    EngineProcess engine("phone:locked", home.path());
    ASSERT_TRUE(engine.waitFor([&] { return engine.json(engine.get("/status"))["devices"].size() == 1; }));
    auto shot = engine.get("/screenshot");
    EXPECT_EQ(shot.status, 503);
    EXPECT_EQ(engine.json(shot)["error"], "no frame yet from Simulated iPhone: unlock it");
}

TEST(SimulatedPhones, WithoutAssistiveTouchMatchingCannotTell) {
    TempDir home;
    EngineProcess engine("phone,phone:no-assistivetouch", home.path());
    // The first phone is matched; the second one's pointer never shows.
    ASSERT_TRUE(engine.waitFor([&] {
        auto devices = engine.json(engine.get("/status"))["devices"];
        return devices.size() == 2 && devices[0]["bluetooth"] == true;
    })) << engine.log();
    ASSERT_TRUE(engine.waitFor([&] { return engine.log().find("probe ") != std::string::npos; }));
    auto status = engine.json(engine.get("/status"));
    EXPECT_EQ(status["devices"][1]["bluetooth"], false);
    EXPECT_EQ(status["unmatchedHosts"].size(), 1u);
    auto tap = engine.post("/tap", {{"device", "Simulated iPhone 2"}, {"x", 0.5}, {"y", 0.5}, {"fraction", true}});
    EXPECT_EQ(tap.status, 400);
    EXPECT_EQ(engine.json(tap)["error"],
              "could not tell which Bluetooth connection is Simulated iPhone 2: unlock it, check AssistiveTouch is on, "
              "then POST /match");
}

TEST(SimulatedPhones, APhoneWithBluetoothOffNeverConnects) {
    TempDir home;
    EngineProcess engine("phone:no-bluetooth", home.path());
    ASSERT_TRUE(engine.waitFor([&] { return engine.json(engine.get("/status"))["devices"].size() == 1; }));
    auto status = engine.json(engine.get("/status"));
    EXPECT_EQ(status["hosts"], JSON::array());
    EXPECT_EQ(status["bluetooth"], "advertising as Skiffline");
    EXPECT_EQ(engine.json(engine.post("/home"))["error"],
              "Simulated iPhone has no Bluetooth connection: pair \"Skiffline\" in its Bluetooth settings");
}

// The cable carries the phone's own picture: encoded by the virtual phone,
// parsed and decoded by the program, within what H.264 loses.
TEST(SimulatedPhones, TheScreenshotShowsThePhonesPictureThroughTheCable) {
    TempDir home;
    EngineProcess engine("1", home.path());
    simulator::VirtualPhone phone(0, {});
    PixelBufferRef truth = phone.frame();
    std::optional<PixelBuffer> shot;
    ASSERT_TRUE(engine.waitFor([&] {
        auto reply = engine.get("/screenshot?format=png");
        if (reply.status != 200) return false;
        shot = decodeImage(reply.body);
        return shot.has_value();
    })) << engine.log();
    ASSERT_EQ(shot->width(), truth->width());
    ASSERT_EQ(shot->height(), truth->height());
    EXPECT_LT(meanDifference(*shot, *truth), 3.0);
    EXPECT_NE(engine.log().find("Simulated iPhone over USB: H.264 1179\u00d72556"), std::string::npos) << engine.log();
}
