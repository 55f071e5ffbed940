#pragma once

#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/linux/x_connection.h"
#include "platform/linux/x_keyboard_map.h"
#include "platform/synthetic_input.h"

namespace quintalis {

// Synthetic input through the XTEST extension: the X server treats the
// events as the user's own, so they reach whichever window is under the
// pointer or has the focus. Keys come from the display's own keyboard
// mapping; a character it has no key for is typed on a spare keycode that
// is lent that character's keysym until flush() gives it back, so every
// client has read the new mapping before it changes again. The keyboard
// mapping is read again at the first key after each flush(). Safe from any
// thread; calls are serialised.
class XTestSyntheticInput final : public SyntheticInput {
public:
    explicit XTestSyntheticInput(XDisplayLink& display) : display_(display) {}

    std::optional<std::string> unavailableReason() override;
    void post(const SyntheticEvent& event) override;
    void flush() override;

private:
    struct Press {
        uint8_t keycode;
        bool withShift;
    };

    std::shared_ptr<XConnection> connection();
    void postPointer(XConnection& x, const SyntheticEvent& event);
    bool pointerIsAt(XConnection& x, int16_t px, int16_t py);
    void postKey(XConnection& x, const SyntheticEvent& event);
    std::vector<uint8_t> pressKeysFor(XConnection& x, uint32_t keysym, uint32_t modifiers);
    Press keyFor(XConnection& x, uint32_t keysym);
    uint8_t lendSpareKey(XConnection& x, uint32_t keysym);
    uint8_t modifierKey(uint32_t modifierFlag);
    void keyboardMaps(const std::shared_ptr<XConnection>& x);
    void changeRow(XConnection& x, uint8_t keycode, const std::vector<uint32_t>& row);
    void fakeKey(XConnection& x, bool press, uint8_t keycode);
    void giveBackSpareKeys(XConnection& x);

    XDisplayLink& display_;
    std::mutex mutex_;  // guards everything below
    std::shared_ptr<XConnection> mapsOf_;  // the connection the maps below were read on
    std::optional<XKeyboardMap> keyboard_;
    std::optional<XModifierMap> modifiers_;
    std::list<uint8_t> lent_;  // spare keycodes lent a keysym, least recently used first
    std::map<std::pair<uint32_t, std::string>, std::vector<uint8_t>> held_;  // pressed by a key down, in order
};

}  // namespace quintalis
