#include "mirror/desktop_control.h"

#include <algorithm>
#include <cmath>

#include "base/characters.h"
#include "base/text.h"

namespace quintalis {

const std::map<std::string, uint32_t> kKeys{
    {"return", 0xff0d}, {"enter", 0xff0d}, {"tab", 0xff09}, {"space", 0x0020}, {"delete", 0xff08},
    {"escape", 0xff1b}, {"a", 0x0061},     {"f", 0x0066},   {"h", 0x0068},     {"1", 0x0031},
    {"2", 0x0032},      {"3", 0x0033},     {"left", 0xff51}, {"up", 0xff52},   {"right", 0xff53},
    {"down", 0xff54},
};

namespace {

const std::map<std::string, uint32_t> kModifierWords{
    {"cmd", kCommandModifier}, {"command", kCommandModifier}, {"shift", kShiftModifier},
    {"alt", kAlternateModifier}, {"option", kAlternateModifier}, {"ctrl", kControlModifier},
    {"control", kControlModifier},
};

SyntheticEvent pointer(SyntheticEvent::Type type, double x, double y) {
    SyntheticEvent event;
    event.type = type;
    event.x = x;
    event.y = y;
    return event;
}

// Sleeps so that steps start `interval` apart, counting the time posting
// took as part of the step. A step that ran late moves the schedule instead
// of making the next ones hurry.
class Pacer {
public:
    explicit Pacer(Clock& clock) : clock_(clock), next_(clock.now()) {}
    void wait(Duration interval) {
        next_ += interval;
        auto now = clock_.now();
        if (next_ > now) {
            clock_.sleep(next_ - now);
        } else {
            next_ = now;
        }
    }

private:
    Clock& clock_;
    MonotonicTime next_;
};

}  // namespace

std::optional<KeyChord> parseKeyChord(const std::string& keys) {
    std::optional<uint32_t> keysym;
    uint32_t modifiers = 0;
    const std::string lowered = asciiLowercase(keys);
    size_t start = 0;
    while (start <= lowered.size()) {
        size_t end = std::min(lowered.find('+', start), lowered.size());
        const std::string piece = lowered.substr(start, end - start);
        start = end + 1;
        if (piece.empty()) continue;
        if (auto modifier = kModifierWords.find(piece); modifier != kModifierWords.end()) {
            modifiers |= modifier->second;
        } else if (auto named = kKeys.find(piece); named != kKeys.end()) {
            keysym = named->second;
        }
    }
    if (!keysym) return std::nullopt;
    return KeyChord{*keysym, modifiers};
}

void DesktopControl::click(double x, double y, bool longPress) {
    bool pressed = false;
    try {
        input_.post(pointer(SyntheticEvent::Type::mouseMoved, x, y));
        clock_.sleep(std::chrono::milliseconds(30));
        input_.post(pointer(SyntheticEvent::Type::leftMouseDown, x, y));
        pressed = true;
        clock_.sleep(std::chrono::milliseconds(longPress ? 900 : 60));
        input_.post(pointer(SyntheticEvent::Type::leftMouseUp, x, y));
    } catch (const SyntheticInputError&) {
        afterFailure(pressed, x, y);
        throw;
    }
    input_.flush();
}

void DesktopControl::drag(double x0, double y0, double x1, double y1, double ms) {
    ms = ms > 0 ? std::min(ms, kLongestDragMs) : 0;  // NaN too
    const int steps = std::max(8, static_cast<int>(ms / 16));
    const auto interval = std::chrono::microseconds(static_cast<int64_t>(ms * 1000 / steps));
    double x = x0, y = y0;  // where the pointer is
    bool pressed = false;
    try {
        input_.post(pointer(SyntheticEvent::Type::leftMouseDown, x0, y0));
        pressed = true;
        Pacer pacer(clock_);
        for (int i = 1; i <= steps; ++i) {
            const double nextX = x0 + (x1 - x0) * i / steps, nextY = y0 + (y1 - y0) * i / steps;
            input_.post(pointer(SyntheticEvent::Type::leftMouseDragged, nextX, nextY));
            x = nextX;
            y = nextY;
            pacer.wait(interval);
        }
        input_.post(pointer(SyntheticEvent::Type::leftMouseUp, x1, y1));
    } catch (const SyntheticInputError&) {
        afterFailure(pressed, x, y);
        throw;
    }
    input_.flush();
}

void DesktopControl::typeText(const std::string& text) {
    Pacer pacer(clock_);
    try {
        for (const auto& character : userPerceivedCharacters(text)) {
            SyntheticEvent event;
            event.type = SyntheticEvent::Type::keyDown;
            event.text = character;
            input_.post(event);
            event.type = SyntheticEvent::Type::keyUp;
            input_.post(event);
            pacer.wait(std::chrono::milliseconds(12));
        }
    } catch (const SyntheticInputError&) {
        afterFailure(false, 0, 0);
        throw;
    }
    input_.flush();
}

bool DesktopControl::key(const std::string& keys) {
    auto chord = parseKeyChord(keys);
    if (!chord) return false;
    SyntheticEvent event;
    event.keysym = chord->keysym;
    event.modifiers = chord->modifiers;
    try {
        event.type = SyntheticEvent::Type::keyDown;
        input_.post(event);
        event.type = SyntheticEvent::Type::keyUp;
        input_.post(event);
    } catch (const SyntheticInputError&) {
        afterFailure(false, 0, 0);
        throw;
    }
    input_.flush();
    return true;
}

void DesktopControl::afterFailure(bool buttonDown, double x, double y) {
    // A button left pressed would turn the user's next mouse move into a
    // drag, and flushing gives back what typing borrowed; both may fail
    // again, and the first failure is the one to report.
    try {
        if (buttonDown) input_.post(pointer(SyntheticEvent::Type::leftMouseUp, x, y));
    } catch (const SyntheticInputError&) {
    }
    try {
        input_.flush();
    } catch (const SyntheticInputError&) {
    }
}

}  // namespace quintalis
