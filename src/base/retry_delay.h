#pragma once

#include <string>

#include "base/clock.h"

namespace quintalis {

// How long to wait before trying again after a failure (bluetoothd refusing,
// a phone that will not stream): 1 s, doubling up to a minute, so a lasting
// fault costs one try a minute instead of a busy loop. The log learns of a fault once per change of its
// reason, not once per try.
class RetryDelay {
public:
    struct Next {
        Duration delay;
        bool newReason;  // the first failure, or a reason unlike the last one
    };

    Next failed(const std::string& reason);
    // A success: the next failure starts again at one second.
    void succeeded();

private:
    Duration delay_{};
    std::string reason_;
    bool failing_ = false;
};

}  // namespace quintalis
