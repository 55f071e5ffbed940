#include "base/log_throttle.h"

#include "base/log.h"

namespace quintalis {

LogThrottle::LogThrottle(Clock& clock, Duration period, size_t burst, std::function<std::string(size_t)> summary)
    : clock_(clock),
      period_(period),
      burst_(burst),
      summary_(std::move(summary)),
      credit_(burst),
      refilled_(clock.now()) {}

bool LogThrottle::mayLog(MonotonicTime now) {
    // One line's credit back for each whole period, up to the burst.
    while (credit_ < burst_ && now - refilled_ >= period_) {
        ++credit_;
        refilled_ += period_;
    }
    if (credit_ == burst_) refilled_ = now;
    if (credit_ > 0 && leftOut_ > 0) {
        quintalis::log(summary_(leftOut_));
        leftOut_ = 0;
        --credit_;
    }
    if (credit_ == 0) return false;
    --credit_;
    return true;
}

void LogThrottle::log(const std::string& message) {
    std::lock_guard lock(mutex_);
    if (mayLog(clock_.now())) {
        quintalis::log(message);
    } else {
        ++leftOut_;
    }
}

void LogThrottle::look() {
    std::lock_guard lock(mutex_);
    if (leftOut_ > 0 && mayLog(clock_.now())) ++credit_;  // the count was all it had to log
}

}  // namespace quintalis
