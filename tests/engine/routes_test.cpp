#include <gtest/gtest.h>

#include <fstream>
#include <thread>

#include "imaging/codecs.h"
#include "support/engine_api.h"

using namespace quintalis;
using namespace quintalis::testing;

TEST(Routes, StatusAndAPairingWindowThatOpensForAWhile) {
    API api({});
    EXPECT_EQ(api.get("/status").body,
              R"({"app":"Quintalis","bluetooth":"advertising as Skiffline","devices":[],"hostInput":true,)"
              R"("hosts":[],"pairing":0,"paused":false,"unmatchedHosts":[],"version":"dev"})");
    EXPECT_EQ(api.get("/Status").status, 404);

    EXPECT_EQ(api.post("/pairing", R"({"seconds": 30})").body, R"({"name":"Skiffline","pairing":30})");
    EXPECT_EQ(api.json(api.post("/pairing"))["pairing"], 120);  // the default, from now
    for (const char* bad : {R"({"seconds": 601})", R"({"seconds": "30"})"}) {
        EXPECT_EQ(error(api.post("/pairing", bad)), "seconds must be a number from 0 to 600") << bad;
    }
    EXPECT_EQ(api.json(api.post("/pairing", R"({"seconds": 0})"))["pairing"], 0);
    // The radio heard each window, the refused ones not at all.
    std::vector<Duration> windows;
    api.rig.peripheral.sync([&] { windows = api.rig.role.manager->pairingWindows; });
    EXPECT_EQ(windows, (std::vector<Duration>{std::chrono::seconds(30), std::chrono::seconds(120), Duration::zero()}));
}

TEST(Routes, ABodyNestedTooDeeplyIsRefusedEverywhereAndMovesNothing) {
    TestPhone phone = testPhone(1, "Phone");
    API api({phone});
    ASSERT_EQ(api.post("/match").status, 200);
    const std::string deep = R"({"x": 0.5, "y": 0.5, "fraction": true, "text": "a", "key": "a", "extra": )" +
                             std::string(150'000, '[') + std::string(150'000, ']') + "}";
    std::vector<std::string> paths(Routes::actions().begin(), Routes::actions().end());
    paths.insert(paths.end(), {"/match", "/pair"});
    for (const auto& path : paths) EXPECT_EQ(api.post(path, deep).body, R"({"error":"JSON nested too deeply"})") << path;
    for (uint8_t id = 1; id <= 4; ++id) EXPECT_TRUE(api.sent(phone.host, id).empty()) << int(id);
}

TEST(Routes, PairingAHostByUUIDAndAPairingTheFileCannotKeep) {
    TestPhone phone = testPhone(1, "Phone");
    {
        API api({phone});
        EXPECT_EQ(error(api.post("/pair", R"({"host": "not-a-uuid"})")), "host is required (a UUID from unmatchedHosts)");
        std::string lower = phone.host.string();
        std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
        EXPECT_EQ(api.json(api.post("/pair", R"({"host": ")" + lower + R"("})"))["devices"][0]["bluetooth"], true);
    }
    API api({phone});
    // Something in the way of the pairings folder: no write can succeed.
    auto folder = api.rig.devices.pairingsFile().parent_path();
    std::filesystem::remove_all(folder);
    std::ofstream(folder) << "in the way";
    const std::string failure = "could not write " + api.rig.devices.pairingsFile().string() + ": Not a directory";
    EXPECT_EQ(error(api.post("/pair", R"({"host": ")" + phone.host.string() + R"("})")), failure);
    EXPECT_EQ(api.json(api.get("/devices"))["devices"][0]["bluetooth"], false);
    // Matching has no client to tell: the pair holds for this run, and the log says why it was not kept.
    EXPECT_EQ(api.json(api.post("/match"))["matched"], (JSON{{phone.id, phone.host.string()}}));
    EXPECT_TRUE(api.logs.contains(failure));
}

TEST(Routes, ChoosingAPhoneOrAHost) {
    TestPhone a = testPhone(1, "Alpha");
    TestPhone b = testPhone(2, "Beta");
    b.id = "0000AAAA-0000000000000002";
    {
        API api({a, b});
        EXPECT_EQ(error(api.get("/screenshot")), "2 phones are connected, pass device. Phones: Alpha "
                                                 "(00008120-000000000001), Beta (0000AAAA-0000000000000002)");
        EXPECT_NE(api.get("/screenshot?device=00008").head.find("X-Device: 00008120-000000000001"), std::string::npos);
        auto byBody = api.post("/tap", R"({"device": "beta", "x": 0.5, "y": 0.5, "fraction": true})");
        EXPECT_EQ(api.json(byBody), (JSON{{"device", b.id}, {"ok", true}}));
        // A "device" naming a connected host drives that host directly, even with a phone on USB.
        EXPECT_EQ(api.json(api.post("/home", R"({"device": ")" + a.host.string() + R"("})"))["device"], a.host.string());
        EXPECT_EQ(error(api.post("/home", R"({"host": "11111111-2222-3333-4444-555555555555"})")),
                  "no connected Bluetooth host 11111111-2222-3333-4444-555555555555");
    }
    API api({});
    EXPECT_EQ(error(api.post("/tap", R"({"x": 0.5, "y": 0.5, "fraction": true})")),
              "no iPhone connected over Bluetooth and no screen on USB: pair \"Skiffline\" in its Bluetooth settings");
    api.rig.connect(a);  // on Bluetooth alone
    auto tap = api.post("/tap", R"({"x": 0.5, "y": 0.5, "fraction": true})");
    EXPECT_EQ(api.json(tap), (JSON{{"device", a.host.string()}, {"ok", true}}));
    EXPECT_EQ(api.sent(a.host, 2), (std::vector<Bytes>{pointerAt(0.5, 0.5), pointerAt(1, 1)}));
    EXPECT_EQ(error(api.post("/tap", R"({"x": 0.5, "y": 0.5})")),
              "without a USB screen, x/y must be fractions (0-1) with fraction: true");
    api.rig.connect(b);
    EXPECT_EQ(error(api.post("/home")),
              "2 Bluetooth hosts are connected and no screen is on USB, pass host (one of /status hosts)");
}

// A pixel tap scales by the screenshot the caller took with the same
// maxEdge, so both read it by one rule: what one refuses the other refuses,
// and what both take scales the picture and the tap alike.
TEST(Routes, TheScreenshotAndThePixelTapReadMaxEdgeAlike) {
    TestPhone phone = testPhone(1, "Phone");
    API api({phone});
    struct Case {
        std::string query, body;
        int width, height;  // of the screenshot; 0 when refused
    };
    const Case cases[] = {
        {"1e3", "1000.0", 462, 1000},
        {"99999999999", "1e300", 1170, 2532},  // beyond any picture: no limit
        {"0", "0", 0, 0},
        {"999.5", "999.5", 0, 0},
        {"abc", "\"1000\"", 0, 0},
    };
    const std::string refusal = "maxEdge must be a whole number of pixels, 1 or more";
    for (const auto& c : cases) {
        auto shot = api.get("/screenshot?maxEdge=" + c.query);
        const auto before = api.sent(phone.host, 2).size();
        auto tap = api.post("/tap", R"({"x": 231, "y": 500, "maxEdge": )" + c.body + "}");
        const auto pointer = api.sent(phone.host, 2);
        if (c.width == 0) {
            EXPECT_EQ(error(shot), refusal) << c.query;
            EXPECT_EQ(error(tap), refusal) << c.body;
            EXPECT_EQ(pointer.size(), before) << c.body;
            continue;
        }
        EXPECT_NE(shot.head.find("X-Image-Width: " + std::to_string(c.width)), std::string::npos) << c.query;
        EXPECT_NE(shot.head.find("X-Image-Height: " + std::to_string(c.height)), std::string::npos) << c.query;
        ASSERT_GT(pointer.size(), before) << c.body;
        EXPECT_EQ(pointer[before], pointerAt(231.0 / c.width, 500.0 / c.height)) << c.body;
    }
    auto png = api.get("/screenshot?format=png&maxWidth=400");
    EXPECT_NE(png.head.find("X-Screen-Width: 1170"), std::string::npos);
    EXPECT_EQ(decodeImage(png.body)->height(), 866);
    EXPECT_EQ(error(api.get("/screenshot?maxWidth=0")), "maxWidth must be a positive number");
}

TEST(Routes, WaitSettlesOnThePhonesOwnChanges) {
    TestPhone phone = testPhone(1, "Phone");
    TestPhone locked = testPhone(2, "Locked");
    locked.locked = true;
    API api({phone, locked});
    // Nothing moves: settled once "first" has passed, with no change.
    auto still = api.json(api.get("/wait?device=Phone"));
    EXPECT_EQ(still["settled"], true);
    EXPECT_EQ(still["waited_ms"], 900);
    EXPECT_EQ(still["changes"], 0);

    // A tap moves the pointer: the wait from the tap's start sees it, then a quiet spell.
    ASSERT_EQ(api.post("/match").status, 200);  // so the tap is only a tap
    int64_t since = api.rig.clock.wallMillis();
    ASSERT_EQ(api.post("/tap", R"({"device": "Phone", "x": 0.2, "y": 0.7, "fraction": true})").status, 200);
    int64_t tapped = api.rig.clock.wallMillis() - since;
    auto settled = api.json(api.get("/wait?device=Phone&quiet=300&since=" + std::to_string(since)));
    EXPECT_EQ(settled["settled"], true);
    EXPECT_GE(settled["changes"].get<int>(), 1);
    EXPECT_LE(settled["first_change_ms"].get<int64_t>(), tapped);
    EXPECT_GE(settled["still_ms"].get<int64_t>(), 300);
    EXPECT_LT(settled["still_ms"].get<int64_t>(), 300 + 15);

    for (const char* target : {"/wait?device=Locked", "/screenshot?device=Locked"}) {
        auto dark = api.get(target);
        EXPECT_EQ(dark.status, 503) << target;
        EXPECT_EQ(error(dark), "no frame yet from Locked: unlock it") << target;
    }
}

TEST(Routes, PixelCoordinatesBecomeFractionsOfTheScreenshot) {
    TestPhone phone = testPhone(1, "Phone");
    API api({phone});
    EXPECT_EQ(api.post("/tap", R"({"x": 585, "y": 1266, "fraction": 1})").status, 200);  // only true means fractions
    EXPECT_EQ(api.post("/tap", R"({"x": 200, "y": 433, "maxEdge": 1000})").status, 200);
    EXPECT_EQ(api.post("/move", R"({"x": 50, "y": 25, "width": 100, "height": 100})").status, 200);
    EXPECT_EQ(api.post("/move", R"({"rest": true})").status, 200);
    // Each tap ends with the pointer at its resting place, as does a move asked to rest.
    EXPECT_EQ(api.sent(phone.host, 2),
              (std::vector<Bytes>{pointerAt(0.5, 0.5), pointerAt(1, 1), pointerAt(200.0 / 462, 433.0 / 1000),
                                  pointerAt(1, 1), pointerAt(0.5, 0.25), pointerAt(1, 1)}));
}

TEST(Routes, BadActionsSendNothingAndGoodOnesTheirReports) {
    TestPhone phone = testPhone(1, "Phone");
    API api({phone});
    const std::pair<std::string, std::string> cases[] = {
        {R"({"x": "10", "y": 20})", "x and y are required"},
        {R"({"x": 1, "y": 1, "height": -3})", "width and height must be positive"},
    };
    for (const auto& [body, message] : cases) EXPECT_EQ(error(api.post("/tap", body)), message) << body;
    EXPECT_EQ(error(api.post("/swipe", R"({"x1": 10, "y1": 10, "x2": 20})")), "x2 and y2 are required");
    EXPECT_EQ(error(api.post("/type", R"({"text": "caf\u00e9"})")), "cannot type \"\xC3\xA9\" with a US keyboard");
    EXPECT_EQ(error(api.post("/key", R"({"key": ""})")), "unknown key ");
    for (uint8_t id = 1; id <= 4; ++id) EXPECT_TRUE(api.sent(phone.host, id).empty()) << int(id);

    EXPECT_EQ(api.post("/nudge", R"({"dx": 2.5, "dy": 3, "click": false})").status, 200);
    EXPECT_EQ(api.sent(phone.host, 3), std::vector<Bytes>{relativeMouseReport(0, 0, 3)});
    EXPECT_EQ(api.post("/key", R"({"key": "a", "modifiers": "cmd"})").status, 200);
    EXPECT_EQ(api.sent(phone.host, 1), (std::vector<Bytes>{keyboardReport(0, 4), keyboardReport(0, 0)}));
    EXPECT_EQ(api.post("/home").body, R"({"device":"00008120-000000000001","ok":true})");
    EXPECT_EQ(api.sent(phone.host, 4), (std::vector<Bytes>{consumerReport(kHomeUsage), consumerReport(0)}));
}

TEST(Routes, TwoTapsOnOnePhoneTakeTurns) {
    TestPhone phone = testPhone(1, "Phone");
    API api({phone});
    int ok = 0;
    std::thread other([&] { ok += api.post("/tap", R"({"x": 0.1, "y": 0.1, "fraction": true})").status == 200; });
    int mine = api.post("/tap", R"({"x": 0.9, "y": 0.9, "fraction": true})").status == 200;
    other.join();
    EXPECT_EQ(ok + mine, 2);
    // Each tap's press and release follow its own placement.
    EXPECT_EQ(api.sent(phone.host, 3), (std::vector<Bytes>{{1, 0, 0, 0}, {0, 0, 0, 0}, {1, 0, 0, 0}, {0, 0, 0, 0}}));
}
