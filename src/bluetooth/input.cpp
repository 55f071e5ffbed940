#include "bluetooth/input.h"

#include <algorithm>
#include <cmath>

#include "base/characters.h"
#include "base/queue_check.h"
#include "base/text.h"

namespace quintalis {
namespace {

constexpr double kSettle = 2 * Input::step;
// A bound on swipe steps, far above any real gesture, so an absurd duration
// cannot overflow the step count.
constexpr double kMaxSwipeSteps = 100000;
// The longest a submitted gesture sleeps without asking whether to stop, so
// a long hold ends soon after the owner pauses.
constexpr double kStopCheckInterval = 0.1;

std::string stepsDone(size_t done, size_t total, const char* what) {
    return "paused after " + std::to_string(done) + " of " + std::to_string(total) + " " + what;
}

}  // namespace

Input::Input(const UUID& host, ReportSink& hid, Clock& clock)
    : host_(host), hid_(hid), clock_(clock), queue_("quintalis.input." + host.string()) {}

bool Input::submit(std::function<void()> task, size_t maxWaiting, StopCheck stop) {
    {
        std::lock_guard lock(waitingMutex_);
        if (waiting_ >= maxWaiting) return false;
        ++waiting_;
    }
    queue_.async([this, task = std::move(task), stop = std::move(stop)] {
        {
            std::lock_guard lock(waitingMutex_);
            --waiting_;
        }
        stop_ = stop;
        task();
        stop_ = nullptr;
    });
    return true;
}

void Input::begin() {
    QUINTALIS_ON_QUEUE(queue_);
    due_ = clock_.now();
    sentAny_ = false;
    progress_ = nullptr;
}

void Input::pause(double seconds) {
    QUINTALIS_ON_QUEUE(queue_);
    due_ += quintalis::seconds(std::max(seconds, 0.0));
    if (!stop_) {
        clock_.sleep(due_ - clock_.now());
        return;
    }
    for (Duration left = due_ - clock_.now(); left > Duration::zero(); left = due_ - clock_.now()) {
        clock_.sleep(std::min(left, quintalis::seconds(kStopCheckInterval)));
        if (due_ > clock_.now()) checkStop();
    }
}

// Asked before each report, so a stop never leaves half a step sent.
void Input::checkStop() {
    QUINTALIS_ON_QUEUE(queue_);
    if (!stop_) return;
    auto reason = stop_();
    if (!reason) return;
    std::string progress = sentAny_ && progress_ ? progress_() : "";
    releaseAll();
    throw Interrupted(*reason, progress);
}

void Input::releaseAll() {
    QUINTALIS_ON_QUEUE(queue_);
    if (buttons_ != 0) {
        buttons_ = 0;
        hid_.send(ReportID::relativeMouse, relativeMouseReport(0, 0, 0), host_);
        hid_.send(ReportID::absolutePointer,
                  absolutePointerReport(0, pointerCoordinate(pointer_.x), pointerCoordinate(pointer_.y)), host_);
    }
    if (keyboardDown_) {
        keyboardDown_ = false;
        hid_.send(ReportID::keyboard, keyboardReport(0, 0), host_);
    }
    if (consumerDown_) {
        consumerDown_ = false;
        hid_.send(ReportID::consumer, consumerReport(0), host_);
    }
}

void Input::pointer(double x, double y) {
    checkStop();
    sentAny_ = true;
    pointer_ = {x, y};
    hid_.send(ReportID::absolutePointer, absolutePointerReport(buttons_, pointerCoordinate(x), pointerCoordinate(y)),
              host_);
}

void Input::sendRelative(uint8_t buttons) {
    checkStop();
    sentAny_ = true;
    buttons_ = buttons;
    hid_.send(ReportID::relativeMouse, relativeMouseReport(buttons, 0, 0), host_);
}

void Input::sendKeyboard(uint8_t modifiers, uint8_t code) {
    checkStop();
    sentAny_ = true;
    keyboardDown_ = modifiers != 0 || code != 0;
    hid_.send(ReportID::keyboard, keyboardReport(modifiers, code), host_);
}

void Input::sendConsumer(uint16_t usage) {
    checkStop();
    sentAny_ = true;
    consumerDown_ = usage != 0;
    hid_.send(ReportID::consumer, consumerReport(usage), host_);
}

void Input::tap(double x, double y, double hold) {
    queue_.sync([&] {
        begin();
        pointer(x, y);
        progress_ = [] { return std::string("paused during the tap"); };
        pause(kSettle);  // let the phone's pointer arrive before pressing
        sendRelative(1);
        pause(hold);
        sendRelative(0);
        pause(step);
    });
}

void Input::swipe(Point from, Point to, double duration) {
    double ratio = duration / step;
    int steps = static_cast<int>(std::clamp(std::isnan(ratio) ? 0.0 : std::floor(ratio), 2.0, kMaxSwipeSteps));
    queue_.sync([&] {
        begin();
        int done = 0;
        pointer(from.x, from.y);
        progress_ = [&] { return stepsDone(static_cast<size_t>(done), static_cast<size_t>(steps), "swipe steps"); };
        pause(kSettle);
        sendRelative(1);
        pause(step);
        for (int i = 1; i <= steps; ++i) {
            double t = static_cast<double>(i) / steps;
            pointer(from.x + (to.x - from.x) * t, from.y + (to.y - from.y) * t);
            done = i;
            pause(duration / steps);
        }
        sendRelative(0);
        // A host that merges the two pointer collections keeps the absolute
        // one's button down until that collection says otherwise.
        pointer(to.x, to.y);
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
        size_t total = static_cast<size_t>((std::max(std::llabs(left), std::llabs(down)) + 126) / 127);
        size_t done = 0;
        progress_ = [&] { return stepsDone(done, total, "nudge steps"); };
        while (left != 0 || down != 0) {
            auto sx = static_cast<int8_t>(std::clamp(left, -127LL, 127LL));
            auto sy = static_cast<int8_t>(std::clamp(down, -127LL, 127LL));
            checkStop();
            sentAny_ = true;
            hid_.send(ReportID::relativeMouse, relativeMouseReport(0, sx, sy), host_);
            ++done;
            left -= sx;
            down -= sy;
            pause(step);
        }
        if (click) {
            sendRelative(1);
            progress_ = [] { return std::string("paused during the click"); };
            pause(pressHold);
            sendRelative(0);
            pause(step);
        }
    });
}

void Input::press(uint8_t modifiers, uint8_t code) {
    if (modifiers != 0) {
        sendKeyboard(modifiers, 0);
        pause(step);
    }
    sendKeyboard(modifiers, code);
    pause(step);
    sendKeyboard(modifiers, 0);
    pause(step);
    if (modifiers != 0) {
        sendKeyboard(0, 0);
        pause(step);
    }
}

std::vector<Keymap::Stroke> Input::strokesFor(const std::string& text) {
    std::vector<Keymap::Stroke> strokes;
    for (const auto& character : userPerceivedCharacters(text)) {
        auto stroke = Keymap::stroke(character);
        if (!stroke) {
            throw InputError(InputError::Kind::untypeable,
                             "cannot type " + debugRepresentation(character) + " with a US keyboard");
        }
        strokes.push_back(*stroke);
    }
    return strokes;
}

void Input::type(const std::string& text) { type(strokesFor(text)); }

void Input::type(const std::vector<Keymap::Stroke>& strokes) {
    if (strokes.empty()) return;
    queue_.sync([&] {
        begin();
        // A character counts as typed once its key went down.
        size_t typed = 0;
        progress_ = [&] { return stepsDone(typed, strokes.size(), "characters"); };
        for (const auto& stroke : strokes) {
            if (stroke.modifiers != 0) {
                sendKeyboard(stroke.modifiers, 0);
                pause(step);
            }
            sendKeyboard(stroke.modifiers, stroke.code);
            ++typed;
            pause(step);
            sendKeyboard(stroke.modifiers, 0);
            pause(step);
            if (stroke.modifiers != 0) {
                sendKeyboard(0, 0);
                pause(step);
            }
        }
    });
}

double Input::typingSeconds(const std::vector<Keymap::Stroke>& strokes) {
    double seconds = 0;
    for (const auto& stroke : strokes) seconds += (stroke.modifiers != 0 ? 4 : 2) * step;
    return seconds;
}

Keymap::Stroke Input::strokeFor(const std::string& name, const std::vector<std::string>& modifierNames) {
    auto unknown = [](const std::string& what) {
        return InputError(InputError::Kind::unknownKey, "unknown key " + what);
    };
    Keymap::Stroke stroke;
    if (auto found = Keymap::named().find(asciiLowercase(name)); found != Keymap::named().end()) {
        stroke.code = found->second;
    } else {
        auto characters = userPerceivedCharacters(name);
        std::optional<Keymap::Stroke> typed;
        if (characters.size() == 1) typed = Keymap::stroke(characters.front());
        if (!typed) throw unknown(name);  // also an empty name
        stroke.code = typed->code;  // the Shift a character implies is not pressed
    }
    for (const auto& modifierName : modifierNames) {
        auto found = Keymap::modifiers().find(asciiLowercase(modifierName));
        if (found == Keymap::modifiers().end()) throw unknown(modifierName);
        stroke.modifiers |= found->second;
    }
    return stroke;
}

void Input::key(const std::string& name, const std::vector<std::string>& modifiers) { key(strokeFor(name, modifiers)); }

void Input::key(const Keymap::Stroke& stroke) {
    queue_.sync([&] {
        begin();
        progress_ = [] { return std::string("paused during the key press"); };
        press(stroke.modifiers, stroke.code);
    });
}

void Input::consumer(uint16_t usage) {
    queue_.sync([&] {
        begin();
        progress_ = [] { return std::string("paused during the button press"); };
        sendConsumer(usage);
        pause(pressHold);
        sendConsumer(0);
        pause(step);
    });
}

}  // namespace quintalis
