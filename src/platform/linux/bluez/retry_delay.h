#pragma once

#include <string>

#include "base/clock.h"

namespace quintalis::bluez {

// How long to wait before asking bluetoothd again after a refusal: 1 s,
// doubling up to a minute, so a lasting fault costs one call a minute
// instead of a busy loop. The log learns of a fault once per change of its
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

}  // namespace quintalis::bluez
