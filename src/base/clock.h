#pragma once

#include <chrono>
#include <cmath>
#include <cstdint>

namespace quintalis {

using Duration = std::chrono::nanoseconds;
using MonotonicTime = std::chrono::steady_clock::time_point;

// Every timed behaviour asks a Clock instead of the system, so tests can
// replace it with one that advances instantly. The real clock may be used
// from any thread.
class Clock {
public:
    virtual ~Clock() = default;

    // Wall time in milliseconds since 1970, as exchanged with clients.
    virtual int64_t wallMillis() const = 0;
    virtual MonotonicTime now() const = 0;
    virtual void sleep(Duration duration) = 0;

    static Clock& real();
};

// Saturates: any number, however large, or NaN (none), gives a duration
// that later time arithmetic cannot overflow (about 146 years at most).
inline Duration seconds(double value) {
    constexpr double kLimit = 4.6e9;  // seconds; 2^62 nanoseconds
    if (std::isnan(value)) return Duration::zero();
    value = value < -kLimit ? -kLimit : value > kLimit ? kLimit : value;
    return std::chrono::duration_cast<Duration>(std::chrono::duration<double>(value));
}

inline double toSeconds(Duration duration) {
    return std::chrono::duration<double>(duration).count();
}

}  // namespace quintalis
