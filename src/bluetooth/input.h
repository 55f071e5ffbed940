#pragma once

#include <functional>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/clock.h"
#include "base/serial_queue.h"
#include "base/user_error.h"
#include "bluetooth/keymap.h"
#include "bluetooth/report_sink.h"

namespace quintalis {

// Turns gestures into timed HID reports for one host (one iPhone). Screen
// positions are fractions: x from 0 (left) to 1 (right), y from 0 (top) to 1
// (bottom). Every gesture runs on this host's own serial queue and blocks
// its caller until its last pause is over, so one host's gestures never
// interleave while different hosts' run side by side. Do not call from this
// object's queue or from the transport's, except from a task given to
// submit(), which runs there.
class Input {
public:
    class InputError : public UserError {
    public:
        enum class Kind { untypeable, unknownKey };
        InputError(Kind kind, const std::string& message) : UserError(message), kind_(kind) {}
        Kind kind() const { return kind_; }

    private:
        Kind kind_;
    };

    // A gesture of a submitted task that was told to stop. Whatever it held
    // pressed has been released; `progress` says how far it got ("paused
    // after 25 of 150 characters"), empty when it had sent nothing.
    class Interrupted : public std::runtime_error {
    public:
        Interrupted(const std::string& reason, std::string progress)
            : std::runtime_error(reason), progress_(std::move(progress)) {}
        const std::string& progress() const { return progress_; }

    private:
        std::string progress_;
    };

    // Asked before a submitted task's gestures send anything and after each
    // of their steps; a reason stops them.
    using StopCheck = std::function<std::optional<std::string>()>;

    struct Point {
        double x = 0;
        double y = 0;
    };

    static constexpr double step = 0.03;
    // How long a tap, a click or a button press holds down unless told
    // otherwise: long enough for the phone to take it as a touch, far
    // short of a long press.
    static constexpr double pressHold = 0.08;
    // Where the pointer rests between gestures: the bottom-right corner,
    // which the display's rounded corner hides, so it covers no text, no
    // button and nothing a reader of the screen needs. (Top corners hold the
    // clock and the battery; the bottom middle, the home indicator.)
    static constexpr Point restingPlace{1.0, 1.0};

    Input(const UUID& host, ReportSink& hid, Clock& clock);

    const UUID& host() const { return host_; }

    // Runs `task` on this host's queue after the gestures queued before it,
    // without waiting for it; the task calls this object's gestures and must
    // not throw. Returns false, queuing nothing, when `maxWaiting` submitted
    // tasks have not started yet.
    bool submit(std::function<void()> task, size_t maxWaiting, StopCheck stop);
    // For the ordered stop, once nothing submits: waits for the gestures
    // queued and ends the queue's thread (a later gesture starts it again).
    void stop() { queue_.stop(); }

    void tap(double x, double y, double hold = pressHold);
    void swipe(Point from, Point to, double duration);
    void move(double x, double y);
    void nudge(int dx, int dy, bool click);
    // Throws untypeable, before anything is sent, when a US keyboard cannot type a character.
    void type(const std::string& text);
    void type(const std::vector<Keymap::Stroke>& strokes);
    // A key name ("enter") or one character, with modifier names ("cmd").
    // Throws unknownKey, before anything is sent, for a name it does not know.
    void key(const std::string& name, const std::vector<std::string>& modifiers);
    void key(const Keymap::Stroke& stroke);
    void consumer(uint16_t usage);

    // The strokes that type the text; throws untypeable.
    static std::vector<Keymap::Stroke> strokesFor(const std::string& text);
    // How long type() takes over these strokes, in seconds, by its own pauses.
    static double typingSeconds(const std::vector<Keymap::Stroke>& strokes);
    // The stroke of a key name or character with modifier names; throws unknownKey.
    static Keymap::Stroke strokeFor(const std::string& name, const std::vector<std::string>& modifiers);

private:
    void pointer(double x, double y);
    void press(uint8_t modifiers, uint8_t code);
    // Starts a gesture's timeline: pauses are kept against deadlines from
    // here, so the lateness of one sleep is not added to the next.
    void begin();
    // Waits until `seconds` after the previous step (a negative time counts
    // as none), asking the stop check along the way.
    void pause(double seconds);
    void checkStop();
    void releaseAll();
    void sendRelative(uint8_t buttons);
    void sendKeyboard(uint8_t modifiers, uint8_t code);
    void sendConsumer(uint16_t usage);

    const UUID host_;
    ReportSink& hid_;
    Clock& clock_;

    // Owned by queue_: what is held down, and the gesture under way.
    uint8_t buttons_ = 0;
    Point pointer_;
    bool keyboardDown_ = false;
    bool consumerDown_ = false;
    MonotonicTime due_{};
    bool sentAny_ = false;
    StopCheck stop_;
    std::function<std::string()> progress_;

    std::mutex waitingMutex_;
    size_t waiting_ = 0;  // submitted tasks not yet started
    SerialQueue queue_;
};

}  // namespace quintalis
