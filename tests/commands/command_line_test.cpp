#include <gtest/gtest.h>

#include "base/text.h"
#include "commands/command_line.h"

using namespace quintalis;

TEST(CommandLine, OptionTakesTheEntryAfterTheFirstOccurrence) {
    const std::vector<std::string> args{"shot.png", "--max", "800", "--window", "12", "--max", "5", "--ocr"};
    EXPECT_EQ(option(args, "--max"), "800");
    EXPECT_EQ(option(args, "--window"), "12");
    EXPECT_FALSE(option(args, "--ocr"));  // last: no value
    EXPECT_FALSE(option(args, "--timeout"));
}

TEST(CommandLine, NumbersAreReadWholeAndWaitsStayWithinADay) {
    EXPECT_EQ(parseNumber("+2.5e1"), 25.0);
    EXPECT_EQ(parseNumber("-0.5"), -0.5);
    for (const char* text : {"", "+", "+-1", "1.5s", " 1", "0x10", "inf", "nan", "1e400"}) {
        EXPECT_FALSE(parseNumber(text)) << text;
    }

    EXPECT_EQ(waitSeconds("1.5", 5), std::chrono::milliseconds(1500));
    EXPECT_EQ(waitSeconds(std::nullopt, 5), std::chrono::seconds(5));
    EXPECT_EQ(waitSeconds("soon", 5), std::chrono::seconds(5));
    EXPECT_EQ(waitSeconds("-3", 5), Duration::zero());
    // Beyond about 292 years, nanoseconds no longer fit: a huge wait is a day.
    EXPECT_EQ(waitSeconds("1e300", 5), std::chrono::hours(24));
}
