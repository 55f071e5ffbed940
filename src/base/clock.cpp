#include "base/clock.h"

#include <thread>

namespace quintalis {
namespace {

class SystemClock final : public Clock {
public:
    int64_t wallMillis() const override {
        using namespace std::chrono;
        return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    }
    MonotonicTime now() const override { return std::chrono::steady_clock::now(); }
    void sleep(Duration duration) override {
        if (duration > Duration::zero()) std::this_thread::sleep_for(duration);
    }
};

}  // namespace

Clock& Clock::real() {
    static Clock& clock = *new SystemClock();
    return clock;
}

}  // namespace quintalis
