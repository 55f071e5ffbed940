#include "platform/linux/xtest_input.h"

#include <xcb/xtest.h>

#include <algorithm>
#include <cmath>

#include "base/characters.h"

namespace quintalis {
namespace {

const char* const kNoXTest = "the X server has no XTEST extension";
constexpr uint8_t kLeftButton = 1;

int16_t displayCoordinate(double value) {
    if (!std::isfinite(value)) return 0;
    return static_cast<int16_t>(std::lround(std::clamp(value, -32768.0, 32767.0)));
}

}  // namespace

std::optional<std::string> XTestSyntheticInput::unavailableReason() {
    std::string error;
    auto x = display_.connection(&error);
    if (!x) return error;
    const auto* extension = xcb_get_extension_data(x->get(), &xcb_test_id);
    if (!extension || !extension->present) return kNoXTest;
    return std::nullopt;
}

std::shared_ptr<XConnection> XTestSyntheticInput::connection() {
    std::string error;
    auto x = display_.connection(&error);
    if (!x) throw SyntheticInputError(error);
    const auto* extension = xcb_get_extension_data(x->get(), &xcb_test_id);
    if (!extension || !extension->present) throw SyntheticInputError(kNoXTest);
    return x;
}

void XTestSyntheticInput::post(const SyntheticEvent& event) {
    std::lock_guard lock(mutex_);
    auto x = connection();
    if (event.type == SyntheticEvent::Type::keyDown || event.type == SyntheticEvent::Type::keyUp) {
        keyboardMaps(x);
        postKey(*x, event);
    } else {
        postPointer(*x, event);
    }
    xcb_flush(x->get());
    if (x->broken()) throw SyntheticInputError("the X display closed");
}

void XTestSyntheticInput::postPointer(XConnection& x, const SyntheticEvent& event) {
    const int16_t px = displayCoordinate(event.x), py = displayCoordinate(event.y);
    const bool moves = event.type == SyntheticEvent::Type::mouseMoved ||
                       event.type == SyntheticEvent::Type::leftMouseDragged;
    // The server reports a move even to where the pointer already is, which
    // a button event would turn into a stray drag step of its own.
    if (moves || !pointerIsAt(x, px, py)) {
        xcb_test_fake_input(x.get(), XCB_MOTION_NOTIFY, 0 /* absolute */, XCB_CURRENT_TIME, x.root(), px, py, 0);
    }
    if (event.type == SyntheticEvent::Type::leftMouseDown) {
        xcb_test_fake_input(x.get(), XCB_BUTTON_PRESS, kLeftButton, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    } else if (event.type == SyntheticEvent::Type::leftMouseUp) {
        xcb_test_fake_input(x.get(), XCB_BUTTON_RELEASE, kLeftButton, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    }
}

bool XTestSyntheticInput::pointerIsAt(XConnection& x, int16_t px, int16_t py) {
    auto pointer = xreply(xcb_query_pointer_reply(x.get(), xcb_query_pointer(x.get(), x.root()), nullptr));
    return pointer && pointer->same_screen && pointer->root_x == px && pointer->root_y == py;
}

void XTestSyntheticInput::postKey(XConnection& x, const SyntheticEvent& event) {
    const std::pair<uint32_t, std::string> identity{event.text.empty() ? event.keysym : 0, event.text};
    if (event.type == SyntheticEvent::Type::keyUp) {
        auto held = held_.find(identity);
        if (held == held_.end()) return;
        for (auto key = held->second.rbegin(); key != held->second.rend(); ++key) fakeKey(x, false, *key);
        held_.erase(held);
        return;
    }
    std::vector<uint32_t> keysyms;
    if (event.text.empty()) {
        keysyms.push_back(event.keysym);
    } else {
        char32_t previous = 0;
        for (char32_t character : codePoints(event.text)) {
            // A CR LF pair is one line break.
            bool secondHalf = previous == U'\r' && character == U'\n';
            previous = character;
            if (secondHalf) continue;
            if (uint32_t keysym = keysymForCharacter(character)) keysyms.push_back(keysym);
        }
    }
    if (keysyms.empty()) return;
    // Characters of one cluster before the last are typed in full; the last
    // key is held until its key up, as a single key would be.
    for (size_t i = 0; i + 1 < keysyms.size(); ++i) {
        auto keys = pressKeysFor(x, keysyms[i], 0);
        for (auto key = keys.rbegin(); key != keys.rend(); ++key) fakeKey(x, false, *key);
    }
    held_[identity] = pressKeysFor(x, keysyms.back(), event.text.empty() ? event.modifiers : 0);
}

// Presses the modifiers, then the key, and returns the keycodes pressed in order.
std::vector<uint8_t> XTestSyntheticInput::pressKeysFor(XConnection& x, uint32_t keysym, uint32_t modifiers) {
    Press press = keyFor(x, keysym);
    if (press.withShift) modifiers |= kShiftModifier;
    std::vector<uint8_t> keys;
    for (uint32_t flag : {kControlModifier, kAlternateModifier, kShiftModifier, kCommandModifier}) {
        if (modifiers & flag) keys.push_back(modifierKey(flag));
    }
    keys.push_back(press.keycode);
    for (uint8_t key : keys) fakeKey(x, true, key);
    return keys;
}

XTestSyntheticInput::Press XTestSyntheticInput::keyFor(XConnection& x, uint32_t keysym) {
    if (auto key = keyboard_->find(keysym)) {
        if (auto lent = std::find(lent_.begin(), lent_.end(), key->keycode); lent != lent_.end()) {
            lent_.splice(lent_.end(), lent_, lent);
        }
        return {key->keycode, key->shift};
    }
    return {lendSpareKey(x, keysym), false};
}

uint8_t XTestSyntheticInput::lendSpareKey(XConnection& x, uint32_t keysym) {
    std::optional<uint8_t> keycode;
    if (auto spare = keyboard_->spareKeycodes(); !spare.empty()) {
        keycode = spare.front();
        lent_.push_back(*keycode);
    } else {
        // Every spare key is lent already: take back the one used longest ago
        // that is not held down.
        for (auto lent = lent_.begin(); lent != lent_.end() && !keycode; ++lent) {
            bool held = std::any_of(held_.begin(), held_.end(), [&](const auto& entry) {
                return std::find(entry.second.begin(), entry.second.end(), *lent) != entry.second.end();
            });
            if (held) continue;
            keycode = *lent;
            lent_.splice(lent_.end(), lent_, lent);
        }
    }
    if (!keycode) throw SyntheticInputError("the keyboard has no spare key to type more characters with");
    std::vector<uint32_t> row(static_cast<size_t>(keyboard_->keysymsPerKeycode), 0);
    row[0] = keysym;
    if (row.size() > 1) row[1] = keysym;  // the same with Shift, should the user hold it
    changeRow(x, *keycode, row);
    return *keycode;
}

uint8_t XTestSyntheticInput::modifierKey(uint32_t modifierFlag) {
    if (auto key = modifiers_->keyFor(modifierFlag, *keyboard_)) return *key;
    const char* name = modifierFlag == kCommandModifier   ? "Super"
                       : modifierFlag == kAlternateModifier ? "Alt"
                       : modifierFlag == kShiftModifier     ? "Shift"
                                                            : "Control";
    throw SyntheticInputError(std::string("the keyboard has no ") + name + " key");
}

void XTestSyntheticInput::keyboardMaps(const std::shared_ptr<XConnection>& x) {
    if (mapsOf_ == x && keyboard_) return;
    // A new connection means a new server: nothing lent on the old one is ours to give back.
    lent_.clear();
    held_.clear();
    keyboard_ = XKeyboardMap::fetch(x->get());
    modifiers_ = XModifierMap::fetch(x->get());
    if (!keyboard_ || !modifiers_ || keyboard_->keysymsPerKeycode == 0) {
        keyboard_.reset();
        throw SyntheticInputError("the X server did not say how its keyboard is mapped");
    }
    mapsOf_ = x;
}

void XTestSyntheticInput::changeRow(XConnection& x, uint8_t keycode, const std::vector<uint32_t>& row) {
    // Checked, so the server has applied the new mapping, and told every
    // client about it, before the key that needs it is pressed.
    auto error = xreply(xcb_request_check(
        x.get(), xcb_change_keyboard_mapping_checked(x.get(), 1, keycode, static_cast<uint8_t>(row.size()), row.data())));
    if (error) throw SyntheticInputError("the X server refused to change the keyboard mapping");
    keyboard_->setRow(keycode, row);
}

void XTestSyntheticInput::fakeKey(XConnection& x, bool press, uint8_t keycode) {
    xcb_test_fake_input(x.get(), press ? XCB_KEY_PRESS : XCB_KEY_RELEASE, keycode, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
}

void XTestSyntheticInput::giveBackSpareKeys(XConnection& x) {
    std::vector<uint32_t> empty(static_cast<size_t>(keyboard_->keysymsPerKeycode), 0);
    for (uint8_t keycode : lent_) changeRow(x, keycode, empty);
    lent_.clear();
}

void XTestSyntheticInput::flush() {
    std::lock_guard lock(mutex_);
    auto x = mapsOf_;
    mapsOf_.reset();
    if (!x) x = display_.connection();
    if (!x) return;  // nothing was posted
    if (keyboard_ && !x->broken()) {
        for (const auto& [identity, keys] : held_) {
            for (auto key = keys.rbegin(); key != keys.rend(); ++key) fakeKey(*x, false, *key);
        }
        held_.clear();
        giveBackSpareKeys(*x);
    }
    keyboard_.reset();
    modifiers_.reset();
    std::free(xcb_get_input_focus_reply(x->get(), xcb_get_input_focus(x->get()), nullptr));
    if (x->broken()) throw SyntheticInputError("the X display closed");
}

}  // namespace quintalis
