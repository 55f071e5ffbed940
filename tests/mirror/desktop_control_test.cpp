#include <gtest/gtest.h>

#include <cmath>

#include "mirror/desktop_control.h"
#include "support/fake_clock.h"

using namespace quintalis;
using namespace quintalis::testing;
using Type = SyntheticEvent::Type;
using std::chrono::milliseconds;

namespace {

// Keeps what is posted; can take fake time per event, or fail at one.
class RecordingInput final : public SyntheticInput {
public:
    explicit RecordingInput(FakeClock& clock) : clock_(clock) {}
    std::optional<std::string> unavailableReason() override { return std::nullopt; }
    void post(const SyntheticEvent& event) override {
        if (failAt && events.size() == *failAt) {
            failAt.reset();
            throw SyntheticInputError("gone");
        }
        events.push_back(event);
        clock_.advance(postingTakes);
    }
    void flush() override { ++flushes; }

    std::vector<SyntheticEvent> events;
    int flushes = 0;
    Duration postingTakes{};
    std::optional<size_t> failAt;

private:
    FakeClock& clock_;
};

class DesktopControlTest : public ::testing::Test {
protected:
    FakeClock clock;
    RecordingInput input{clock};
    DesktopControl control{input, clock};
};

TEST_F(DesktopControlTest, ClickMovesThenHoldsTheButton) {
    for (bool longPress : {false, true}) {
        input.events.clear();
        FakeClock timing;
        DesktopControl timed(input, timing);
        timed.click(100, 200, longPress);
        ASSERT_EQ(input.events.size(), 3u);
        EXPECT_EQ(input.events[0].type, Type::mouseMoved);
        EXPECT_EQ(input.events[1].type, Type::leftMouseDown);
        EXPECT_EQ(input.events[2].type, Type::leftMouseUp);
        for (const auto& event : input.events) EXPECT_EQ(std::make_pair(event.x, event.y), std::make_pair(100.0, 200.0));
        EXPECT_EQ(timing.sleeps(), (std::vector<Duration>{milliseconds(30), milliseconds(longPress ? 900 : 60)}));
    }
    EXPECT_EQ(input.flushes, 2);
}

TEST_F(DesktopControlTest, DragStepsAndTheirPace) {
    struct Case {
        double ms;
        size_t steps;
        Duration interval;
    };
    for (auto [ms, steps, interval] : {Case{64, 8, milliseconds(8)}, Case{1600, 100, milliseconds(16)},
                                       Case{NAN, 8, Duration::zero()}}) {
        input.events.clear();
        FakeClock timing;
        DesktopControl timed(input, timing);
        timed.drag(0, 10, 100, 10, ms);
        ASSERT_EQ(input.events.size(), steps + 2) << ms;
        EXPECT_EQ(input.events.front().type, Type::leftMouseDown);
        EXPECT_DOUBLE_EQ(input.events[1].x, 100.0 / steps);
        EXPECT_EQ(input.events.back().type, Type::leftMouseUp);
        EXPECT_EQ(input.events.back().x, 100);
        EXPECT_EQ(timing.sleeps(), interval == Duration::zero() ? std::vector<Duration>{}
                                                                 : std::vector<Duration>(steps, interval))
            << ms;
    }
}

TEST_F(DesktopControlTest, TypesEachUserPerceivedCharacterAsText) {
    control.typeText("héllo wörld 👋 e\u0301🇫🇷");
    std::vector<std::string> typed;
    for (size_t i = 0; i < input.events.size(); i += 2) {
        EXPECT_EQ(input.events[i].type, Type::keyDown);
        EXPECT_EQ(input.events[i + 1].type, Type::keyUp);
        EXPECT_EQ(input.events[i + 1].text, input.events[i].text);
        typed.push_back(input.events[i].text);
    }
    EXPECT_EQ(typed, (std::vector<std::string>{"h", "é", "l", "l", "o", " ", "w", "ö", "r", "l", "d", " ", "👋", " ",
                                               "e\u0301", "🇫🇷"}));
    EXPECT_EQ(clock.sleeps(), std::vector<Duration>(16, milliseconds(12)));
}

TEST_F(DesktopControlTest, PacingCountsTheTimePostingTakes) {
    input.postingTakes = milliseconds(4);  // two events per character: 8 of each 12 ms
    control.typeText("abc");
    EXPECT_EQ(clock.sleeps(), std::vector<Duration>(3, milliseconds(4)));
    EXPECT_EQ(clock.elapsed(), milliseconds(36));

    // A character that ran late does not make the next ones hurry.
    FakeClock late;
    RecordingInput slow(late);
    slow.postingTakes = milliseconds(20);
    DesktopControl(slow, late).typeText("abc");
    EXPECT_TRUE(late.sleeps().empty());
    EXPECT_EQ(late.elapsed(), milliseconds(120));
}

TEST_F(DesktopControlTest, KeyChords) {
    const KeyChord commandShiftA{'a', kCommandModifier | kShiftModifier};
    EXPECT_EQ(parseKeyChord("Cmd+Shift+A"), commandShiftA);
    EXPECT_EQ(parseKeyChord("COMMAND++shift+a+"), commandShiftA);
    EXPECT_EQ(parseKeyChord("option+control+left"), (KeyChord{0xff51, kAlternateModifier | kControlModifier}));
    EXPECT_EQ(parseKeyChord("a+3"), (KeyChord{'3', 0}));  // the last key wins
    for (const char* unknown : {"cmd+q", "cmd", "", "shift+alt", "é"}) {
        EXPECT_EQ(parseKeyChord(unknown), std::nullopt) << unknown;
    }
    EXPECT_FALSE(control.key("cmd+q"));
    EXPECT_TRUE(input.events.empty());

    ASSERT_TRUE(control.key("ctrl+h"));
    ASSERT_EQ(input.events.size(), 2u);
    EXPECT_EQ(input.events[1].type, Type::keyUp);
    EXPECT_EQ(input.events[1].keysym, 'h');
    EXPECT_EQ(input.events[1].modifiers, kControlModifier);
}

TEST_F(DesktopControlTest, AFailedGestureLetsGoOfTheButton) {
    input.failAt = 2;  // the drag's second step
    EXPECT_THROW(control.drag(0, 0, 100, 0, 64), SyntheticInputError);
    ASSERT_EQ(input.events.size(), 3u);
    EXPECT_EQ(input.events.back().type, Type::leftMouseUp);
    EXPECT_EQ(input.events.back().x, 12.5);  // where the pointer was left
    EXPECT_EQ(input.flushes, 1);
}

}  // namespace
