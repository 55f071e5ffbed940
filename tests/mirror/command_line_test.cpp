#include <gtest/gtest.h>

#include "base/main_run_loop.h"
#include "mirror/command_line.h"

using namespace quintalis;

TEST(CommandLine, OptionTakesTheEntryAfterTheFirstOccurrence) {
    const std::vector<std::string> args{"shot.png", "--max", "800", "--window", "12", "--max", "5", "--ocr"};
    EXPECT_EQ(option(args, "--max"), "800");
    EXPECT_EQ(option(args, "--window"), "12");
    EXPECT_FALSE(option(args, "--ocr"));  // last: no value
    EXPECT_FALSE(option(args, "--timeout"));
}

TEST(CommandLine, WaitForRunsTheMainLoopBetweenPolls) {
    bool arrived = false;
    MainRunLoop::shared().postAfter(std::chrono::milliseconds(150), [&] { arrived = true; });
    EXPECT_TRUE(waitFor(5, [&] { return arrived; }));
    EXPECT_FALSE(waitFor(0.2, [] { return false; }));
    EXPECT_TRUE(waitFor(0, [] { return true; }));
}
