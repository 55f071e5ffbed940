#include <gtest/gtest.h>

#include "base/characters.h"
#include "bluetooth/keymap.h"

using namespace quintalis;
using Stroke = Keymap::Stroke;

TEST(Keymap, TypesUSCharactersWithShiftWhereNeededAndNothingElse) {
    const std::pair<const char*, Stroke> strokes[] = {
        {"a", {0x04, 0}}, {"Z", {0x1D, Keymap::shift}}, {"1", {0x1E, 0}}, {"!", {0x1E, Keymap::shift}},
        {"0", {0x27, 0}}, {"\n", {0x28, 0}}, {" ", {0x2C, 0}}, {"\"", {0x34, Keymap::shift}}, {"?", {0x38, Keymap::shift}},
        {"`", {0x35, 0}}, {"~", {0x35, Keymap::shift}}};
    for (const auto& [character, stroke] : strokes) EXPECT_EQ(Keymap::stroke(character), stroke) << character;
    int typeable = 0;
    for (int c = 0; c < 0x80; ++c) typeable += Keymap::stroke(std::string(1, static_cast<char>(c))).has_value();
    EXPECT_EQ(typeable, 95 + 2);  // printable ASCII, newline and tab
    for (const char* character : {"\r\n", "\xC3\xA9", "\xF0\x9F\x98\x80", "e\xCC\x81", "", "\x7F"}) {
        EXPECT_FALSE(Keymap::stroke(character)) << character;
    }
    EXPECT_EQ(Keymap::named().at("delete"), 0x2A);
    EXPECT_EQ(Keymap::modifiers().at("cmd"), 0x08);
}

TEST(Characters, SplitIntoUserPerceivedCharacters) {
    using V = std::vector<std::string>;
    EXPECT_EQ(userPerceivedCharacters("a\r\nb"), (V{"a", "\r\n", "b"}));
    EXPECT_EQ(userPerceivedCharacters("e\xCC\x81x"), (V{"e\xCC\x81", "x"}));
    // family emoji (man ZWJ woman ZWJ girl), then two flags
    EXPECT_EQ(userPerceivedCharacters("\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7").size(), 1u);
    EXPECT_EQ(userPerceivedCharacters("\xF0\x9F\x87\xAB\xF0\x9F\x87\xB7\xF0\x9F\x87\xA9\xF0\x9F\x87\xAA").size(), 2u);
    EXPECT_EQ(userPerceivedCharacters("a\xFF").size(), 2u);
    EXPECT_TRUE(userPerceivedCharacters("").empty());
}
