#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/cancellation.h"
#include "base/json.h"
#include "base/user_error.h"
#include "screen/settle_wait.h"
#include "imaging/image_ops.h"

namespace quintalis::mcp {

// A failure to reach or drive a phone, in a sentence a model can act on.
class PhoneError : public UserError {
public:
    using UserError::UserError;
};

// A phone that has sent no picture yet: locked, or still connecting.
class NoFrameYet : public PhoneError {
public:
    using PhoneError::PhoneError;
};

// One phone as the tools see it.
struct Phone {
    enum class Seen { usb, airplay };

    std::string id;  // the engine's device id, or kAirPlayID
    std::string name;
    Seen seen = Seen::usb;
    bool bluetooth = false;             // reached: an action can get to it
    std::optional<std::string> host;    // the Bluetooth host an AirPlay phone's actions go to
    std::optional<ImageSize> screen;    // once a picture came

    static constexpr const char* kAirPlayID = "airplay";
};

struct PhoneList {
    std::vector<Phone> phones;
    bool paused = false;
    // Why a way of seeing a phone is not working, when it says so.
    std::vector<std::string> problems;
};

// A picture of the screen as JPEG, with the sizes it was made from.
struct Picture {
    std::string jpeg;
    ImageSize screen;  // the screen (over AirPlay: the phone's part of the window) in pixels
    ImageSize image;   // the JPEG
};

// The way to the phones: the engine API for phones on USB and for every
// action, the AirPlay capture service for a phone seen over AirPlay. Calls
// may come from several threads at once; each may block for a round trip,
// which a cancel of `stop` ends at once with Cancelled.
class PhoneAccess {
public:
    virtual ~PhoneAccess() = default;

    // Throws PhoneError when neither service answers.
    virtual PhoneList phones(const Cancellation& stop) = 0;
    // A picture whose long edge is at most maxEdge; without one, the screen
    // at its full resolution. Throws PhoneError (NoFrameYet before the first).
    virtual Picture look(const Phone& phone, std::optional<int> maxEdge, const Cancellation& stop) = 0;
    // POSTs an action ("/tap", "/swipe", ...) with coordinates as fractions
    // of the screen; the phone's routing fields are added. Returns once the
    // gesture is over. Throws PhoneError.
    virtual void act(const Phone& phone, const std::string& path, JSON body, const Cancellation& stop) = 0;
    // Waits as a /wait route does and returns its reply. Throws PhoneError.
    virtual JSON waitToSettle(const Phone& phone, const SettleRule& rule, const Cancellation& stop) = 0;
    // Whether the tools should wait for a first frame and a first connection:
    // the engine is starting.
    virtual bool starting() const = 0;
};

}  // namespace quintalis::mcp
