#include <gtest/gtest.h>

#include <cmath>

#include "base/base64.h"
#include "imaging/codecs.h"
#include "mcp/phone_tools.h"
#include "support/fake_clock.h"
#include "support/striped_picture.h"

using namespace quintalis;
using namespace quintalis::mcp;
using namespace std::chrono_literals;

namespace {

// Phones as a test sets them, recording every look, action and wait.
class FakePhoneAccess final : public PhoneAccess {
public:
    explicit FakePhoneAccess(quintalis::testing::FakeClock& clock) : clock_(clock) {}

    PhoneList phones(const Cancellation& stop) override {
        stop.check();
        if (listsBeforePhones > 0) {
            --listsBeforePhones;
            return PhoneList{};
        }
        return list;
    }
    Picture look(const Phone& phone, std::optional<int> maxEdge, const Cancellation& stop) override {
        stop.check();
        looks.push_back({phone.id, maxEdge.value_or(0)});
        if (looksBeforeFrame > 0) {
            --looksBeforeFrame;
            throw NoFrameYet("no frame yet from " + phone.name + ": unlock it");
        }
        return maxEdge ? picture : fullPicture;
    }
    void act(const Phone& phone, const std::string& path, JSON body, const Cancellation& stop) override {
        stop.check();
        if (actionError) throw PhoneError(*actionError);
        actions.push_back({phone.id, path, body});
        clock_.advance(170ms);  // the gesture
        if (path == "/move" && onRest) onRest();
    }
    JSON waitToSettle(const Phone& phone, const SettleRule& rule, const Cancellation& stop) override {
        stop.check();
        waits.push_back({phone.id, rule});
        if (waitError) throw PhoneError(*waitError);
        // An unsettled wait lasts as long as it may.
        if (!waitReply.value("settled", false)) clock_.advance(std::chrono::milliseconds(rule.since + rule.max - clock_.wallMillis()));
        return waitReply;
    }
    bool starting() const override { return engineStarting; }

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
    Picture picture;      // what a look with a long-edge limit gets
    Picture fullPicture;  // the screen at its full resolution
    JSON waitReply{{"ok", true}, {"settled", true}, {"changes", 2}, {"waited_ms", 310}, {"since_ms", 480}};
    std::optional<std::string> actionError;
    std::optional<std::string> waitError;
    std::function<void()> onRest;
    bool engineStarting = false;
    int listsBeforePhones = 0;
    int looksBeforeFrame = 0;
    std::vector<std::pair<std::string, int>> looks;  // 0: full resolution
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

// A screen twice the default look's size, so its text is read halved,
// in the pixels of a 554×1200 look.
constexpr ImageSize kScreen{1108, 2400};

Phone usbPhone(const std::string& id, const std::string& name) {
    Phone phone;
    phone.id = id;
    phone.name = name;
    phone.bluetooth = true;
    phone.screen = kScreen;
    return phone;
}

struct Tools {
    quintalis::testing::FakeClock clock;
    FakePhoneAccess access{clock};
    ScriptedReader reader;
    PhoneTools tools{access, reader, clock};
    Cancellation stop;
    std::vector<std::pair<double, std::optional<double>>> progress;
    CallContext context{stop, [this](double done, std::optional<double> total, const std::string&) {
                            progress.push_back({done, total});
                        }};

    Tools() {
        access.list.phones = {usbPhone("00008120-AAAA", "Work iPhone")};
        showScreen(4);
        reader.lines = {{"Settings", 0.9, 60, 200, 50, 20}, {"Notes", 0.9, 190, 206, 48, 20},
                        {"General Settings", 0.8, 20, 600, 200, 30}};
    }
    JSON call(const std::string& name, const JSON& arguments = JSON::object()) {
        return tools.call(name, arguments, context);
    }

    // A screen the reader reads whole; another stripe width is another screen.
    void showScreen(int stripe) {
        access.picture = Picture{*encodeJPEG(quintalis::testing::stripedPicture(554, 1200, stripe), 80), kScreen, {554, 1200}};
        access.fullPicture =
            Picture{*encodeJPEG(quintalis::testing::stripedPicture(kScreen.width, kScreen.height, stripe), 80), kScreen, kScreen};
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

TEST(PhoneTools, PhonesSaysHowEachIsSeenAndReached) {
    Tools t;
    Phone air;
    air.id = Phone::kAirPlayID;
    air.name = "AirPlay: iPhone";
    air.seen = Phone::Seen::airplay;
    t.access.list.phones.push_back(air);
    t.access.list.paused = true;
    auto listed = text(t.call("phones"));
    EXPECT_NE(listed.find("Work iPhone (phone \"00008120-AAAA\"): seen over USB, screen 1108×2400 px, Bluetooth connected"),
              std::string::npos) << listed;
    EXPECT_NE(listed.find("AirPlay: iPhone (phone \"airplay\"): seen over AirPlay, no Bluetooth connection"),
              std::string::npos);
    EXPECT_NE(listed.find("Control is paused"), std::string::npos);
    EXPECT_THROW(t.call("launch"), UnknownTool);

    t.access.list = PhoneList{{}, false, {"AirPlay: no AirPlay mirroring window"}};
    auto none = t.call("look");
    EXPECT_TRUE(failed(none));
    EXPECT_EQ(text(none), "No phone is connected. Open Quintalis and finish its setup.\nAirPlay: no AirPlay mirroring window");
}

TEST(PhoneTools, APhoneIsChosenByIdNameOrIdStartAndNeverByGuess) {
    Tools t;
    t.access.list.phones.push_back(usbPhone("00008030-BBBB", "Home iPhone"));
    EXPECT_NE(text(t.call("home")).find("2 phones are connected; pass phone"), std::string::npos);
    for (const char* name : {"00008030-bbbb", "home iphone", "00008030"}) {
        EXPECT_FALSE(failed(t.call("home", {{"phone", name}}))) << name;
        EXPECT_EQ(t.access.actions.back().phone, "00008030-BBBB") << name;
    }
    // The start of two ids, or a name two phones share, picks neither.
    t.access.list.phones.push_back(usbPhone("00008030-CCCC", "Home iPhone"));
    size_t acted = t.access.actions.size();
    for (const char* name : {"00008030", "Home iPhone"}) {
        EXPECT_NE(text(t.call("home", {{"phone", name}})).find("fits 2 phones; pass phone with the whole id"),
                  std::string::npos) << name;
    }
    EXPECT_NE(text(t.call("home", {{"phone", "Pixel"}})).find("No phone matches \"Pixel\""), std::string::npos);
    EXPECT_EQ(t.access.actions.size(), acted);
    // Names people type: letter case is ignored beyond ASCII, as the engine does.
    t.access.list.phones.push_back(usbPhone("00008030-DDDD", "Straße"));
    EXPECT_FALSE(failed(t.call("home", {{"phone", "STRASSE"}})));
    EXPECT_EQ(t.access.actions.back().phone, "00008030-DDDD");
}

TEST(PhoneTools, LookReadsTheFullScreenAndShowsItsTextInTheImagesPixels) {
    Tools t;
    auto result = t.call("look");
    ASSERT_FALSE(failed(result)) << text(result);
    EXPECT_EQ(result["content"][0], (JSON{{"type", "image"}, {"mimeType", "image/jpeg"},
                                           {"data", base64Encoded(t.access.picture.jpeg)}}));
    EXPECT_EQ(text(result),
              "Work iPhone over USB: screen 1108×2400 px, this image 554×1200 px. Tap and swipe coordinates are pixels "
              "of this image, x from the left, y from the top.\n"
              "Text on the screen, with the centre of each line:\n"
              "\"Settings\" at (85, 210)\n\"Notes\" at (214, 216)\n\"General Settings\" at (120, 615)\n");
    // The image at its limit, the text from the screen itself.
    EXPECT_EQ(t.access.looks, (std::vector<std::pair<std::string, int>>{{"00008120-AAAA", 1200}, {"00008120-AAAA", 0}}));

    // A small image's text is read as well as a large one's, and placed in it.
    t.access.picture.image = {277, 600};
    auto small = text(t.call("look", {{"maxEdge", 600}}));
    EXPECT_NE(small.find("\"Settings\" at (43, 105)\n\"Notes\" at (107, 108)"), std::string::npos) << small;
    EXPECT_EQ(t.reader.readings, 1);  // the same screen, read once
    t.showScreen(6);
    t.call("tap", {{"text", "Notes"}});
    EXPECT_EQ(t.reader.readings, 2);
    // Another phone's identical picture is still its own screen.
    t.access.list.phones.push_back(usbPhone("00008120-BBBB", "Home iPhone"));
    t.call("look", {{"phone", "00008120-BBBB"}});
    EXPECT_EQ(t.reader.readings, 3);
}

TEST(PhoneTools, EveryPositionIsInTheLastImagesPixels) {
    Tools t;
    EXPECT_NE(text(t.call("tap", {{"x", 10}, {"y", 10}})).find("Call look first"), std::string::npos);
    // Before any look, a tap by text speaks of the image a look would send.
    EXPECT_EQ(text(t.call("tap", {{"text", "Notes"}})).rfind("Tapped \"Notes\" at (214, 216) in the 554×1200 image look sends.", 0), 0u);

    t.access.picture.image = {277, 600};
    t.call("look", {{"text", false}, {"maxEdge", 600}});
    auto tapped = t.call("tap", {{"x", 138.5}, {"y", 150}, {"hold", 1}});
    EXPECT_EQ(text(tapped), "Tapped at (139, 150) in the 277×600 image of your last look. The screen settled 310 ms "
                            "after the gesture (2 changes).");
    EXPECT_EQ(t.access.actions.back().body, (JSON{{"x", 0.5}, {"y", 0.25}, {"hold", 1.0}}));
    // The centre a look listed for "Notes" taps where a tap by text does.
    t.call("tap", {{"x", 107}, {"y", 108}});
    JSON byPixels = t.access.actions.back().body;
    t.call("tap", {{"text", "notes"}});
    EXPECT_NEAR(byPixels["x"].get<double>(), t.access.actions.back().body["x"].get<double>(), 1.0 / 277);
    EXPECT_NEAR(byPixels["y"].get<double>(), t.access.actions.back().body["y"].get<double>(), 1.0 / 600);
    t.call("tap", {{"x", 100}, {"y", 50}, {"imageWidth", 200}, {"imageHeight", 400}});
    EXPECT_EQ(t.access.actions.back().body, (JSON{{"x", 0.5}, {"y", 0.125}}));

    // A mirrored phone's crop comes out a pixel wider or narrower from one
    // look to the next; each tap is read in the image the model last saw.
    for (int width : {448, 447, 449}) {
        const ImageSize image{width, 970};
        t.access.picture = Picture{*encodeJPEG(quintalis::testing::stripedPicture(width, 970, 4), 80), image, image};
        ASSERT_FALSE(failed(t.call("look", {{"text", false}})));
        t.call("tap", {{"x", std::lround(0.93 * width)}, {"y", 485}});
        EXPECT_NEAR(t.access.actions.back().body["x"].get<double>(), 0.93, 1.0 / width) << width;
    }
}

TEST(PhoneTools, TapArgumentsThatCannotMeanOnePlaceAreRefused) {
    Tools t;
    t.call("look", {{"text", false}});
    const std::pair<JSON, const char*> refused[] = {
        {{{"x", 600}, {"y", 10}}, "x and y must lie inside the 554×1200 image of your last look."},
        {{{"x", -1}, {"y", 10}}, "x must be at least 0 pixels"},
        {{{"x", 5}}, "Give x and y (pixels of the image from look), or text to tap."},
        {{{"y", 5}}, "Give x and y (pixels of the image from look), or text to tap."},
        {{{"x", 5}, {"y", 5}, {"imageWidth", 100}}, "Give imageWidth and imageHeight together, or neither."},
        {{{"x", 5}, {"y", 5}, {"imageWidth", 0.4}, {"imageHeight", 100}}, "imageWidth must be from 1 to 65535 pixels"},
        {{{"x", 5}, {"y", 5}, {"imageWidth", 100}, {"imageHeight", -2}}, "imageHeight must be from 1 to 65535 pixels"},
        {{{"text", "Notes"}, {"y", 5}}, "Give either text or x and y, not both."},
    };
    for (const auto& [arguments, sentence] : refused) EXPECT_EQ(text(t.call("tap", arguments)), sentence) << arguments;
    EXPECT_TRUE(t.access.actions.empty());  // refused calls send nothing
}

TEST(PhoneTools, ATextTapMovesThePointerAsideOnceWhenItMisses) {
    Tools t;
    // The pointer lies on "General" until it is moved to its resting place.
    t.reader.lines = {{"Settings", 0.9, 60, 200, 50, 20}};
    t.access.onRest = [&t] {
        t.reader.lines.push_back({"General", 0.9, 20, 600, 100, 30});
        t.showScreen(6);
    };
    auto general = t.call("tap", {{"text", "General"}});
    ASSERT_FALSE(failed(general)) << text(general);
    ASSERT_EQ(t.access.actions.size(), 2u);
    EXPECT_EQ(t.access.actions[0].body, (JSON{{"rest", true}}));
    EXPECT_EQ(t.access.actions[1].body, (JSON{{"x", 70.0 / 554}, {"y", 615.0 / 1200}}));
    t.access.onRest = nullptr;
    // A second miss is a miss, after one move only, and lists what is there.
    auto wallet = text(t.call("tap", {{"text", "Wallet"}}));
    EXPECT_NE(wallet.find("Visible text, in the 554×1200 image look sends:\n\"Settings\" at (85, 210)"), std::string::npos)
        << wallet;
    EXPECT_EQ(t.access.actions.size(), 3u);

    t.reader.lines.push_back({"General", 0.9, 20, 900, 100, 30});
    t.showScreen(8);
    EXPECT_EQ(text(t.call("tap", {{"text", "general"}})),
              "\"general\" is on the screen 2 times, in the 554×1200 image look sends:\n\"General\" at (70, 615)\n"
              "\"General\" at (70, 915)\nTap one of them by its x and y instead.");
}

TEST(PhoneTools, APausedOrCancelledCallDoesNothing) {
    Tools t;
    t.access.list.paused = true;
    auto refused = t.call("tap", {{"text", "Notes"}});
    EXPECT_EQ(text(refused).rfind("Control is paused by the owner", 0), 0u);
    EXPECT_TRUE(t.access.looks.empty());
    EXPECT_FALSE(failed(t.call("look")));  // looking is still allowed
    t.stop.cancel();
    EXPECT_THROW(t.call("look"), Cancelled);
    EXPECT_THROW(t.call("type", {{"text", "hello"}}), Cancelled);
    EXPECT_TRUE(t.access.actions.empty());
}

TEST(PhoneTools, WhileTheEngineStartsToolsWaitForAFrameAndAConnection) {
    Tools t;
    t.access.engineStarting = true;
    t.access.listsBeforePhones = 3;
    t.access.looksBeforeFrame = 2;
    EXPECT_FALSE(failed(t.call("look", {{"text", false}})));
    EXPECT_EQ(t.clock.sleeps().size(), 5u);
    // A phone without its connection yet is waited for before an action, not before a look.
    t.access.list.phones[0].bluetooth = false;
    EXPECT_FALSE(failed(t.call("home")));
    EXPECT_EQ(t.clock.sleeps().size(), 5u + static_cast<size_t>(PhoneTools::kStartWait / 100ms));
    // Only while the engine starts: afterwards "no frame" is said at once.
    t.access.engineStarting = false;
    t.access.looksBeforeFrame = 1;
    EXPECT_EQ(text(t.call("look")), "no frame yet from Work iPhone: unlock it");
}

TEST(PhoneTools, SwipesKeysAndHome) {
    Tools t;
    t.call("swipe", {{"direction", "up"}, {"duration", 0.5}});
    EXPECT_EQ(t.access.actions.back().body, (JSON{{"x1", 0.5}, {"y1", 0.7}, {"x2", 0.5}, {"y2", 0.3}, {"duration", 0.5}}));
    t.call("look", {{"text", false}});
    t.call("swipe", {{"x1", 277}, {"y1", 900}, {"x2", 277}, {"y2", 300}});
    EXPECT_EQ(t.access.actions.back().body, (JSON{{"x1", 0.5}, {"y1", 0.75}, {"x2", 0.5}, {"y2", 0.25}}));
    for (const JSON& bad : {JSON{{"direction", "up"}, {"x1", 1}}, JSON{{"x1", 1}, {"y1", 1}, {"x2", 1}}}) {
        EXPECT_TRUE(failed(t.call("swipe", bad))) << bad;
    }
    EXPECT_EQ(t.access.actions.size(), 2u);

    t.access.waits.clear();
    // A character that needs Shift is its key alone, and the reply says so.
    EXPECT_NE(text(t.call("key", {{"key", "A"}, {"settle", false}})).find("pass modifiers [\"shift\"]"), std::string::npos);
    EXPECT_EQ(text(t.call("key", {{"key", "A"}, {"modifiers", {"shift"}}, {"settle", false}})), "Pressed shift+A.");
    EXPECT_EQ(t.access.actions.back().body, (JSON{{"key", "A"}, {"modifiers", {"shift"}}}));
    EXPECT_EQ(text(t.call("home", {{"settle", false}})), "Pressed Home.");
    EXPECT_TRUE(t.access.waits.empty());  // settle: false waits for nothing
}

TEST(PhoneTools, LongTextIsTypedInPiecesWithinWhatACallMayLast) {
    Tools t;
    std::string text100(100, 'x');
    EXPECT_EQ(text(t.call("type", {{"text", text100}, {"settle", false}})), "Typed \"" + text100 + "\".");
    ASSERT_EQ(t.access.actions.size(), 3u);
    EXPECT_EQ(t.access.actions[2].body, (JSON{{"text", std::string(20, 'x')}}));
    EXPECT_EQ(t.progress, (std::vector<std::pair<double, std::optional<double>>>{{40, 100}, {80, 100}, {100, 100}}));
    // Text a US keyboard cannot type is refused before any of it is typed.
    EXPECT_TRUE(failed(t.call("type", {{"text", text100 + "\xC3\xA9"}})));

    // About 40 s of typing: 60 ms a letter, 120 ms a capital (Shift goes down and up too).
    EXPECT_FALSE(failed(t.call("type", {{"text", std::string(330, 'A')}, {"settle", false}})));
    const size_t asked = t.access.actions.size();
    auto refused = text(t.call("type", {{"text", std::string(340, 'A')}}));
    EXPECT_EQ(refused.rfind("Typing this text takes about 41 s, and a call without a progressToken may type at most", 0), 0u)
        << refused;
    EXPECT_EQ(t.access.actions.size(), asked);
    // With progress asked for, the client hears from the call every few seconds.
    t.context.progressAsked = true;
    t.progress.clear();
    EXPECT_FALSE(failed(t.call("type", {{"text", std::string(3000, 'a')}, {"settle", false}})));
    EXPECT_EQ(t.progress.size(), 75u);
    // More than the engine takes is refused here, and the engine never sees the megabytes.
    const size_t typed = t.access.actions.size();
    EXPECT_EQ(text(t.call("type", {{"text", std::string(9'000'000, 'a')}})), "text is too long (at most 4000 characters)");
    EXPECT_EQ(t.access.actions.size(), typed);
}

TEST(PhoneTools, ActionsWaitFromTheirStartForAtMostTheSettleLimit) {
    Tools t;
    int64_t start = t.clock.wallMillis();
    t.call("home");
    ASSERT_EQ(t.access.waits.size(), 1u);
    EXPECT_EQ(t.access.waits[0].rule.since, start);
    EXPECT_EQ(t.access.waits[0].rule.max, 170 + PhoneTools::kSettleLimit);

    // A tap that changed nothing, not even the pointer, says why that may be.
    t.access.waitReply = JSON{{"settled", true}, {"changes", 0}, {"waited_ms", 730}, {"since_ms", 900}};
    t.call("look", {{"text", false}});
    EXPECT_NE(text(t.call("tap", {{"x", 1}, {"y", 1}})).find("AssistiveTouch may be off"), std::string::npos);
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

TEST(PhoneTools, WaitUsesItsOwnLimitsFromNowAndReportsProgressOnLongWaits) {
    Tools t;
    t.clock.advance(5s);
    t.access.waitReply = JSON{{"settled", true}, {"changes", 3}, {"waited_ms", 640}};
    EXPECT_EQ(text(t.call("wait", {{"quiet", 400}, {"max", 4000}})), "The screen settled after 640 ms (3 changes).");
    const auto& rule = t.access.waits.back().rule;
    EXPECT_EQ(rule.since, t.clock.wallMillis());
    EXPECT_EQ(rule.quiet, 400);
    EXPECT_EQ(rule.max, 4000);

    t.access.waits.clear();
    t.access.waitReply = JSON{{"settled", false}, {"changes", 9}};
    EXPECT_EQ(text(t.call("wait", {{"max", 12000}})),
              "The screen was still changing after 12000 ms (9 changes). Call wait or look to see how it ends.");
    ASSERT_EQ(t.access.waits.size(), 3u);
    EXPECT_EQ(t.access.waits[0].rule.max, 5000);
    EXPECT_EQ(t.progress.size(), 2u);
}
