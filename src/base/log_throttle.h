#pragma once

#include <cstddef>
#include <functional>
#include <mutex>
#include <string>

#include "base/clock.h"

namespace quintalis {

// Keeps lines of one kind that a client can cause at will (a refused
// request, say) from flooding the log: the first `burst` are logged as they
// come, then one per `period`; those in between are only counted, and the
// count is logged as one line as soon as a line may be logged again, at the
// next line of the kind or the next look. Any thread.
class LogThrottle {
public:
    // `summary` words the count of lines left out.
    LogThrottle(Clock& clock, Duration period, size_t burst, std::function<std::string(size_t leftOut)> summary);

    void log(const std::string& message);
    // Logs the count of lines left out once a line may be logged again.
    void look();

private:
    // Under the lock: whether one more line may be logged now, which it then
    // takes; a pending count goes first, and may take the line itself.
    bool mayLog(MonotonicTime now);

    Clock& clock_;
    const Duration period_;
    const size_t burst_;
    const std::function<std::string(size_t)> summary_;
    std::mutex mutex_;
    size_t credit_;
    MonotonicTime refilled_;
    size_t leftOut_ = 0;
};

}  // namespace quintalis
