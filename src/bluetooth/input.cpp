#include "bluetooth/input.h"

#include <algorithm>
#include <cmath>

#include "base/characters.h"
#include "base/text.h"
#include "bluetooth/keymap.h"

namespace quintalis {
namespace {

constexpr double kSettle = 2 * Input::step;
constexpr double kFixedHold = 0.08;
// A bound on swipe steps, far above any real gesture, so an absurd duration
// cannot overflow the step count.
constexpr double kMaxSwipeSteps = 100000;

}  // namespace

Input::Input(const UUID& host, ReportSink& hid, Clock& clock)
    : host_(host), hid_(hid), clock_(clock), queue_("skiffline.input." + host.string()) {}

void Input::begin() { due_ = clock_.now(); }

void Input::pause(double seconds) {
    due_ += quintalis::seconds(seconds);
    clock_.sleep(due_ - clock_.now());
}

void Input::pointer(double x, double y) {
    hid_.send(ReportID::absolutePointer, absolutePointerReport(buttons_, pointerCoordinate(x), pointerCoordinate(y)),
              host_);
}

void Input::sendRelative(uint8_t buttons) { hid_.send(ReportID::relativeMouse, relativeMouseReport(buttons, 0, 0), host_); }

void Input::tap(double x, double y, double hold) {
    queue_.sync([&] {
        begin();
        pointer(x, y);
        pause(kSettle);  // let the phone's pointer arrive before pressing
        buttons_ = 1;
        sendRelative(1);
        pause(hold);
        buttons_ = 0;
        sendRelative(0);
        pause(step);
    });
}

void Input::swipe(Point from, Point to, double duration) {
    double ratio = duration / step;
    int steps = static_cast<int>(std::clamp(std::isnan(ratio) ? 0.0 : std::floor(ratio), 2.0, kMaxSwipeSteps));
    queue_.sync([&] {
        begin();
        pointer(from.x, from.y);
        pause(kSettle);
        buttons_ = 1;
        sendRelative(1);
        pause(step);
        for (int i = 1; i <= steps; ++i) {
            double t = static_cast<double>(i) / steps;
            pointer(from.x + (to.x - from.x) * t, from.y + (to.y - from.y) * t);
            pause(duration / steps);
        }
        buttons_ = 0;
        sendRelative(0);
        pause(step);
    });
}

void Input::move(double x, double y) {
    queue_.sync([&] {
        begin();
        pointer(x, y);
        pause(step);
    });
}

void Input::nudge(int dx, int dy, bool click) {
    queue_.sync([&] {
        begin();
        long long left = dx, down = dy;
        while (left != 0 || down != 0) {
            auto sx = static_cast<int8_t>(std::clamp(left, -127LL, 127LL));
            auto sy = static_cast<int8_t>(std::clamp(down, -127LL, 127LL));
            hid_.send(ReportID::relativeMouse, relativeMouseReport(0, sx, sy), host_);
            left -= sx;
            down -= sy;
            pause(step);
        }
        if (click) {
            sendRelative(1);
            pause(kFixedHold);
            sendRelative(0);
            pause(step);
        }
    });
}

void Input::press(uint8_t modifiers, uint8_t code) {
    if (modifiers != 0) {
        hid_.send(ReportID::keyboard, keyboardReport(modifiers, 0), host_);
        pause(step);
    }
    hid_.send(ReportID::keyboard, keyboardReport(modifiers, code), host_);
    pause(step);
    hid_.send(ReportID::keyboard, keyboardReport(modifiers, 0), host_);
    pause(step);
    if (modifiers != 0) {
        hid_.send(ReportID::keyboard, keyboardReport(0, 0), host_);
        pause(step);
    }
}

void Input::type(const std::string& text) {
    std::vector<Keymap::Stroke> strokes;
    for (const auto& character : userPerceivedCharacters(text)) {
        auto stroke = Keymap::stroke(character);
        if (!stroke) {
            throw InputError(InputError::Kind::untypeable,
                             "cannot type " + debugRepresentation(character) + " with a US keyboard");
        }
        strokes.push_back(*stroke);
    }
    if (strokes.empty()) return;
    queue_.sync([&] {
        begin();
        for (const auto& stroke : strokes) press(stroke.modifiers, stroke.code);
    });
}

void Input::key(const std::string& name, const std::vector<std::string>& modifierNames) {
    auto unknown = [](const std::string& what) {
        return InputError(InputError::Kind::unknownKey, "unknown key " + what);
    };
    uint8_t code = 0;
    if (auto found = Keymap::named().find(asciiLowercase(name)); found != Keymap::named().end()) {
        code = found->second;
    } else {
        auto characters = userPerceivedCharacters(name);
        std::optional<Keymap::Stroke> stroke;
        if (characters.size() == 1) stroke = Keymap::stroke(characters.front());
        if (!stroke) throw unknown(name);  // also an empty name
        code = stroke->code;  // the Shift a character implies is not pressed
    }
    uint8_t modifiers = 0;
    for (const auto& modifierName : modifierNames) {
        auto found = Keymap::modifiers().find(asciiLowercase(modifierName));
        if (found == Keymap::modifiers().end()) throw unknown(modifierName);
        modifiers |= found->second;
    }
    queue_.sync([&] {
        begin();
        press(modifiers, code);
    });
}

void Input::consumer(uint16_t usage) {
    queue_.sync([&] {
        begin();
        hid_.send(ReportID::consumer, consumerReport(usage), host_);
        pause(kFixedHold);
        hid_.send(ReportID::consumer, consumerReport(0), host_);
        pause(step);
    });
}

}  // namespace quintalis
