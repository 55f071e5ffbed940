#pragma once

#include <map>
#include <optional>
#include <string>

#include "base/clock.h"
#include "platform/synthetic_input.h"

namespace quintalis {

// The named keys `key` accepts, as X keysyms. "delete" is the key that
// deletes backwards (BackSpace), as on a Mac keyboard.
extern const std::map<std::string, uint32_t> kKeys;

// A key with the modifiers held around it.
struct KeyChord {
    uint32_t keysym = 0;
    uint32_t modifiers = 0;  // ModifierFlags
    bool operator==(const KeyChord&) const = default;
};

// "cmd+shift+a" and the like, in any letter case: modifier words ("cmd" or
// "command", "shift", "alt" or "option", "ctrl" or "control") and one name
// from kKeys (the last one when there are several). Nothing without a key.
std::optional<KeyChord> parseKeyChord(const std::string& keys);

// The longest drag: its steps are counted in whole numbers.
inline constexpr double kLongestDragMs = 60'000;

// Mouse and keyboard gestures made of synthetic events, at the pace a person
// would make them. Coordinates are global display points, top-left origin.
// Each call blocks its caller until the gesture is over and has reached the
// display; one gesture at a time. Calls throw SyntheticInputError when the
// events cannot be delivered, after releasing what they pressed.
class DesktopControl {
public:
    DesktopControl(SyntheticInput& input, Clock& clock) : input_(input), clock_(clock) {}

    // Moves there, then holds the left button 60 ms (900 ms when `long`).
    void click(double x, double y, bool longPress);
    // Presses at the start, moves in max(8, ms / 16) even steps spread over
    // `ms` milliseconds (0 to kLongestDragMs; beyond counts as the nearest
    // end), and releases at the end.
    void drag(double x0, double y0, double x1, double y1, double ms);
    // Types each user-perceived character as text, 12 ms apart, whatever the
    // keyboard has keys for.
    void typeText(const std::string& text);
    // Presses and releases the key of parseKeyChord(keys) with its modifiers;
    // false, with nothing pressed, when keys names no key.
    bool key(const std::string& keys);

private:
    void afterFailure(bool buttonDown, double x, double y);

    SyntheticInput& input_;
    Clock& clock_;
};

}  // namespace quintalis
