#include "platform/linux/x_keyboard_map.h"

#include <algorithm>
#include <array>

#include "platform/linux/x_connection.h"
#include "platform/synthetic_input.h"

namespace quintalis {
namespace {

constexpr uint32_t kNoSymbol = 0;
constexpr uint32_t kReturn = 0xff0d, kTab = 0xff09;
constexpr uint32_t kAltL = 0xffe9, kAltR = 0xffea, kSuperL = 0xffeb, kSuperR = 0xffec;
constexpr int kShiftRow = 0, kControlRow = 2, kFirstModRow = 3, kRows = 8;

}  // namespace

std::optional<XKeyboardMap> XKeyboardMap::fetch(xcb_connection_t* connection) {
    const xcb_setup_t* setup = xcb_get_setup(connection);
    const int count = setup->max_keycode - setup->min_keycode + 1;
    auto reply = xreply(xcb_get_keyboard_mapping_reply(
        connection, xcb_get_keyboard_mapping(connection, setup->min_keycode, static_cast<uint8_t>(count)), nullptr));
    if (!reply) return std::nullopt;
    XKeyboardMap map;
    map.minKeycode = setup->min_keycode;
    map.keysymsPerKeycode = reply->keysyms_per_keycode;
    const xcb_keysym_t* keysyms = xcb_get_keyboard_mapping_keysyms(reply.get());
    map.keysyms.assign(keysyms, keysyms + xcb_get_keyboard_mapping_keysyms_length(reply.get()));
    return map;
}

std::vector<uint32_t> XKeyboardMap::row(uint8_t keycode) const {
    const auto start = keysyms.begin() + (keycode - minKeycode) * keysymsPerKeycode;
    return {start, start + keysymsPerKeycode};
}

void XKeyboardMap::setRow(uint8_t keycode, const std::vector<uint32_t>& row) {
    std::copy(row.begin(), row.end(), keysyms.begin() + (keycode - minKeycode) * keysymsPerKeycode);
}

std::optional<XKeyboardMap::Key> XKeyboardMap::find(uint32_t keysym) const {
    if (keysym == kNoSymbol) return std::nullopt;
    for (int column = 0; column < std::min(2, keysymsPerKeycode); ++column) {
        for (int index = 0; index < keycodeCount(); ++index) {
            if (keysyms[index * keysymsPerKeycode + column] == keysym) {
                return Key{static_cast<uint8_t>(minKeycode + index), column == 1};
            }
        }
    }
    return std::nullopt;
}

std::vector<uint8_t> XKeyboardMap::spareKeycodes() const {
    std::vector<uint8_t> spare;
    for (int index = 0; index < keycodeCount(); ++index) {
        auto first = keysyms.begin() + index * keysymsPerKeycode;
        if (std::all_of(first, first + keysymsPerKeycode, [](uint32_t k) { return k == kNoSymbol; })) {
            spare.push_back(static_cast<uint8_t>(minKeycode + index));
        }
    }
    return spare;
}

std::optional<XModifierMap> XModifierMap::fetch(xcb_connection_t* connection) {
    auto reply = xreply(xcb_get_modifier_mapping_reply(connection, xcb_get_modifier_mapping(connection), nullptr));
    if (!reply) return std::nullopt;
    XModifierMap map;
    map.keycodesPerModifier = reply->keycodes_per_modifier;
    const xcb_keycode_t* keycodes = xcb_get_modifier_mapping_keycodes(reply.get());
    map.keycodes.assign(keycodes, keycodes + xcb_get_modifier_mapping_keycodes_length(reply.get()));
    return map;
}

std::optional<uint8_t> XModifierMap::keyFor(uint32_t modifierFlag, const XKeyboardMap& keyboard) const {
    auto keysIn = [&](int row) {
        std::vector<uint8_t> keys;
        for (int i = 0; i < keycodesPerModifier; ++i) {
            if (uint8_t keycode = keycodes[row * keycodesPerModifier + i]) keys.push_back(keycode);
        }
        return keys;
    };
    auto plainKeysym = [&](uint8_t keycode) {
        if (keycode < keyboard.minKeycode || keycode - keyboard.minKeycode >= keyboard.keycodeCount()) return kNoSymbol;
        return keyboard.row(keycode)[0];
    };
    auto firstOf = [&](int row) -> std::optional<uint8_t> {
        auto keys = keysIn(row);
        if (keys.empty()) return std::nullopt;
        return keys.front();
    };
    auto namedAmongMods = [&](std::array<uint32_t, 2> wanted) -> std::optional<uint8_t> {
        for (int row = kFirstModRow; row < kRows; ++row) {
            for (uint8_t keycode : keysIn(row)) {
                uint32_t keysym = plainKeysym(keycode);
                if (keysym == wanted[0] || keysym == wanted[1]) return keycode;
            }
        }
        return std::nullopt;
    };
    switch (modifierFlag) {
        case kShiftModifier: return firstOf(kShiftRow);
        case kControlModifier: return firstOf(kControlRow);
        case kAlternateModifier: return namedAmongMods({kAltL, kAltR});
        case kCommandModifier: return namedAmongMods({kSuperL, kSuperR});
        default: return std::nullopt;
    }
}

uint32_t keysymForCharacter(char32_t character) {
    if (character == U'\n' || character == U'\r') return kReturn;
    if (character == U'\t') return kTab;
    if (character < 0x20 || (character >= 0x7f && character < 0xa0)) return kNoSymbol;
    if (character <= 0xff) return character;
    return 0x01000000 + character;
}

}  // namespace quintalis
