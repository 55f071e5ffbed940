#include <gtest/gtest.h>

#include <map>
#include <set>

#include "base/characters.h"
#include "bluetooth/keymap.h"

using namespace quintalis;
using Stroke = Keymap::Stroke;

namespace {

// A US keyboard, key by key in usage order: the character it types alone
// and the one it types with Shift.
struct Key {
    uint8_t usage;
    const char* plain;
    const char* shifted;  // nullptr when Shift types nothing else
};
const Key kKeys[] = {
    {0x04, "a", "A"}, {0x05, "b", "B"}, {0x06, "c", "C"}, {0x07, "d", "D"}, {0x08, "e", "E"}, {0x09, "f", "F"},
    {0x0A, "g", "G"}, {0x0B, "h", "H"}, {0x0C, "i", "I"}, {0x0D, "j", "J"}, {0x0E, "k", "K"}, {0x0F, "l", "L"},
    {0x10, "m", "M"}, {0x11, "n", "N"}, {0x12, "o", "O"}, {0x13, "p", "P"}, {0x14, "q", "Q"}, {0x15, "r", "R"},
    {0x16, "s", "S"}, {0x17, "t", "T"}, {0x18, "u", "U"}, {0x19, "v", "V"}, {0x1A, "w", "W"}, {0x1B, "x", "X"},
    {0x1C, "y", "Y"}, {0x1D, "z", "Z"}, {0x1E, "1", "!"}, {0x1F, "2", "@"}, {0x20, "3", "#"}, {0x21, "4", "$"},
    {0x22, "5", "%"}, {0x23, "6", "^"}, {0x24, "7", "&"}, {0x25, "8", "*"}, {0x26, "9", "("}, {0x27, "0", ")"},
    {0x28, "\n", nullptr}, {0x2B, "\t", nullptr}, {0x2C, " ", nullptr}, {0x2D, "-", "_"}, {0x2E, "=", "+"},
    {0x2F, "[", "{"}, {0x30, "]", "}"}, {0x31, "\\", "|"}, {0x33, ";", ":"}, {0x34, "'", "\""}, {0x35, "`", "~"},
    {0x36, ",", "<"}, {0x37, ".", ">"}, {0x38, "/", "?"},
};

}  // namespace

TEST(Keymap, EveryTypeableCharacterAndNothingElse) {
    std::set<std::string> listed;
    for (const Key& key : kKeys) {
        EXPECT_EQ(Keymap::stroke(key.plain), (Stroke{key.usage, 0})) << key.plain;
        listed.insert(key.plain);
        if (!key.shifted) continue;
        EXPECT_EQ(Keymap::stroke(key.shifted), (Stroke{key.usage, Keymap::shift})) << key.shifted;
        listed.insert(key.shifted);
    }
    for (int c = 0; c < 0x80; ++c) {
        std::string character(1, static_cast<char>(c));
        EXPECT_EQ(Keymap::stroke(character).has_value(), listed.count(character) == 1) << c;
    }
    for (const char* character : {"\r\n", "\xC3\xA9", "\xC2\xA3", "\xF0\x9F\x98\x80", "e\xCC\x81", ""}) {
        EXPECT_FALSE(Keymap::stroke(character)) << character;
    }
}

TEST(Keymap, NamedKeysAndModifiers) {
    EXPECT_EQ(Keymap::named(), (std::map<std::string, uint8_t>{
                                   {"enter", 0x28},     {"return", 0x28},        {"escape", 0x29},   {"esc", 0x29},
                                   {"backspace", 0x2A}, {"delete", 0x2A},        {"tab", 0x2B},      {"space", 0x2C},
                                   {"right", 0x4F},     {"left", 0x50},          {"down", 0x51},     {"up", 0x52},
                                   {"home", 0x4A},      {"pageup", 0x4B},        {"forwarddelete", 0x4C},
                                   {"end", 0x4D},       {"pagedown", 0x4E},
                               }));
    // Bits of the keyboard report's modifier byte (the left-hand keys).
    EXPECT_EQ(Keymap::modifiers(), (std::map<std::string, uint8_t>{
                                       {"ctrl", 0x01}, {"control", 0x01}, {"shift", 0x02}, {"alt", 0x04},
                                       {"option", 0x04}, {"cmd", 0x08}, {"command", 0x08},
                                   }));
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
    const std::pair<std::string, std::string> cases[] = {
        {"\xC3\xA9", "\"\xC3\xA9\""}, {"\r\n", "\"\\r\\n\""}, {std::string("\0", 1), "\"\\0\""},
        {"\"", "\"\\\"\""}, {"'", "\"\\'\""}, {"\\", "\"\\\\\""},
        {"\x1B", "\"\\u{1B}\""}, {"\x7F", "\"\\u{7F}\""}};
    for (const auto& [text, shown] : cases) EXPECT_EQ(debugRepresentation(text), shown);
}
