#pragma once

#include <chrono>
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

inline Duration seconds(double value) {
    return std::chrono::duration_cast<Duration>(std::chrono::duration<double>(value));
}

inline double toSeconds(Duration duration) {
    return std::chrono::duration<double>(duration).count();
}

}  // namespace quintalis
