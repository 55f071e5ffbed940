#include "mirror/airplay_warm_up.h"

#include "base/main_run_loop.h"

namespace quintalis {

AirPlayWarmUp::AirPlayWarmUp(AirPlayServer& server, Duration interval, std::function<bool()> wanted)
    : server_(server), interval_(interval), wanted_(std::move(wanted)) {}

AirPlayWarmUp::~AirPlayWarmUp() { alive_.end(); }

void AirPlayWarmUp::start() { scheduleNext(); }

void AirPlayWarmUp::scheduleNext() {
    MainRunLoop::shared().postAfter(interval_, [this, watch = alive_.watch()] {
        if (!watch.alive()) return;
        tick();
        scheduleNext();
    });
}

bool AirPlayWarmUp::tick() {
    if (wanted_ && !wanted_()) return false;
    if (running_.exchange(true)) return false;
    queue_.async([this] {
        server_.capture();
        running_ = false;
    });
    return true;
}

}  // namespace quintalis
