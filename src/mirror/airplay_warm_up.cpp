#include "mirror/airplay_warm_up.h"

namespace quintalis {

AirPlayWarmUp::AirPlayWarmUp(AirPlayServer& server, MainThread& mainThread, Duration interval,
                             std::function<bool()> wanted)
    : server_(server), mainThread_(mainThread), interval_(interval), wanted_(std::move(wanted)) {}

AirPlayWarmUp::~AirPlayWarmUp() { alive_.end(); }

void AirPlayWarmUp::start() { scheduleNext(); }

void AirPlayWarmUp::scheduleNext() {
    mainThread_.postAfter(interval_, [this, watch = alive_.watch()] {
        if (!watch.alive()) return;
        tick();
        scheduleNext();
    });
}

void AirPlayWarmUp::tick() {
    if (wanted_ && !wanted_()) return;
    if (running_.exchange(true)) return;
    queue_.async([this] {
        server_.capture();
        running_ = false;
    });
}

}  // namespace quintalis
