#include <gtest/gtest.h>

#include "mirror/desktop_control.h"
#include "platform/linux/xtest_input.h"
#include "support/fake_clock.h"
#include "support/input_recorder.h"
#include "support/xvfb.h"

using namespace quintalis;
using namespace quintalis::testing;

namespace {

using Kind = InputRecorder::Event::Kind;

// Fake time whose sleeps first let the recorder read everything posted so
// far: the typist never runs ahead of the application it types into, so the
// test does not depend on how fast either runs.
class InStepClock final : public Clock {
public:
    InStepClock(InputRecorder& recorder, XDisplayLink& display) : recorder_(recorder), display_(display) {}
    int64_t wallMillis() const override { return time_.wallMillis(); }
    MonotonicTime now() const override { return time_.now(); }
    void sleep(Duration duration) override {
        if (auto x = display_.connection()) recorder_.catchUp(x->get());
        time_.sleep(duration);
    }

private:
    InputRecorder& recorder_;
    XDisplayLink& display_;
    FakeClock time_;
};

XKeyboardMap keyboardNow(XDisplayLink& display) { return *XKeyboardMap::fetch(display.connection()->get()); }

class XTestInputTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(Xvfb::display().empty()) << "Xvfb did not start"; }

    void catchUp() { recorder.catchUp(display.connection()->get()); }

    XDisplayLink display{Xvfb::display()};
    XTestSyntheticInput input{display};
    InputRecorder recorder{Xvfb::display()};
    InStepClock clock{recorder, display};
    DesktopControl control{input, clock};
};

// Letters the keyboard has, with and without Shift; characters it lacks
// (Latin-1, a combining accent, an emoji), and more of them than it has
// spare keys, so the oldest lent key is lent again.
TEST_F(XTestInputTest, TypesAnyCharacterAndLeavesTheKeyboardAsItWas) {
    const auto before = keyboardNow(display);
    std::string text = "héllo wörld 👋 Ab!\te\u0301 ";
    for (char32_t c = 0x4e00; c < 0x4e00 + before.spareKeycodes().size() + 5; ++c) {  // CJK, none on the keyboard
        text += static_cast<char>(0xe0 | c >> 12);
        text += static_cast<char>(0x80 | (c >> 6 & 0x3f));
        text += static_cast<char>(0x80 | (c & 0x3f));
    }
    control.typeText(text);
    catchUp();
    EXPECT_EQ(recorder.typed(), text);
    EXPECT_EQ(keyboardNow(display).keysyms, before.keysyms);
    int held = 0;
    for (const auto& event : recorder.events()) held += event.kind == Kind::keyPress ? 1 : event.kind == Kind::keyRelease ? -1 : 0;
    EXPECT_EQ(held, 0) << "every key that went down came up again";
}

TEST_F(XTestInputTest, KeysArePressedInsideTheirModifiers) {
    ASSERT_TRUE(control.key("cmd+shift+a"));
    catchUp();
    const auto events = recorder.events();
    ASSERT_EQ(events.size(), 6u);
    // Shift and Super go down, then the key with both held, then all come up in reverse.
    EXPECT_EQ(recorder.pressedKeysyms(), (std::vector<uint32_t>{0xffe1, 0xffeb, 'A'}));
    EXPECT_EQ(events[2].kind, Kind::keyPress);
    EXPECT_TRUE(events[2].state & XCB_MOD_MASK_SHIFT);
    EXPECT_TRUE(events[2].state & XCB_MOD_MASK_4);  // where Xvfb's keyboard puts Super
    for (int i = 3; i < 6; ++i) EXPECT_EQ(events[i].kind, Kind::keyRelease);
    EXPECT_EQ(events[3].keycode, events[2].keycode);
}

TEST(XTestInput, SaysWhyWithoutADisplay) {
    XDisplayLink nowhere(":99999");
    XTestSyntheticInput input(nowhere);
    EXPECT_EQ(input.unavailableReason(), "cannot open display :99999");
    EXPECT_THROW(input.post(SyntheticEvent{}), SyntheticInputError);
}

}  // namespace
