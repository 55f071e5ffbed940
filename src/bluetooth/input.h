#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "base/clock.h"
#include "base/serial_queue.h"
#include "bluetooth/report_sink.h"

namespace quintalis {

// Turns gestures into timed HID reports for one host (one iPhone). Screen
// positions are fractions: x from 0 (left) to 1 (right), y from 0 (top) to 1
// (bottom). Every gesture runs on this host's own serial queue and blocks
// its caller until its last pause is over, so one host's gestures never
// interleave while different hosts' run side by side. Do not call from this
// object's queue or from the transport's.
class Input {
public:
    class InputError : public std::runtime_error {
    public:
        enum class Kind { untypeable, unknownKey };
        InputError(Kind kind, const std::string& message) : std::runtime_error(message), kind_(kind) {}
        Kind kind() const { return kind_; }

    private:
        Kind kind_;
    };

    struct Point {
        double x = 0;
        double y = 0;
    };

    static constexpr double step = 0.03;

    Input(const UUID& host, ReportSink& hid, Clock& clock);

    const UUID& host() const { return host_; }

    void tap(double x, double y, double hold = 0.08);
    void swipe(Point from, Point to, double duration);
    void move(double x, double y);
    void nudge(int dx, int dy, bool click);
    // Throws untypeable, before anything is sent, when a US keyboard cannot type a character.
    void type(const std::string& text);
    // A key name ("enter") or one character, with modifier names ("cmd").
    // Throws unknownKey, before anything is sent, for a name it does not know.
    void key(const std::string& name, const std::vector<std::string>& modifiers);
    void consumer(uint16_t usage);

private:
    void pointer(double x, double y);
    void press(uint8_t modifiers, uint8_t code);
    // Starts a gesture's timeline: pauses are kept against deadlines from
    // here, so the lateness of one sleep is not added to the next.
    void begin();
    void pause(double seconds);
    void sendRelative(uint8_t buttons);

    const UUID host_;
    ReportSink& hid_;
    Clock& clock_;
    uint8_t buttons_ = 0;  // owned by queue_
    MonotonicTime due_{};  // owned by queue_
    SerialQueue queue_;
};

}  // namespace quintalis
