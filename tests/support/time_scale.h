#pragma once

#include <cstdlib>

namespace quintalis::testing {

// How much longer than usual the tests' real-time limits are: builds that
// run many times slower (ThreadSanitizer's) set QUINTALIS_TEST_TIME_SCALE,
// so a wait for other threads' work fails only when the work never ends.
inline double testTimeScale() {
    static const double scale = [] {
        const char* value = std::getenv("QUINTALIS_TEST_TIME_SCALE");
        double parsed = value ? std::atof(value) : 1;
        return parsed > 1 ? parsed : 1;
    }();
    return scale;
}

// A limit in milliseconds, stretched.
inline int scaledMillis(int millis) { return static_cast<int>(millis * testTimeScale()); }

}  // namespace quintalis::testing
