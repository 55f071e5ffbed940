#include <gtest/gtest.h>

#include "base/json.h"
#include "support/input_recorder.h"
#include "support/run_program.h"
#include "support/xvfb.h"

using namespace quintalis;
using namespace quintalis::testing;

namespace {

using Kind = InputRecorder::Event::Kind;

// The built program's desktop commands on a private X server, received by a
// window that records them. Timings are checked with a fake clock in
// desktop_control_test; here, what arrives.
class DesktopCommandsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(Xvfb::display().empty()) << "Xvfb did not start";
        setenv("DISPLAY", Xvfb::display().c_str(), 1);
        recorder = std::make_unique<InputRecorder>(Xvfb::display());
    }

    // Runs the command, then waits until the recorder has everything it made.
    ProgramRun command(const std::string& arguments) {
        auto result = run(arguments, dir);
        recorder->catchUp();
        return result;
    }

    std::vector<InputRecorder::Event> dragMoves() {
        std::vector<InputRecorder::Event> moves;
        for (const auto& event : recorder->events()) {
            if (event.kind == Kind::motion && (event.state & XCB_BUTTON_MASK_1)) moves.push_back(event);
        }
        return moves;
    }

    TempDir dir;
    std::unique_ptr<InputRecorder> recorder;
};

TEST_F(DesktopCommandsTest, ClickPressesAndReleasesWhereItIsTold) {
    for (const char* arguments : {"click 100 200", "click 100.4 199.6 long"}) {
        recorder->clear();
        auto result = command(arguments);
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(result.out, "");
        auto events = recorder->events();
        ASSERT_GE(events.size(), 2u) << arguments;
        for (const auto& event : {events[events.size() - 2], events.back()}) {
            EXPECT_EQ(std::make_pair(event.x, event.y), std::make_pair(100, 200)) << arguments;
        }
        EXPECT_EQ(events[events.size() - 2].kind, Kind::buttonPress);
        EXPECT_EQ(events.back().kind, Kind::buttonRelease);
    }
}

TEST_F(DesktopCommandsTest, DragMovesInStepsWithTheButtonHeld) {
    for (auto [arguments, steps] : {std::pair<std::string, size_t>{"drag 0 0 100 0 64", 8},
                                    {"drag 0 0 100 0 1600", 100}, {"drag 0 0 100 0 -20", 8},
                                    {"drag 0 0 100 0", 18}}) {
        recorder->clear();
        auto result = command(arguments);
        EXPECT_EQ(result.status, 0) << result.err;
        auto moves = dragMoves();
        ASSERT_EQ(moves.size(), steps) << arguments;
        EXPECT_EQ(moves.back().x, 100);
        EXPECT_EQ(recorder->events().back().kind, Kind::buttonRelease);
    }
}

TEST_F(DesktopCommandsTest, TypeAndKey) {
    auto typed = command("type hello  world");  // two words, joined by one space
    EXPECT_EQ(typed.status, 0) << typed.err;
    EXPECT_EQ(recorder->typed(), "hello world");

    recorder->clear();
    EXPECT_EQ(command("type").status, 0);
    EXPECT_TRUE(recorder->events().empty());

    // Characters the keyboard lacks borrow a key, and give it back.
    auto keyboard = [] {
        auto x = XConnection::open(Xvfb::display());
        return XKeyboardMap::fetch(x->get())->keysyms;
    };
    const auto before = keyboard();
    recorder->clear();
    EXPECT_EQ(command("type héllo wörld 👋").status, 0);
    EXPECT_EQ(keyboard(), before);
    EXPECT_EQ(recorder->pressedKeysyms().size(), 13u);

    recorder->clear();
    EXPECT_EQ(command("key Cmd+Shift+A").status, 0);
    auto upper = recorder->pressedKeysyms();
    recorder->clear();
    EXPECT_EQ(command("key cmd+shift+a").status, 0);
    EXPECT_EQ(recorder->pressedKeysyms(), upper);
    EXPECT_EQ(upper.size(), 3u);

    recorder->clear();
    EXPECT_EQ(command("key return").status, 0);
    EXPECT_EQ(recorder->typed(), "\n");
}

TEST_F(DesktopCommandsTest, BadArgumentsFailWithOneLineAndSendNothing) {
    // Each message is checked in the commands' own tests; here, that the program says it and sends nothing.
    const std::pair<std::string, std::string> cases[] = {
        {"click 100 nan", "usage: click <x> <y> [long]\n"},
        {"drag 1 2 3 4 1e9", "a drag takes at most 60000 ms\n"},
        {"key cmd+q", "unknown key cmd+q\n"},
        {"activate", "iPhone Mirroring isn't available on Linux\n"},
    };
    for (const auto& [arguments, message] : cases) {
        auto result = command(arguments);
        EXPECT_EQ(result.status, 1) << arguments;
        EXPECT_EQ(result.err, message) << arguments;
        EXPECT_EQ(result.out, "") << arguments;
    }
    EXPECT_TRUE(recorder->pressedKeysyms().empty());
    EXPECT_TRUE(dragMoves().empty());
}

TEST_F(DesktopCommandsTest, TrustedSaysWhatThisDisplayAllows) {
    auto trusted = command("trusted");
    EXPECT_EQ(trusted.status, 0);
    EXPECT_EQ(trusted.out, "{\"accessibility\":true,\"camera\":true,\"screen\":true}\n");

    unsetenv("DISPLAY");
    auto headless = run("trusted", dir);
    EXPECT_EQ(headless.out, "{\"accessibility\":false,\"camera\":true,\"screen\":false}\n");
    auto click = run("click 1 2", dir);
    EXPECT_EQ(click.status, 1);
    EXPECT_EQ(click.err, "DISPLAY is not set\n");
}

}  // namespace
