#pragma once

#include <optional>

namespace quintalis {

// The computer's AirPlay receiver, which shows a mirrored iPhone in a window.
class AirPlayReceiver {
public:
    virtual ~AirPlayReceiver() = default;

    // True when it is running, false when it is not, nothing when that
    // cannot be told (something else holds the receiver's port). May block
    // for a moment; call it off the main thread.
    virtual std::optional<bool> isOn() = 0;
};

}  // namespace quintalis
