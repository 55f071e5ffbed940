#include "base/retry_delay.h"

#include <algorithm>

namespace quintalis {
namespace {

constexpr Duration kFirst = std::chrono::seconds(1);
constexpr Duration kLongest = std::chrono::seconds(60);

}  // namespace

RetryDelay::Next RetryDelay::failed(const std::string& reason) {
    delay_ = failing_ ? std::min(delay_ * 2, kLongest) : kFirst;
    bool newReason = !failing_ || reason != reason_;
    failing_ = true;
    reason_ = reason;
    return Next{delay_, newReason};
}

void RetryDelay::succeeded() {
    failing_ = false;
    reason_.clear();
}

}  // namespace quintalis
