#pragma once

#include <mutex>
#include <vector>

#include "base/clock.h"

namespace quintalis::testing {

// A clock whose sleeps return at once and advance its time by exactly the
// requested amount, recording each one. Thread-safe.
class FakeClock final : public Clock {
public:
    int64_t wallMillis() const override {
        std::lock_guard lock(mutex_);
        return startWallMillis_ + std::chrono::duration_cast<std::chrono::milliseconds>(elapsed_).count();
    }
    MonotonicTime now() const override {
        std::lock_guard lock(mutex_);
        return MonotonicTime() + elapsed_;
    }
    void sleep(Duration duration) override {
        std::lock_guard lock(mutex_);
        sleeps_.push_back(duration);
        if (duration > Duration::zero()) elapsed_ += duration;
    }
    void advance(Duration duration) {
        std::lock_guard lock(mutex_);
        elapsed_ += duration;
    }
    Duration elapsed() const {
        std::lock_guard lock(mutex_);
        return elapsed_;
    }
    std::vector<Duration> sleeps() const {
        std::lock_guard lock(mutex_);
        return sleeps_;
    }

private:
    mutable std::mutex mutex_;
    int64_t startWallMillis_ = 1'767'225'600'000;  // 2026-01-01T00:00:00Z
    Duration elapsed_{};
    std::vector<Duration> sleeps_;
};

}  // namespace quintalis::testing
