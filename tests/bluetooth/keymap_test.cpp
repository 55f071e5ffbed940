#include <gtest/gtest.h>

#include "bluetooth/characters.h"
#include "bluetooth/keymap.h"

using namespace quintalis;
using Stroke = Keymap::Stroke;

TEST(Keymap, StrokesForTypeableCharacters) {
    const std::pair<const char*, Stroke> cases[] = {
        {"a", {0x04, 0}},    {"A", {0x04, 0x02}}, {"Z", {0x1D, 0x02}},  {"1", {0x1E, 0}},   {"9", {0x26, 0}},
        {"0", {0x27, 0}},    {")", {0x27, 0x02}}, {"?", {0x38, 0x02}},  {"\"", {0x34, 0x02}}, {"\n", {0x28, 0}},
        {"\t", {0x2B, 0}},   {" ", {0x2C, 0}},    {"|", {0x31, 0x02}},  {"~", {0x35, 0x02}}, {"_", {0x2D, 0x02}},
    };
    for (const auto& [character, stroke] : cases) EXPECT_EQ(Keymap::stroke(character), stroke) << character;
}

TEST(Keymap, CharactersAUSKeyboardCannotType) {
    for (const char* character : {"\r", "\r\n", "\xC3\xA9", "\xC2\xA3", "\xF0\x9F\x98\x80", "e\xCC\x81", ""}) {
        EXPECT_FALSE(Keymap::stroke(character)) << character;
    }
}

TEST(Keymap, NamedKeysAndModifiers) {
    EXPECT_EQ(Keymap::named().size(), 17u);
    EXPECT_EQ(Keymap::named().at("enter"), 0x28);
    EXPECT_EQ(Keymap::named().at("delete"), 0x2A);  // backspace, not forward delete
    EXPECT_EQ(Keymap::named().at("forwarddelete"), 0x4C);
    EXPECT_EQ(Keymap::modifiers().at("cmd"), 0x08);
    EXPECT_EQ(Keymap::modifiers().at("option"), 0x04);
}

TEST(Characters, SplitIntoUserPerceivedCharacters) {
    using V = std::vector<std::string>;
    EXPECT_EQ(userPerceivedCharacters("Hi!"), (V{"H", "i", "!"}));
    EXPECT_EQ(userPerceivedCharacters("a\r\nb"), (V{"a", "\r\n", "b"}));
    EXPECT_EQ(userPerceivedCharacters("e\xCC\x81x"), (V{"e\xCC\x81", "x"}));
    // family emoji: man ZWJ woman ZWJ girl
    EXPECT_EQ(userPerceivedCharacters("\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7").size(), 1u);
    // flags are pairs of regional indicators
    EXPECT_EQ(userPerceivedCharacters("\xF0\x9F\x87\xAB\xF0\x9F\x87\xB7\xF0\x9F\x87\xA9\xF0\x9F\x87\xAA").size(), 2u);
    EXPECT_EQ(userPerceivedCharacters("a\xFF").size(), 2u);  // an invalid byte is a character of its own
    EXPECT_TRUE(userPerceivedCharacters("").empty());
}

TEST(Characters, DebugRepresentation) {
    EXPECT_EQ(debugRepresentation("\xC3\xA9"), "\"\xC3\xA9\"");
    EXPECT_EQ(debugRepresentation("\r\n"), "\"\\r\\n\"");
    EXPECT_EQ(debugRepresentation(std::string("\0", 1)), "\"\\0\"");
    EXPECT_EQ(debugRepresentation("\""), "\"\\\"\"");
    EXPECT_EQ(debugRepresentation("'"), "\"\\'\"");
    EXPECT_EQ(debugRepresentation("\\"), "\"\\\\\"");
    EXPECT_EQ(debugRepresentation("\x1B"), "\"\\u{1B}\"");
    EXPECT_EQ(debugRepresentation("\x7F"), "\"\\u{7F}\"");
}
