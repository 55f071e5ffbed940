#include <gtest/gtest.h>

#include "mirror/windows.h"
#include "support/fake_windows.h"

using namespace quintalis;
using namespace quintalis::testing;

namespace {

WindowDescription window(std::string owner, std::string bundle, std::string title, double w, double h, int layer,
                         bool onScreen) {
    WindowDescription d;
    d.owner = std::move(owner);
    d.bundle = std::move(bundle);
    d.title = std::move(title);
    d.width = w;
    d.height = h;
    d.layer = layer;
    d.onScreen = onScreen;
    return d;
}

EnvironmentReader environment(std::map<std::string, std::string> values) {
    return [values](const std::string& name) -> std::optional<std::string> {
        auto found = values.find(name);
        if (found == values.end()) return std::nullopt;
        return found->second;
    };
}

const EnvironmentReader kNone = environment({});

}  // namespace

TEST(AirPlayScore, ReceiversScoreByOwnerAndTitleButNeverWhenTooSmall) {
    auto agent = window("AirPlayUIAgent", "com.apple.AirPlayUIAgent", "iPhone", 400, 800, 0, true);
    EXPECT_EQ(airplayScore(agent, kNone), 160);
    agent.width = 119;
    EXPECT_EQ(airplayScore(agent, kNone), 0);
    agent.width = 400;
    agent.height = 119;
    EXPECT_EQ(airplayScore(agent, kNone), 0);
    auto control = window("Control Center", "com.apple.controlcenter", "", 300, 300, 1, false);
    EXPECT_EQ(airplayScore(control, kNone), 0) << "above the windows: not the receiver";
    EXPECT_EQ(airplayScore(window("Finder", "com.apple.finder", "Documents", 900, 900, 0, true), kNone), 0);
    // "UxPlay@<host>" with its class under a window manager; "OpenGL
    // renderer" and no class under a bare X server. The owner comes from the pid.
    EXPECT_EQ(airplayScore(window("uxplay", "UxPlay", "UxPlay@desk", 600, 1000, 0, true), kNone), 90 + 20 + 15 + 5);
    EXPECT_EQ(airplayScore(window("uxplay", "", "OpenGL renderer", 600, 1000, 0, true), kNone), 90 + 15 + 5);
    EXPECT_EQ(airplayScore(window("airplay-uxplay", "", "", 600, 1000, 0, false), kNone), 90 + 5) << "one owner step";

    // Overrides are read on every call and match in any letter case, beyond ASCII too.
    auto accented = window("Écran Téléphone", "org.example.ecran", "ÉCRAN", 500, 900, 0, true);
    EXPECT_EQ(airplayScore(accented, kNone), 0);
    EXPECT_EQ(airplayScore(accented, environment({{"QUINTALIS_AIRPLAY_OWNER", "écran téléphone"},
                                                  {"QUINTALIS_AIRPLAY_TITLE", "écran"}})),
              420);
}

TEST(AirPlayCandidates, BestFirstThenLargerThenFrontMost) {
    std::vector<WindowDescription> windows{
        window("Small", "x", "iphone", 200, 200, 0, true),
        window("Front", "x", "iphone", 300, 300, 0, true),
        window("Back", "x", "iphone", 300, 300, 0, true),
        window("Agent", "com.apple.AirPlayUIAgent", "", 150, 150, 0, true),
        window("Finder", "com.apple.finder", "", 900, 900, 0, true),
    };
    for (uint32_t i = 0; i < windows.size(); ++i) windows[i].number = i + 1;
    auto candidates = airplayCandidates(windows, kNone);
    ASSERT_EQ(candidates.size(), 4u);
    EXPECT_EQ(candidates[0].window.owner, "Agent");
    EXPECT_EQ(candidates[1].window.owner, "Front");
    EXPECT_EQ(candidates[2].window.owner, "Back");
    EXPECT_EQ(candidates[3].window.owner, "Small");
}

namespace {

WindowDescription numbered(uint32_t number, std::string owner, std::string title, double w, double h, int layer = 0,
                           bool onScreen = true) {
    auto d = window(std::move(owner), "", std::move(title), w, h, layer, onScreen);
    d.number = number;
    return d;
}

}  // namespace

TEST(PickWindow, ByNumberWithoutFallbackElseTheBestCandidate) {
    FakeWindowServer server;
    server.setWindows({numbered(5, "term", "shell", 800, 600), numbered(9, "uxplay", "UxPlay@desk", 600, 1000)});
    auto pick = [&](std::optional<std::string> wanted) {
        auto found = pickWindow(server, wanted, kNone);
        return found ? static_cast<int>(found->window.number) : -1;
    };
    EXPECT_EQ(pick("5"), 5);
    EXPECT_EQ(pickWindow(server, "5", kNone)->score, 0) << "unscored";
    EXPECT_EQ(pick("6"), -1) << "a gone window is not replaced by a guess";
    for (const char* ignored : {"0x5", "five", "", "-5", "4294967296"}) EXPECT_EQ(pick(ignored), 9) << ignored;
    EXPECT_EQ(pick(std::nullopt), 9);
    EXPECT_EQ(windowInfo(server, 9)->window.title, "UxPlay@desk");
    EXPECT_FALSE(windowInfo(server, 10));
    FakeWindowServer nothing;
    nothing.setWindows({numbered(5, "term", "shell", 800, 600)});
    EXPECT_FALSE(pickWindow(nothing, std::nullopt, kNone));
}

TEST(BestReceiver, OwnerOrOverrideEvidenceOnScreenFirst) {
    auto tab = numbered(1, "browser", "iPhone 15 review - Web Browser", 1200, 900);
    auto receiver = numbered(2, "uxplay", "UxPlay@desk", 600, 1000);
    auto hidden = numbered(3, "AirPlayUIAgent", "iPhone", 600, 1000, 0, false);
    auto best = [](const std::vector<WindowDescription>& windows, const EnvironmentReader& env = kNone) {
        auto found = bestReceiver(airplayCandidates(windows, env));
        return found ? static_cast<int>(found->window.number) : -1;
    };
    EXPECT_EQ(best({tab}), -1) << "a title alone is no evidence";
    auto listed = airplayCandidates({tab, receiver}, kNone);
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_TRUE(listed[1].titleOnly);
    EXPECT_EQ(listed[1].json()["note"],
              "only the title suggests a phone: captured only when chosen with --window 1 or QUINTALIS_AIRPLAY_TITLE");
    EXPECT_FALSE(listed[0].json().contains("note"));
    EXPECT_EQ(best({tab, receiver}), 2);
    EXPECT_EQ(best({hidden, tab, receiver}), 2) << "on screen beats a higher score";
    EXPECT_EQ(best({hidden, tab}), 3) << "a hidden receiver still beats a title";
    EXPECT_EQ(best({tab, receiver}, environment({{"QUINTALIS_AIRPLAY_TITLE", "review"}})), 1);
    EXPECT_EQ(best({tab, receiver}, environment({{"QUINTALIS_AIRPLAY_OWNER", "browser"}})), 1);

    FakeWindowServer server;
    server.setWindows({tab});
    EXPECT_FALSE(pickWindow(server, std::nullopt, kNone));
    EXPECT_EQ(pickWindow(server, "1", kNone)->window.number, 1u) << "chosen by number";
}

TEST(MirroringApp, FoundByItsWindows) {
    auto small = numbered(3, "iPhone Mirroring", "", 300, 600);
    auto big = numbered(4, "iPhone Mirroring", "", 400, 800);
    auto hidden = numbered(5, "iPhone Mirroring", "", 900, 900, 0, false);
    auto raised = numbered(6, "iPhone Mirroring", "", 1000, 1000, 1);
    auto twin = numbered(7, "iPhone Mirroring", "", 400, 800);
    FakeWindowServer server;
    server.setWindows({small, hidden, raised, big, twin});
    EXPECT_EQ(*findWindow(server), (JSON{{"id", 4}, {"x", 0.0}, {"y", 0.0}, {"w", 400.0}, {"h", 800.0}}))
        << "the largest on-screen layer-0 window, the front-most of equals";
    ASSERT_TRUE(mirrorApp(server));
    EXPECT_EQ(mirrorApp(server)->name, "iPhone Mirroring");

    auto continuity = numbered(8, "Other name", "", 10, 10);
    continuity.bundle = "com.apple.ScreenContinuity";
    continuity.pid = 42;
    FakeWindowServer both;
    both.setWindows({small, continuity});
    EXPECT_EQ(mirrorApp(both)->pid, 42) << "the bundle identifier is asked first";
    FakeWindowServer none;
    none.setWindows({numbered(1, "term", "", 100, 100)});
    EXPECT_FALSE(mirrorApp(none));
    EXPECT_FALSE(findWindow(none));
}
