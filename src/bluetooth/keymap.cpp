#include "bluetooth/keymap.h"

namespace quintalis {
namespace {

const std::map<std::string, uint8_t>& plain() {
    static const auto table = [] {
        std::map<std::string, uint8_t> map;
        const std::string letters = "abcdefghijklmnopqrstuvwxyz";
        for (size_t i = 0; i < letters.size(); ++i) map[letters.substr(i, 1)] = static_cast<uint8_t>(0x04 + i);
        const std::string digits = "1234567890";
        for (size_t i = 0; i < digits.size(); ++i) map[digits.substr(i, 1)] = static_cast<uint8_t>(0x1E + i);
        const std::pair<const char*, uint8_t> others[] = {
            {"\n", 0x28}, {"\t", 0x2B}, {" ", 0x2C}, {"-", 0x2D}, {"=", 0x2E}, {"[", 0x2F}, {"]", 0x30},
            {"\\", 0x31}, {";", 0x33},  {"'", 0x34}, {"`", 0x35}, {",", 0x36}, {".", 0x37}, {"/", 0x38},
        };
        for (const auto& [character, code] : others) map[character] = code;
        return map;
    }();
    return table;
}

// Shifted character to the unshifted character on the same key.
const std::map<std::string, std::string>& shifted() {
    static const auto table = [] {
        std::map<std::string, std::string> map;
        for (char c = 'a'; c <= 'z'; ++c) map[std::string(1, static_cast<char>(c - 'a' + 'A'))] = std::string(1, c);
        const std::string upper = "!@#$%^&*()_+{}|:\"~<>?";
        const std::string lower = "1234567890-=[]\\;'`,./";
        for (size_t i = 0; i < upper.size(); ++i) map[upper.substr(i, 1)] = lower.substr(i, 1);
        return map;
    }();
    return table;
}

}  // namespace

std::optional<Keymap::Stroke> Keymap::stroke(std::string_view character) {
    const std::string key(character);
    if (auto found = plain().find(key); found != plain().end()) return Stroke{found->second, 0};
    if (auto found = shifted().find(key); found != shifted().end()) {
        if (auto base = plain().find(found->second); base != plain().end()) return Stroke{base->second, shift};
    }
    return std::nullopt;
}

const std::map<std::string, uint8_t>& Keymap::named() {
    static const std::map<std::string, uint8_t> table{
        {"enter", 0x28},  {"return", 0x28}, {"escape", 0x29},        {"esc", 0x29},  {"backspace", 0x2A},
        {"delete", 0x2A}, {"tab", 0x2B},    {"space", 0x2C},         {"right", 0x4F}, {"left", 0x50},
        {"down", 0x51},   {"up", 0x52},     {"forwarddelete", 0x4C}, {"home", 0x4A}, {"end", 0x4D},
        {"pageup", 0x4B}, {"pagedown", 0x4E},
    };
    return table;
}

const std::map<std::string, uint8_t>& Keymap::modifiers() {
    static const std::map<std::string, uint8_t> table{
        {"ctrl", 0x01}, {"control", 0x01}, {"shift", 0x02}, {"alt", 0x04},
        {"option", 0x04}, {"cmd", 0x08},   {"command", 0x08},
    };
    return table;
}

}  // namespace quintalis
