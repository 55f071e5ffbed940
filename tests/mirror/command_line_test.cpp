#include <gtest/gtest.h>

#include "mirror/command_line.h"

using namespace quintalis;

TEST(CommandLine, OptionTakesTheEntryAfterTheFirstOccurrence) {
    const std::vector<std::string> args{"shot.png", "--max", "800", "--window", "12", "--max", "5", "--ocr"};
    EXPECT_EQ(option(args, "--max"), "800");
    EXPECT_EQ(option(args, "--window"), "12");
    EXPECT_FALSE(option(args, "--ocr"));  // last: no value
    EXPECT_FALSE(option(args, "--timeout"));
}
