#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

#include "base/user_error.h"

namespace quintalis {

// Modifier keys held with a key event, as bits.
enum ModifierFlags : uint32_t {
    kCommandModifier = 1u << 0,  // the system key: Super on X11
    kShiftModifier = 1u << 1,
    kAlternateModifier = 1u << 2,
    kControlModifier = 1u << 3,
};

// One synthetic mouse or keyboard event for the desktop.
struct SyntheticEvent {
    enum class Type { mouseMoved, leftMouseDown, leftMouseUp, leftMouseDragged, keyDown, keyUp };
    Type type = Type::mouseMoved;
    // Pointer events: where, in global display points with the origin at the
    // top left (the space windows are listed in). Pressing and releasing
    // moves the pointer there first.
    double x = 0;
    double y = 0;
    // Key events: the key as an X keysym, with modifiers held around it...
    uint32_t keysym = 0;
    uint32_t modifiers = 0;
    // ...or, when not empty, the characters the key types instead (UTF-8):
    // any text, whether or not the keyboard has keys for it.
    std::string text;
};

// Thrown when an event cannot be delivered; the text says why.
class SyntheticInputError : public UserError {
public:
    using UserError::UserError;
};

// Posts mouse and keyboard events to the desktop as if the user made them.
// Calls block until the event was handed over; they may come from any
// thread, one at a time.
class SyntheticInput {
public:
    virtual ~SyntheticInput() = default;

    // Nothing when events can be posted; otherwise why not, in one sentence.
    virtual std::optional<std::string> unavailableReason() = 0;
    // Throws SyntheticInputError.
    virtual void post(const SyntheticEvent& event) = 0;
    // Waits until every event posted so far has reached the display, then
    // undoes whatever the backend changed to deliver them (a keyboard
    // mapping borrowed to type a character). Call it when a gesture ends.
    virtual void flush() = 0;
};

}  // namespace quintalis
