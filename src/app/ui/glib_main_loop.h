#pragma once

#include "base/main_run_loop.h"

namespace quintalis {

// Lets GLib's default main context (the GTK loop) drain the main run loop,
// so that work posted to the main thread runs there, between the toolkit's
// own events, exactly as it runs in the headless program. Call it once, on
// the thread that will run the GLib loop, before running it.
void drainFromGLib(MainRunLoop& loop);

}  // namespace quintalis
