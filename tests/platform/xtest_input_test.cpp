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

TEST_F(XTestInputTest, TypesAnyCharacterAndLeavesTheKeyboardAsItWas) {
    const auto before = keyboardNow(display);
    // Letters the keyboard has, with and without Shift; Latin-1 and other
    // characters it lacks; a letter with a combining accent; an emoji.
    const std::string text = "héllo wörld 👋 Ab!\te\u0301";
    control.typeText(text);
    catchUp();
    EXPECT_EQ(recorder.typed(), text);
    EXPECT_EQ(keyboardNow(display).keysyms, before.keysyms);
    // Every key that went down came up again.
    int held = 0;
    for (const auto& event : recorder.events()) held += event.kind == Kind::keyPress ? 1 : event.kind == Kind::keyRelease ? -1 : 0;
    EXPECT_EQ(held, 0);
}

TEST_F(XTestInputTest, MoreMissingCharactersThanSpareKeysReuseTheOldestOne) {
    const auto spares = keyboardNow(display).spareKeycodes().size();
    ASSERT_GT(spares, 0u);
    std::string text;
    for (char32_t c = 0x4e00; c < 0x4e00 + spares + 5; ++c) {  // CJK ideographs, none on the keyboard
        text += static_cast<char>(0xe0 | c >> 12);
        text += static_cast<char>(0x80 | (c >> 6 & 0x3f));
        text += static_cast<char>(0x80 | (c & 0x3f));
    }
    const auto before = keyboardNow(display);
    control.typeText(text);
    catchUp();
    EXPECT_EQ(recorder.typed(), text);
    EXPECT_EQ(keyboardNow(display).keysyms, before.keysyms);
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

    recorder.clear();
    ASSERT_TRUE(control.key("ctrl+alt+return"));
    catchUp();
    EXPECT_EQ(recorder.pressedKeysyms(), (std::vector<uint32_t>{0xffe3, 0xffe9, 0xff0d}));
}

TEST_F(XTestInputTest, PointerGesturesReachTheWindowUnderThem) {
    control.click(100, 200, false);
    catchUp();
    auto events = recorder.events();
    ASSERT_GE(events.size(), 3u);
    auto press = events[events.size() - 2], release = events.back();
    EXPECT_EQ(press.kind, Kind::buttonPress);
    EXPECT_EQ(release.kind, Kind::buttonRelease);
    EXPECT_EQ(press.keycode, 1);  // the left button
    EXPECT_EQ(std::make_pair(press.x, press.y), std::make_pair(100, 200));
    EXPECT_EQ(std::make_pair(release.x, release.y), std::make_pair(100, 200));

    recorder.clear();
    control.drag(0, 0, 100, 50.4, 64);
    catchUp();
    std::vector<std::pair<int, int>> dragged;
    for (const auto& event : recorder.events()) {
        if (event.kind == Kind::motion && (event.state & XCB_BUTTON_MASK_1)) dragged.emplace_back(event.x, event.y);
    }
    ASSERT_EQ(dragged.size(), 8u);
    EXPECT_EQ(dragged.front(), std::make_pair(13, 6));  // 12.5 and 6.3 to the nearest pixel
    EXPECT_EQ(dragged.back(), std::make_pair(100, 50));
    EXPECT_EQ(recorder.events().back().kind, Kind::buttonRelease);
}

TEST(XTestInput, SaysWhyWithoutADisplay) {
    XDisplayLink nowhere(":99999");
    XTestSyntheticInput input(nowhere);
    EXPECT_EQ(input.unavailableReason(), "cannot open display :99999");
    EXPECT_THROW(input.post(SyntheticEvent{}), SyntheticInputError);

    XDisplayLink xvfb(Xvfb::display());
    EXPECT_EQ(XTestSyntheticInput(xvfb).unavailableReason(), std::nullopt);
}

}  // namespace
