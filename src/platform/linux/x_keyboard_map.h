#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <optional>
#include <vector>

namespace quintalis {

// The keyboard mapping of an X display as the core protocol gives it: for
// each keycode from minKeycode on, keysymsPerKeycode keysyms, of which
// column 0 is typed plainly and column 1 with Shift. Plain data; the
// functions below read it.
struct XKeyboardMap {
    uint8_t minKeycode = 0;
    int keysymsPerKeycode = 0;
    std::vector<uint32_t> keysyms;  // one row of keysymsPerKeycode per keycode

    // Nothing when the server does not answer.
    static std::optional<XKeyboardMap> fetch(xcb_connection_t* connection);

    int keycodeCount() const { return keysymsPerKeycode ? static_cast<int>(keysyms.size()) / keysymsPerKeycode : 0; }
    std::vector<uint32_t> row(uint8_t keycode) const;
    void setRow(uint8_t keycode, const std::vector<uint32_t>& row);

    struct Key {
        uint8_t keycode;
        bool shift;
        bool operator==(const Key&) const = default;
    };
    // The key that types `keysym`: a plain one if there is any, else one
    // with Shift. Other groups and levels are not used, since reaching them
    // takes more than Shift.
    std::optional<Key> find(uint32_t keysym) const;
    // Keycodes the keyboard has no keysym on at all, lowest first: free to
    // lend to a character the keyboard lacks.
    std::vector<uint8_t> spareKeycodes() const;
};

// Which keycodes turn on each of the eight modifiers (Shift, Lock, Control,
// Mod1 to Mod5), as GetModifierMapping answers; zeros are unused slots.
struct XModifierMap {
    int keycodesPerModifier = 0;
    std::vector<uint8_t> keycodes;  // eight rows

    static std::optional<XModifierMap> fetch(xcb_connection_t* connection);

    // The key to hold for one of the ModifierFlags: the first Shift or
    // Control key, or among Mod1 to Mod5 the first key that is Alt (for
    // alternate) or Super (for command). Nothing when the keyboard has none.
    std::optional<uint8_t> keyFor(uint32_t modifierFlag, const XKeyboardMap& keyboard) const;
};

// The keysym that types the character: Latin-1 keysyms are the character
// itself, Return and Tab stand for line breaks and tabs, and every other
// character has its Unicode keysym (0x01000000 + code point). 0 for control
// characters, which type nothing.
uint32_t keysymForCharacter(char32_t character);

}  // namespace quintalis
