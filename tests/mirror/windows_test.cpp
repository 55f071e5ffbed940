#include <gtest/gtest.h>

#include "mirror/windows.h"

using namespace quintalis;

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

TEST(AirPlayScore, OwnerTitleSizeLayerAndVisibility) {
    auto agent = window("AirPlayUIAgent", "com.apple.AirPlayUIAgent", "iPhone", 400, 800, 0, true);
    EXPECT_EQ(airplayScore(agent, kNone), 160);
    agent.title = "";
    EXPECT_EQ(airplayScore(agent, kNone), 140);
    agent.width = 119;
    EXPECT_EQ(airplayScore(agent, kNone), 0);

    auto control = window("Control Center", "com.apple.controlcenter", "", 300, 300, 0, false);
    EXPECT_EQ(airplayScore(control, kNone), 105);
    control.layer = -1;
    EXPECT_EQ(airplayScore(control, kNone), 40);
    control.layer = 1;
    EXPECT_EQ(airplayScore(control, kNone), 0);

    auto titled = window("Preview", "com.apple.Preview", "iPhone", 500, 500, 0, true);
    EXPECT_EQ(airplayScore(titled, kNone), 40);
    auto caseOnly = window("Agent", "com.apple.airplayuiagent", "", 500, 500, 3, false);
    EXPECT_EQ(airplayScore(caseOnly, kNone), 120);
    auto mentions = window("My AirPlay Thing", "org.example", "", 500, 500, 0, true);
    EXPECT_EQ(airplayScore(mentions, kNone), 110);
    EXPECT_EQ(airplayScore(window("Finder", "com.apple.finder", "Documents", 900, 900, 0, true), kNone), 0);
}

TEST(AirPlayScore, OverridesAreReadOnEveryCall) {
    auto viewer = window("Viewer", "org.example.viewer", "Phone Screen", 500, 900, 0, true);
    EXPECT_EQ(airplayScore(viewer, environment({{"QUINTALIS_AIRPLAY_OWNER", "VIEWER"}})), 220);
    EXPECT_EQ(airplayScore(viewer, environment({{"QUINTALIS_AIRPLAY_TITLE", "phone screen"}})), 220);
    EXPECT_EQ(airplayScore(viewer, environment({{"QUINTALIS_AIRPLAY_OWNER", "viewer"},
                                                {"QUINTALIS_AIRPLAY_TITLE", "screen"}})),
              420);
    auto titled = window("Preview", "com.apple.Preview", "iPhone", 500, 500, 0, true);
    EXPECT_EQ(airplayScore(titled, environment({{"QUINTALIS_AIRPLAY_OWNER", "nothing like it"}})), 40);
    EXPECT_EQ(airplayScore(titled, environment({{"QUINTALIS_AIRPLAY_OWNER", ""}})), 40);
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
    EXPECT_EQ(candidates[0].json(), (JSON{{"id", 4},        {"owner", "Agent"}, {"bundle", "com.apple.AirPlayUIAgent"},
                                          {"pid", 0},       {"title", ""},      {"layer", 0},
                                          {"onScreen", true}, {"x", 0.0},       {"y", 0.0},
                                          {"w", 150.0},     {"h", 150.0},       {"score", 140}}));
}
