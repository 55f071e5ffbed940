#pragma once

#include <chrono>
#include <functional>
#include <thread>

#include "support/time_scale.h"

namespace quintalis::testing {

// For work that other threads finish in real time: polls the condition for
// up to `seconds` (stretched by the time scale) and returns its last value.
inline bool eventually(const std::function<bool()>& condition, double seconds = 5) {
    auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds * testTimeScale());
    while (std::chrono::steady_clock::now() < until) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return condition();
}

}  // namespace quintalis::testing
