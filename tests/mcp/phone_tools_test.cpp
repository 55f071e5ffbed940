#include <gtest/gtest.h>

#include "base/base64.h"
#include "imaging/codecs.h"
#include "mcp/phone_tools.h"
#include "support/fake_clock.h"
#include "support/striped_picture.h"

using namespace quintalis;
using namespace quintalis::mcp;
using namespace std::chrono_literals;

namespace {

// Phones as a test sets them, recording every action and wait.
class FakePhoneAccess final : public PhoneAccess {
public:
    explicit FakePhoneAccess(quintalis::testing::FakeClock& clock) : clock_(clock) {}

    PhoneList phones() override { return list; }
    Picture look(const Phone& phone, int maxEdge) override {
        looks.push_back({phone.id, maxEdge});
        return picture;
    }
    void act(const Phone& phone, const std::string& path, JSON body) override {
        if (actionError) throw PhoneError(*actionError);
        actions.push_back({phone.id, path, body});
        clock_.advance(170ms);  // the gesture
    }
    JSON waitToSettle(const Phone& phone, const SettleRule& rule) override {
        waits.push_back({phone.id, rule});
        if (waitError) throw PhoneError(*waitError);
        return waitReply;
    }

    struct Action {
        std::string phone;
        std::string path;
        JSON body;
    };
    struct Wait {
        std::string phone;
        SettleRule rule;
    };
    PhoneList list;
    Picture picture;
    JSON waitReply{{"ok", true}, {"settled", true}, {"changes", 2}, {"waited_ms", 310}, {"since_ms", 480}};
    std::optional<std::string> actionError;
    std::optional<std::string> waitError;
    std::vector<std::pair<std::string, int>> looks;
    std::vector<Action> actions;
    std::vector<Wait> waits;

private:
    quintalis::testing::FakeClock& clock_;
};

// Reads the same lines from every picture, counting the readings.
class ScriptedReader final : public TextRecognizer {
public:
    std::vector<TextLine> recognize(const PixelBuffer&) override {
        ++readings;
        return lines;
    }
    std::vector<TextLine> lines;
    int readings = 0;
};

Phone usbPhone(const std::string& id, const std::string& name) {
    Phone phone;
    phone.id = id;
    phone.name = name;
    phone.bluetooth = true;
    phone.screen = ImageSize{1179, 2556};
    return phone;
}

struct Tools {
    quintalis::testing::FakeClock clock;
    FakePhoneAccess access{clock};
    ScriptedReader reader;
    PhoneTools tools{access, reader, clock};

    Tools() {
        access.list.phones = {usbPhone("00008120-AAAA", "Work iPhone")};
        showScreen(4);
        reader.lines = {{"Settings", 0.9, 60, 200, 50, 20}, {"Notes", 0.9, 190, 206, 48, 20},
                        {"General Settings", 0.8, 20, 600, 200, 30}};
    }
    JSON call(const std::string& name, const JSON& arguments = JSON::object()) { return tools.call(name, arguments); }

    // A screen the reader reads whole; another stripe width is another screen.
    void showScreen(int stripe) {
        access.picture = Picture{*encodeJPEG(quintalis::testing::stripedPicture(554, 1200, stripe), 80), {1179, 2556}, {554, 1200}};
    }
};

std::string text(const JSON& result) {
    for (const auto& part : result["content"]) {
        if (part["type"] == "text") return part["text"];
    }
    return "";
}

bool failed(const JSON& result) { return result.value("isError", false); }

}  // namespace

TEST(PhoneTools, ListsEveryToolWithAnObjectSchema) {
    Tools t;
    std::vector<std::string> names;
    for (const auto& tool : t.tools.definitions()) {
        names.push_back(tool["name"]);
        EXPECT_EQ(tool["inputSchema"]["type"], "object") << tool["name"];
        EXPECT_FALSE(tool["description"].get<std::string>().empty());
    }
    EXPECT_EQ(names, (std::vector<std::string>{"phones", "look", "tap", "swipe", "type", "key", "home", "wait"}));
    EXPECT_THROW(t.call("launch"), UnknownTool);
}

TEST(PhoneTools, PhonesSaysHowEachIsSeenAndReached) {
    Tools t;
    Phone air;
    air.id = Phone::kAirPlayID;
    air.name = "AirPlay: iPhone";
    air.seen = Phone::Seen::airplay;
    t.access.list.phones.push_back(air);
    t.access.list.paused = true;
    auto listed = text(t.call("phones"));
    EXPECT_NE(listed.find("2 phones:"), std::string::npos) << listed;
    EXPECT_NE(listed.find("Work iPhone (phone \"00008120-AAAA\"): seen over USB, screen 1179×2556 px, Bluetooth connected"),
              std::string::npos);
    EXPECT_NE(listed.find("AirPlay: iPhone (phone \"airplay\"): seen over AirPlay, no Bluetooth connection"),
              std::string::npos);
    EXPECT_NE(listed.find("Control is paused"), std::string::npos);

    t.access.list = PhoneList{{}, false, {"AirPlay: no AirPlay mirroring window"}};
    auto none = t.call("look");
    EXPECT_TRUE(failed(none));
    EXPECT_EQ(text(none), "No phone is connected. Open Quintalis and finish its setup.\nAirPlay: no AirPlay mirroring window");
}

TEST(PhoneTools, APhoneIsChosenByIdNameOrIdStart) {
    Tools t;
    t.access.list.phones.push_back(usbPhone("00008030-BBBB", "Home iPhone"));
    auto which = t.call("home");
    EXPECT_TRUE(failed(which));
    EXPECT_NE(text(which).find("2 phones are connected; pass phone"), std::string::npos);
    for (const char* name : {"00008030-bbbb", "home iphone", "00008030"}) {
        EXPECT_FALSE(failed(t.call("home", {{"phone", name}}))) << name;
        EXPECT_EQ(t.access.actions.back().phone, "00008030-BBBB") << name;
    }
    // The start of two ids, or a name two phones share, picks neither.
    t.access.list.phones.push_back(usbPhone("00008030-CCCC", "Home iPhone"));
    size_t acted = t.access.actions.size();
    for (const char* name : {"00008030", "Home iPhone"}) {
        auto ambiguous = t.call("home", {{"phone", name}});
        EXPECT_NE(text(ambiguous).find("fits 2 phones; pass phone with the whole id"), std::string::npos) << name;
    }
    EXPECT_EQ(t.access.actions.size(), acted);
    EXPECT_FALSE(failed(t.call("home", {{"phone", "00008030-cccc"}})));
    auto unknown = t.call("home", {{"phone", "Pixel"}});
    EXPECT_NE(text(unknown).find("No phone matches \"Pixel\""), std::string::npos);
    EXPECT_TRUE(failed(t.call("home", {{"phone", 3}})));
}

TEST(PhoneTools, LookGivesTheImageItsSizesAndTheTextCentres) {
    Tools t;
    auto result = t.call("look");
    ASSERT_FALSE(failed(result)) << text(result);
    EXPECT_EQ(result["content"][0], (JSON{{"type", "image"}, {"mimeType", "image/jpeg"},
                                           {"data", base64Encoded(t.access.picture.jpeg)}}));
    EXPECT_EQ(text(result),
              "Work iPhone over USB: screen 1179×2556 px, this image 554×1200 px. Tap and swipe coordinates are pixels "
              "of this image, x from the left, y from the top.\n"
              "Text on the screen, with the centre of each line:\n"
              "\"Settings\" at (85, 210)\n\"Notes\" at (214, 216)\n\"General Settings\" at (120, 615)\n");
    EXPECT_EQ(t.access.looks.back().second, 1200);

    auto plain = t.call("look", {{"text", false}, {"maxEdge", 600}});
    EXPECT_EQ(text(plain).find("Text on the screen"), std::string::npos);
    EXPECT_EQ(t.reader.readings, 1);
    EXPECT_EQ(t.access.looks.back().second, 600);
    for (const JSON& bad : {JSON{{"maxEdge", 10}}, JSON{{"maxEdge", "big"}}, JSON{{"text", "no"}}}) {
        EXPECT_TRUE(failed(t.call("look", bad))) << bad;
    }
}

TEST(PhoneTools, PixelTapsAreFractionsOfTheLastLook) {
    Tools t;
    auto early = t.call("tap", {{"x", 10}, {"y", 10}});
    EXPECT_TRUE(failed(early));
    EXPECT_NE(text(early).find("Call look first"), std::string::npos);

    t.call("look", {{"text", false}});
    auto tapped = t.call("tap", {{"x", 277}, {"y", 300}, {"hold", 1}});
    EXPECT_EQ(text(tapped), "Tapped at (277, 300) of the 554×1200 image. The screen settled 310 ms after the gesture "
                            "(2 changes).");
    ASSERT_EQ(t.access.actions.size(), 1u);
    EXPECT_EQ(t.access.actions[0].path, "/tap");
    EXPECT_EQ(t.access.actions[0].body, (JSON{{"x", 0.5}, {"y", 0.25}, {"hold", 1.0}}));

    t.call("tap", {{"x", 100}, {"y", 50}, {"imageWidth", 200}, {"imageHeight", 400}});
    EXPECT_EQ(t.access.actions.back().body, (JSON{{"x", 0.5}, {"y", 0.125}}));
    for (const JSON& bad : {JSON{{"x", 600}, {"y", 10}}, JSON{{"x", -1}, {"y", 10}}, JSON{{"x", 5}},
                            JSON{{"x", 5}, {"y", 5}, {"imageWidth", 100}}, JSON{{"x", 5}, {"y", 5}, {"hold", 30}},
                            JSON{{"x", 5}, {"y", 5}, {"text", "Notes"}}}) {
        EXPECT_TRUE(failed(t.call("tap", bad))) << bad;
    }
    EXPECT_EQ(t.access.actions.size(), 2u);  // refused calls send nothing
}

TEST(PhoneTools, TextTapsFindTheirLabelOnTheScreenAsItIs) {
    Tools t;
    auto notes = t.call("tap", {{"text", "  NOTES "}});
    EXPECT_EQ(text(notes).rfind("Tapped \"Notes\" at (214, 216) of a 554×1200 picture. The screen settled", 0), 0u);
    EXPECT_EQ(t.access.actions.back().body, (JSON{{"x", 214.0 / 554}, {"y", 216.0 / 1200}}));
    EXPECT_EQ(t.access.looks.back().second, PhoneTools::kDefaultEdge);
    // An exact reading wins over a longer line that contains it.
    t.call("tap", {{"text", "settings"}});
    EXPECT_EQ(t.access.actions.back().body, (JSON{{"x", 85.0 / 554}, {"y", 210.0 / 1200}}));
    // A tap by text is not a look: pixel taps still need one.
    EXPECT_TRUE(failed(t.call("tap", {{"x", 1}, {"y", 1}})));

    t.reader.lines.push_back({"Notes", 0.9, 190, 900, 48, 20});
    t.showScreen(6);
    auto twice = t.call("tap", {{"text", "notes"}});
    EXPECT_TRUE(failed(twice));
    EXPECT_EQ(text(twice), "\"notes\" is on the screen 2 times, in a 554×1200 picture:\n\"Notes\" at (214, 216)\n"
                           "\"Notes\" at (214, 910)\nTap one of them by its x and y instead.");
    auto missing = t.call("tap", {{"text", "Wallet"}});
    EXPECT_TRUE(failed(missing));
    EXPECT_NE(text(missing).find("No text on the screen reads \"Wallet\". Visible text"), std::string::npos);
    EXPECT_NE(text(missing).find("\"General Settings\" at (120, 615)"), std::string::npos);
    EXPECT_EQ(t.access.actions.size(), 2u);
}

TEST(PhoneTools, AnUnchangedScreenIsReadOnce) {
    Tools t;
    t.call("look");
    t.call("look");
    t.call("tap", {{"text", "Notes"}});
    EXPECT_EQ(t.reader.readings, 1);
    t.showScreen(6);
    t.call("tap", {{"text", "Notes"}});
    EXPECT_EQ(t.reader.readings, 2);
    // Another phone's identical picture is still its own screen.
    t.access.list.phones.push_back(usbPhone("00008120-BBBB", "Home iPhone"));
    t.call("look", {{"phone", "00008120-BBBB"}});
    EXPECT_EQ(t.reader.readings, 3);
}

TEST(PhoneTools, SwipesGoThroughTheMiddleOrBetweenTwoPoints) {
    Tools t;
    t.call("swipe", {{"direction", "up"}, {"duration", 0.5}});
    EXPECT_EQ(t.access.actions.back().body,
              (JSON{{"x1", 0.5}, {"y1", 0.7}, {"x2", 0.5}, {"y2", 0.3}, {"duration", 0.5}}));
    t.call("swipe", {{"direction", "right"}});
    EXPECT_EQ(t.access.actions.back().body, (JSON{{"x1", 0.3}, {"y1", 0.5}, {"x2", 0.7}, {"y2", 0.5}}));
    t.call("look", {{"text", false}});
    t.call("swipe", {{"x1", 277}, {"y1", 900}, {"x2", 277}, {"y2", 300}});
    EXPECT_EQ(t.access.actions.back().body, (JSON{{"x1", 0.5}, {"y1", 0.75}, {"x2", 0.5}, {"y2", 0.25}}));
    for (const JSON& bad : {JSON{{"direction", "sideways"}}, JSON{{"direction", "up"}, {"x1", 1}},
                            JSON{{"x1", 1}, {"y1", 1}, {"x2", 1}}, JSON{{"direction", "up"}, {"duration", 0}}}) {
        EXPECT_TRUE(failed(t.call("swipe", bad))) << bad;
    }
    EXPECT_EQ(t.access.actions.size(), 3u);
}

TEST(PhoneTools, KeysTextAndHome) {
    Tools t;
    EXPECT_EQ(text(t.call("type", {{"text", "hello"}, {"settle", false}})), "Typed \"hello\".");
    EXPECT_EQ(t.access.actions.back().body, (JSON{{"text", "hello"}}));
    t.call("key", {{"key", "a"}, {"modifiers", {"cmd", "shift"}}, {"settle", false}});
    EXPECT_EQ(t.access.actions.back().body, (JSON{{"key", "a"}, {"modifiers", {"cmd", "shift"}}}));
    EXPECT_EQ(text(t.call("home", {{"settle", false}})), "Pressed Home.");
    EXPECT_EQ(t.access.actions.back().path, "/home");
    EXPECT_TRUE(t.access.waits.empty());  // settle: false waits for nothing
    for (const auto& [tool, arguments] : std::vector<std::pair<std::string, JSON>>{
             {"type", JSON::object()}, {"type", {{"text", 5}}}, {"key", JSON::object()},
             {"key", {{"key", "a"}, {"modifiers", "cmd"}}}, {"key", {{"key", "a"}, {"modifiers", {1}}}}}) {
        EXPECT_TRUE(failed(t.call(tool, arguments))) << tool << arguments;
    }
}

TEST(PhoneTools, ActionsWaitFromTheirStartForAtMostTheSettleLimit) {
    Tools t;
    int64_t start = t.clock.wallMillis();
    t.call("home");
    ASSERT_EQ(t.access.waits.size(), 1u);
    EXPECT_EQ(t.access.waits[0].rule.since, start);
    EXPECT_EQ(t.access.waits[0].rule.max, 170 + PhoneTools::kSettleLimit);

    t.access.waitReply = JSON{{"settled", true}, {"changes", 0}, {"waited_ms", 730}, {"since_ms", 900}};
    EXPECT_EQ(text(t.call("home")), "Pressed Home. The screen did not change in 900 ms.");
    t.access.waitReply = JSON{{"settled", false}, {"changes", 1}, {"waited_ms", 2500}, {"since_ms", 2670}};
    EXPECT_EQ(text(t.call("home")), "Pressed Home. The screen was still changing 2500 ms after the gesture (1 change). "
                                    "Call wait or look to see how it ends.");
    // The action happened even when the screen cannot be watched afterwards.
    t.access.waitError = "no frame yet from Work iPhone: unlock it";
    auto unwatched = t.call("home");
    EXPECT_FALSE(failed(unwatched));
    EXPECT_EQ(text(unwatched),
              "Pressed Home. The screen could not be watched afterwards: no frame yet from Work iPhone: unlock it");
    // A refused action is the tool's failure, in the engine's words.
    t.access.actionError = "Quintalis is paused: the owner turned off control";
    auto refused = t.call("home");
    EXPECT_TRUE(failed(refused));
    EXPECT_EQ(text(refused), "Quintalis is paused: the owner turned off control");
}

TEST(PhoneTools, WaitUsesItsOwnLimitsFromNow) {
    Tools t;
    t.clock.advance(5s);
    t.access.waitReply = JSON{{"settled", true}, {"changes", 3}, {"waited_ms", 640}};
    EXPECT_EQ(text(t.call("wait", {{"quiet", 400}, {"max", 8000}})), "The screen settled after 640 ms (3 changes).");
    const auto& rule = t.access.waits.back().rule;
    EXPECT_EQ(rule.since, t.clock.wallMillis());
    EXPECT_EQ(rule.quiet, 400);
    EXPECT_EQ(rule.max, 8000);
    EXPECT_EQ(rule.first, 900);
    EXPECT_TRUE(failed(t.call("wait", {{"max", 120000}})));
}
