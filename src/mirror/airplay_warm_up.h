#pragma once

#include <atomic>
#include <functional>

#include "base/clock.h"
#include "base/concurrent_queue.h"
#include "base/liveness.h"
#include "base/main_thread.h"
#include "mirror/airplay_server.h"

namespace quintalis {

// Keeps a capture service's window capture open ahead of requests, so that
// a frame request rarely waits for a capture to start. Every `interval` on
// the main thread it asks `wanted` (empty: always); when that holds, it
// opens or reuses the capture on a thread of its own. A tick that finds the
// last warm-up still running does nothing, so a window server that answers
// slowly never piles them up. Ticks run on the main thread.
class AirPlayWarmUp {
public:
    AirPlayWarmUp(AirPlayServer& server, MainThread& mainThread, Duration interval, std::function<bool()> wanted = {});
    ~AirPlayWarmUp();
    AirPlayWarmUp(const AirPlayWarmUp&) = delete;
    AirPlayWarmUp& operator=(const AirPlayWarmUp&) = delete;

    // Schedules the ticks on the main thread.
    void start();

private:
    void scheduleNext();
    void tick();

    AirPlayServer& server_;
    MainThread& mainThread_;
    const Duration interval_;
    const std::function<bool()> wanted_;
    std::atomic<bool> running_{false};
    Liveness alive_;
    ConcurrentQueue queue_{"quintalis.airplay-warm-up", 1};  // last: drained first on destruction
};

}  // namespace quintalis
