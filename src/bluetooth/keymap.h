#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace quintalis {

// The US keyboard layout, as tables of HID keyboard usages.
struct Keymap {
    // How a US keyboard produces a character: one key usage plus the modifier
    // bits held with it (laid out as the keyboard report's first byte).
    struct Stroke {
        uint8_t code = 0;
        uint8_t modifiers = 0;
        bool operator==(const Stroke&) const = default;
    };

    static constexpr uint8_t shift = 0x02;

    // The stroke for one user-perceived character; nothing when a US keyboard
    // cannot type it.
    static std::optional<Stroke> stroke(std::string_view character);

    // Lower-case key names ("enter", "pageup", ...) to usages.
    static const std::map<std::string, uint8_t>& named();
    // Lower-case modifier names ("cmd", "shift", ...) to modifier bits.
    static const std::map<std::string, uint8_t>& modifiers();
};

}  // namespace quintalis
